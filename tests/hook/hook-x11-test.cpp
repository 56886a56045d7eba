// The hook library on a real X server (Xvfb through scripts/with-xsession);
// the input is a real key press sent by xdotool through XTEST.
#include <chrono>
#include <thread>

#include "tests/hook/hook-test-support.h"

using testing_support::Shell;

TEST(HookLibrary, LastInputTimeMovesForwardAfterAKeyPress)
{
	HookLibrary hook;
	ASSERT_NE(hook.set(), 0);
	EXPECT_NE(hook.set(), 0); // a second call keeps the hook
	const int64_t before = hook.last_active();
	std::this_thread::sleep_for(std::chrono::milliseconds(300));

	const int64_t tick_before_press = static_cast<int64_t>(platform::TickCount64());
	ASSERT_EQ(Shell("xdotool key shift && echo ok"), "ok\n");
	const int64_t after = hook.last_active();
	const int64_t tick_after_query = static_cast<int64_t>(platform::TickCount64());

	EXPECT_GT(after, before + 250);
	// On the program's tick counter: between the press and the question.
	// The server keeps its time on the coarse monotonic clock, a few
	// milliseconds behind the fine one.
	EXPECT_GE(after, tick_before_press - 50);
	EXPECT_LE(after, tick_after_query);

	EXPECT_NE(hook.unset(), 0);
	EXPECT_EQ(hook.unset(), 0); // nothing left to remove
	EXPECT_LE(hook.last_active(), 0);
}
