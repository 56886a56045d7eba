// The hook library where there is no X server to ask.
#include <cstdlib>

#include "tests/hook/hook-test-support.h"

TEST(HookLibrary, SetVorlixHookFailsCleanlyWithoutADisplay)
{
	HookLibrary hook;
	for (const char *display : {static_cast<const char *>(nullptr), ":4711", ""}) {
		if (display)
			setenv("DISPLAY", display, 1);
		else
			unsetenv("DISPLAY");
		EXPECT_EQ(hook.set(), 0) << (display ? display : "(unset)");
		EXPECT_LE(hook.last_active(), 0);
		EXPECT_EQ(hook.unset(), 0);
	}
}
