// The whole program on the desktops people run, each with its real tool:
// GNOME's window manager, a compositing manager started after the program,
// a wallpaper below every window and a screen locker on a screen that has
// shrunk. Each case has an X session of its own (Xvfb with openbox).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/background.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;

namespace {

const char kClient[] = "vorlix-test-windows";

std::string ChangeLine(const std::string &title, const std::string &process = kClient)
{
	return "CheckActiveWindow window_title:" + title + " window_process:" + process + "\n";
}

// Waits until the record file holds `count` rows.
bool RowsWritten(const MonitorProcess &monitor, size_t count)
{
	return WaitFor([&] { return monitor.Rows().size() >= count; });
}

void ExpectEveryRowNames(const std::vector<Row> &rows, const std::vector<std::string> &titles)
{
	for (const Row &row : rows) {
		EXPECT_EQ(row.process, kClient) << row.title;
		EXPECT_NE(std::find(titles.begin(), titles.end(), row.title), titles.end())
			<< row.title;
	}
}

} // namespace

// mutter keeps a screen-sized InputOnly "mutter guard window" at the bottom
// of the stack: no locker, the rows name the window in front.
TEST(Desktops, UnderGnomesWindowManagerRowsNameTheWindowInFront)
{
	Background mutter("dbus-run-session -- mutter --x11 --replace");
	ASSERT_TRUE(WaitFor([] {
		return Shell("xprop -root _NET_SUPPORTING_WM_CHECK | grep -o '0x[0-9a-f]*' |"
			     " xargs -r -n1 xprop _NET_WM_NAME -id")
			       .find("\"Mutter\"") != std::string::npos;
	})) << "mutter did not start";
	TestWindows windows;
	const uint32_t report = windows.Open("Quarterly report");
	ASSERT_TRUE(windows.Activate(report));

	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(RowsWritten(monitor, 3)) << monitor.Log();
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	ExpectEveryRowNames(monitor.Rows(), {"Quarterly report"});
	EXPECT_EQ(monitor.CountInLog("screen locker"), 0) << monitor.Log();
}

// A compositing manager started after the program creates its overlay
// window over the whole screen; the rows go on naming the window in front
// and follow a switch.
TEST(Desktops, CompositorStartedAfterTheProgramLeavesTheRowsAlone)
{
	TestWindows windows;
	const uint32_t before = windows.Open("Before compositing");
	const uint32_t after = windows.Open("After compositing");
	ASSERT_TRUE(windows.Activate(before));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog(ChangeLine("Before compositing"))) << monitor.Log();

	Background picom("picom --backend xrender --config /dev/null");
	ASSERT_TRUE(WaitFor([&] { return windows.Command("cm-owner") != "owner 0"; }))
		<< "picom did not start";
	const size_t composited = monitor.Rows().size();
	ASSERT_TRUE(RowsWritten(monitor, composited + 2));
	ASSERT_TRUE(windows.Activate(after));
	EXPECT_TRUE(monitor.WaitForLog(ChangeLine("After compositing"))) << monitor.Log();
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	ExpectEveryRowNames(monitor.Rows(), {"Before compositing", "After compositing"});
}

// An animated wallpaper: an override-redirect window over the whole screen,
// lowered below every other window.
TEST(Desktops, WallpaperBelowEveryWindowIsNoLocker)
{
	TestWindows windows;
	const uint32_t sheet = windows.Open("Spreadsheet");
	ASSERT_TRUE(windows.Activate(sheet));
	ASSERT_EQ(windows.Command("cover-below Animated wallpaper").rfind("window ", 0), 0u);
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(RowsWritten(monitor, 3)) << monitor.Log();
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	ExpectEveryRowNames(monitor.Rows(), {"Spreadsheet"});
}

// A laptop leaves its dock: the screen shrinks while the program runs, and a
// locker covering the new screen is the foreground window until it goes.
TEST(Desktops, LockerCoveringAScreenThatShrankIsTheForeground)
{
	TestWindows windows;
	const uint32_t mail = windows.Open("Mail");
	ASSERT_TRUE(windows.Activate(mail));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog(ChangeLine("Mail"))) << monitor.Log();
	// xrandr also complains that the output is larger; the screen shrinks.
	Shell("xrandr --fb 800x600 >/dev/null 2>&1");
	ASSERT_TRUE(WaitFor([] {
		return Shell("xdpyinfo | grep dimensions").find(" 800x600 ") != std::string::npos;
	}));
	{
		Background locker("i3lock -n");
		EXPECT_TRUE(monitor.WaitForLog(" window_process:i3lock\n")) << monitor.Log();
	}
	EXPECT_TRUE(WaitFor([&] { return monitor.CountInLog(ChangeLine("Mail")) == 2; }))
		<< monitor.Log();
	monitor.Signal(SIGINT);
	EXPECT_EQ(monitor.Wait(), 0);
}
