// The hook library on a server that sends no XInput2 events (Xvfb without
// the Generic Event extension that carries them): the screen saver's idle
// time stands in, and one log line says so.
#include <chrono>
#include <thread>

#include "tests/hook/hook-test-support.h"
#include "tests/support/log-capture.h"

TEST(HookLibraryWithoutXInput2, FallsBackToTheScreenSaversIdleTimeAndSaysSo)
{
	testing_support::LogCapture log;
	HookLibrary hook;
	ASSERT_NE(hook.set(), 0);
	EXPECT_EQ(log.Texts(LOG_WARNING, "SetVorlixHook: no XInput2 raw events").size(), 1u);
	const int64_t before = hook.last_active();
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	ASSERT_EQ(testing_support::Shell("xdotool key shift && echo ok"), "ok\n");
	EXPECT_GT(hook.last_active(), before + 250);
	EXPECT_NE(hook.unset(), 0);
}
