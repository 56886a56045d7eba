// The hook library on an X server without the MIT-SCREEN-SAVER extension,
// as XWayland is (Xvfb started with "-extension MIT-SCREEN-SAVER").
#include "tests/hook/hook-test-support.h"

TEST(HookLibraryWithoutScreenSaver, SetVorlixHookFailsCleanly)
{
	ASSERT_EQ(testing_support::Shell("xdpyinfo -queryExtensions").find("MIT-SCREEN-SAVER"),
		  std::string::npos)
		<< "the server has the extension";
	HookLibrary hook;
	EXPECT_EQ(hook.set(), 0);
	EXPECT_LE(hook.last_active(), 0);
	EXPECT_EQ(hook.unset(), 0);
}
