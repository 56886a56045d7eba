// The hook library on an X server with neither the MIT-SCREEN-SAVER
// extension nor XInput2's events (Xvfb started without it and without the
// Generic Event extension that carries them): nothing tells of input.
#include "tests/hook/hook-test-support.h"

TEST(HookLibraryWithoutInputExtensions, SetVorlixHookFailsCleanly)
{
	ASSERT_EQ(testing_support::Shell("xdpyinfo -queryExtensions").find("MIT-SCREEN-SAVER"),
		  std::string::npos)
		<< "the server has the extension";
	HookLibrary hook;
	EXPECT_EQ(hook.set(), 0);
	EXPECT_LE(hook.last_active(), 0);
	EXPECT_EQ(hook.unset(), 0);
}
