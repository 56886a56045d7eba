// The hook library on a real X server (Xvfb through scripts/with-xsession);
// the input is a real key press sent by xdotool through XTEST.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

#include "tests/hook/hook-test-support.h"

using testing_support::Shell;

// The last input after `command`, once it has arrived (the hook's thread
// reads it a moment after the server sent it); `before` if it never moves.
int64_t LastInputAfter(HookLibrary &hook, const std::string &command, int64_t before)
{
	EXPECT_EQ(Shell(command + " && echo ok"), "ok\n") << command;
	for (int i = 0; i < 100 && hook.last_active() == before; ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	return hook.last_active();
}

// What a person does moves the last input; what programs do to the screen
// saver and the pointer does not (mpv resets the saver every 10 s while it
// plays; an absolute mousemove is a warp).
TEST(HookLibrary, LastInputMovesForKeysClicksAndMotionOnly)
{
	HookLibrary hook;
	ASSERT_NE(hook.set(), 0);
	EXPECT_NE(hook.set(), 0); // a second call keeps the hook
	for (const char *input : {"xdotool key shift", "xdotool click 1",
				  "xdotool mousemove_relative 5 5"}) {
		const int64_t before = hook.last_active();
		std::this_thread::sleep_for(std::chrono::milliseconds(300));
		const int64_t tick_before = static_cast<int64_t>(platform::TickCount64());
		const int64_t after = LastInputAfter(hook, input, before);
		// On the program's tick counter, stamped as it arrived.
		EXPECT_GE(after, tick_before) << input;
		EXPECT_LE(after, static_cast<int64_t>(platform::TickCount64())) << input;
	}
	const int64_t settled = hook.last_active();
	for (const char *nobody : {"xset s reset", "xdotool mousemove 200 300",
				   "xdotool mousemove 20 30"})
		EXPECT_EQ(LastInputAfter(hook, nobody, settled), settled) << nobody;

	EXPECT_NE(hook.unset(), 0);
	EXPECT_EQ(hook.unset(), 0); // nothing left to remove
	EXPECT_LE(hook.last_active(), 0);
}

// With no input the last-input time stays at the last key press. The press
// and its release reach the hook's thread whenever the loaded machine lets
// them; wait until the stamp has held for half a second, then it must hold
// for a further second and a half.
TEST(HookLibrary, LastInputTimeStaysPutWithoutInput)
{
	HookLibrary hook;
	ASSERT_NE(hook.set(), 0);
	const int64_t before = hook.last_active();
	int64_t pressed = LastInputAfter(hook, "xdotool key shift", before);
	ASSERT_NE(pressed, before);
	for (int i = 0; i < 10; ++i) {
		std::this_thread::sleep_for(std::chrono::milliseconds(500));
		const int64_t now_seen = hook.last_active();
		if (now_seen == pressed)
			break;
		pressed = now_seen;
	}
	std::this_thread::sleep_for(std::chrono::milliseconds(1500));
	EXPECT_EQ(hook.last_active(), pressed);
	EXPECT_GE(static_cast<int64_t>(platform::TickCount64()) - pressed, 2000 - 50);
	hook.unset();
}

// A screen locker grabs the keyboard; the password typed into it is input.
TEST(HookLibrary, KeysTypedIntoAScreenLockerAreInput)
{
	HookLibrary hook;
	ASSERT_NE(hook.set(), 0);
	const std::string locker = Shell("i3lock -n >/dev/null 2>&1 & echo $!");
	ASSERT_NE(Shell("for i in $(seq 100); do xwininfo -root -children | grep -q '1280x1024+0+0' "
			"&& echo up && break; sleep 0.1; done"),
		  "") << "i3lock did not cover the screen";
	const int64_t before = hook.last_active();
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	EXPECT_GT(LastInputAfter(hook, "xdotool key a", before), before + 250);
	Shell("kill " + locker);
	hook.unset();
}

// A machine that slept for an hour, as a time namespace shows it: its
// boot-time clock runs an hour ahead of the monotonic one. The case runs
// itself again inside such a namespace (that needs root); there the
// program's tick and the hook's last input both follow the kernel's uptime,
// which counts the sleep.
TEST(HookLibrary, TicksCountTheTimeTheMachineSlept)
{
	if (!std::getenv("VORLIX_SLEPT_AN_HOUR")) {
		if (Shell("unshare --fork --time --boottime 3600 true 2>/dev/null && echo ok") != "ok\n")
			GTEST_SKIP() << "no time namespace here (needs root)";
		char self[4096] = {};
		ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
		EXPECT_EQ(Shell("VORLIX_SLEPT_AN_HOUR=1 unshare --fork --time --boottime 3600 " +
				testing_support::ShellQuote(self) +
				" --gtest_filter=HookLibrary.TicksCountTheTimeTheMachineSlept"
				" >/dev/null && echo passed"),
			  "passed\n");
		return;
	}
	HookLibrary hook;
	ASSERT_NE(hook.set(), 0);
	ASSERT_EQ(Shell("xdotool key shift && echo ok"), "ok\n");
	const int64_t uptime_ms = static_cast<int64_t>(
		std::stod(testing_support::ReadFile("/proc/uptime")) * 1000);
	EXPECT_NEAR(static_cast<double>(platform::TickCount64()), uptime_ms, 500);
	EXPECT_NEAR(static_cast<double>(hook.last_active()), uptime_ms, 500);
	hook.unset();
}
