// The whole program on Wayland desktops, each a real compositor running
// headless (tests/wayland/with-wayland-session starts it and gives this
// program its environment): the rows name the native window in front, as
// the desktop itself tells it, and the last input comes from the desktop.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "tests/support/background.h"
#include "tests/support/monitor-process.h"

using namespace testing_support;

namespace {

std::string ChangeLine(const std::string &title, const std::string &process)
{
	return "CheckActiveWindow window_title:" + title + " window_process:" + process + "\n";
}

bool RowsWritten(const MonitorProcess &monitor, size_t count)
{
	return WaitFor([&] { return monitor.Rows().size() >= count; });
}

std::string TempPath(const std::string &name)
{
	static TempDir dir;
	return dir / name;
}

// A terminal that names its window `title` and waits.
std::string TitledShell(const std::string &title)
{
	const std::string script = TempPath("titled-shell");
	WriteFile(script, "#!/bin/sh\nprintf '\\033]0;%s\\007' " + ShellQuote(title) +
				  "\nexec sleep 600\n");
	Shell("chmod +x " + ShellQuote(script));
	return script;
}

// weston-terminal in front, named "Weston 终端", and the program recording
// at a 1 s interval until it has named that window.
struct TerminalInFront {
	Background terminal{"weston-terminal --shell=" + TitledShell("Weston 终端")};
	MonitorProcess monitor;

	bool Started()
	{
		monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
		return monitor.WaitForLog(ChangeLine("Weston 终端", "weston-terminal"), 60);
	}
};

// The foreign-toplevel list's windows, activated as a taskbar does.
std::string Toplevels(const std::string &arguments)
{
	return Shell(ShellQuote(BinPath("vorlix-toplevels")) + " " + arguments + " 2>&1");
}

bool Listed(const std::string &title)
{
	return WaitFor(
		[&] { return Toplevels("list").find("\t" + title + "\t") != std::string::npos; });
}

} // namespace

// sway: a native window (foot), then an X one through XWayland (xterm),
// each by its executable and title; a key typed through the virtual
// keyboard moves the last input to its time, and no input keeps it there.
TEST(Wayland, SwayRowsNameNativeAndXWaylandWindowsAndKeysMoveTheLastInput)
{
	Background foot("foot --app-id vorlix-foot --title 'Foot 终端' sleep 600");
	ASSERT_TRUE(WaitFor([] {
		return Shell("swaymsg -t get_tree").find("\"vorlix-foot\"") != std::string::npos;
	})) << "foot did not start";

	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog(ChangeLine("Foot 终端", "foot"))) << monitor.Log();
	EXPECT_TRUE(monitor.WaitForLog("foreground window from the window manager's IPC socket"))
		<< monitor.Log();
	ASSERT_TRUE(RowsWritten(monitor, 2));
	// No input since the start: nothing is known of it.
	for (const Row &row : monitor.Rows())
		EXPECT_EQ(row.active_tm, "0") << row.check_tm;

	const size_t before_key = monitor.Rows().size();
	const long long key_check = monitor.Rows().back().check_tm;
	ASSERT_EQ(Shell("wtype a && echo typed"), "typed\n");
	// Rows written before the key reached the compositor still carry 0.
	std::vector<Row> rows;
	size_t typed = 0;
	ASSERT_TRUE(WaitFor([&] {
		rows = monitor.Rows();
		for (typed = before_key; typed < rows.size() && rows[typed].active_tm == "0";)
			++typed;
		return rows.size() >= typed + 3;
	})) << "the key was not seen";
	const long long key_time = std::stoll(rows[typed].active_tm);
	EXPECT_GE(key_time, key_check);
	EXPECT_LE(key_time, rows[typed].check_tm);
	for (size_t i = typed + 1; i < rows.size(); ++i)
		EXPECT_EQ(rows[i].active_tm, rows[typed].active_tm) << "no input since the key";
	EXPECT_GE(rows.back().check_tm - key_time, 2);

	// In a UTF-8 locale xterm names its window in Latin-1 (WM_NAME), which
	// sway passes on as it is.
	Background xterm("env LC_ALL=C.UTF-8 xterm -T 'XTerm über' -e sleep 600");
	ASSERT_TRUE(WaitFor([] {
		return Shell("swaymsg -t get_tree").find("\"XTerm") != std::string::npos;
	})) << "xterm did not start";
	Shell("swaymsg '[class=XTerm] focus' >/dev/null");
	EXPECT_TRUE(monitor.WaitForLog(ChangeLine("XTerm über", "xterm"))) << monitor.Log();
	ASSERT_TRUE(RowsWritten(monitor, monitor.Rows().size() + 1));

	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	bool saw_foot = false, saw_xterm = false;
	for (const Row &row : monitor.Rows()) {
		const bool is_foot = row.process == "foot" && row.title == "Foot 终端";
		const bool is_xterm = row.process == "xterm" && row.title == "XTerm über";
		EXPECT_TRUE(is_foot || is_xterm) << row.process << " " << row.title;
		saw_foot |= is_foot;
		saw_xterm |= is_xterm;
	}
	EXPECT_TRUE(saw_foot && saw_xterm);
}

// labwc, wayfire, and sway with its IPC socket left out: the window in front
// is the activated one of the compositor's foreign-toplevel list. Two
// windows of one program (foot, two processes) by executable and title; a
// key moves the last input; a switch there and back within a tick names
// only the window in front at the tick; an X program through XWayland by
// its own executable; a window closed while in front is named no more,
// and with no window left no row is written. XWayland is not started for
// the program.
TEST(Wayland, ForeignToplevelListNamesTheActivatedWindow)
{
	auto first = std::make_unique<Background>("foot --title 'Foot 一' sleep 600");
	ASSERT_TRUE(Listed("Foot 一")) << Toplevels("list");
	auto second = std::make_unique<Background>("foot --title 'Foot 二' sleep 600");
	ASSERT_TRUE(Listed("Foot 二")) << Toplevels("list");
	ASSERT_EQ(Toplevels("activate 'Foot 一'"), "");

	MonitorProcess monitor;
	monitor.launcher = {"env", "-u", "SWAYSOCK", "-u", "I3SOCK"};
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog(ChangeLine("Foot 一", "foot"))) << monitor.Log();
	ASSERT_TRUE(RowsWritten(monitor, 2));
	for (const Row &row : monitor.Rows())
		EXPECT_EQ(row.active_tm, "0") << "no input since the start";
	// The compositors start XWayland for its first client: the program,
	// with native windows only, is none.
	EXPECT_EQ(Shell("pgrep -x Xwayland"), "");

	const long long key_check = monitor.Rows().back().check_tm;
	ASSERT_EQ(Shell("wtype a && echo typed"), "typed\n");
	std::vector<Row> rows;
	ASSERT_TRUE(WaitFor([&] {
		rows = monitor.Rows();
		return rows.back().active_tm != "0";
	})) << "the key was not seen";
	EXPECT_GE(std::stoll(rows.back().active_tm), key_check);
	EXPECT_LE(std::stoll(rows.back().active_tm), rows.back().check_tm);

	// There and back at once: the events of both arrive before the tick.
	ASSERT_EQ(Toplevels("activate 'Foot 二' 'Foot 一'"), "");
	ASSERT_TRUE(RowsWritten(monitor, monitor.Rows().size() + 2));
	EXPECT_EQ(monitor.CountInLog("window_title:Foot 二"), 0) << monitor.Log();
	ASSERT_EQ(Toplevels("activate 'Foot 二'"), "");
	EXPECT_TRUE(monitor.WaitForLog(ChangeLine("Foot 二", "foot"))) << monitor.Log();

	// A new window comes to the front. In a UTF-8 locale xterm names its
	// window in Latin-1 (WM_NAME); its class, which the compositor gives as
	// the app_id, names no program: the X server tells the executable.
	auto xterm = std::make_unique<Background>(
		"env LC_ALL=C.UTF-8 xterm -class VorlixTerm -T 'XTerm über' -e sleep 600");
	ASSERT_TRUE(monitor.WaitForLog(ChangeLine("XTerm über", "xterm"))) << monitor.Log();
	ASSERT_TRUE(RowsWritten(monitor, monitor.Rows().size() + 1));
	xterm.reset();
	ASSERT_TRUE(WaitFor([&] {
		return monitor.CountInLog(ChangeLine("Foot 二", "foot")) == 2;
	})) << monitor.Log();
	const size_t closed = monitor.Rows().size();
	ASSERT_TRUE(RowsWritten(monitor, closed + 2));

	// No window left, none activated: no row (one may be on its way).
	first.reset();
	second.reset();
	ASSERT_TRUE(WaitFor([] { return Toplevels("list").empty(); })) << Toplevels("list");
	const size_t none = monitor.Rows().size();
	std::this_thread::sleep_for(std::chrono::seconds(3));
	EXPECT_LE(monitor.Rows().size(), none + 1);

	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	EXPECT_EQ(monitor.CountInLog("foreground window from the compositor's foreign-toplevel list "
				     "(zwlr_foreign_toplevel_manager_v1)"),
		  1)
		<< monitor.Log();
	rows = monitor.Rows();
	for (size_t i = 0; i < rows.size(); ++i) {
		const Row &row = rows[i];
		const bool foot =
			row.process == "foot" && (row.title == "Foot 一" || row.title == "Foot 二");
		const bool xterm_row = row.process == "xterm" && row.title == "XTerm über";
		EXPECT_TRUE(foot || (xterm_row && i < closed))
			<< i << ": " << row.process << " " << row.title;
	}
}

// sway's socket alone (WAYLAND_DISPLAY not passed on) still makes a Wayland
// session, for the windows and the input alike: the input hook asks the
// desktop too, and says why it hears nothing from it.
TEST(Wayland, SwaySocketAloneMakesAWaylandSessionForWindowsAndInput)
{
	Background foot("foot --app-id vorlix-foot sleep 600");
	MonitorProcess monitor;
	monitor.launcher = {"env", "-u", "WAYLAND_DISPLAY"};
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	EXPECT_TRUE(monitor.WaitForLog("foreground window from the window manager's IPC socket"))
		<< monitor.Log();
	EXPECT_TRUE(monitor.WaitForLog("SetVorlixHook: this Wayland desktop tells no input ("))
		<< monitor.Log();
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
}

// KDE Plasma: KWin gives no window list; the script the program loads into
// it tells the native window in front. The script is gone after the stop.
TEST(Wayland, KWinRowsNameTheNativeWindowInFront)
{
	TerminalInFront session;
	MonitorProcess &monitor = session.monitor;
	ASSERT_TRUE(session.Started()) << monitor.Log();
	ASSERT_TRUE(RowsWritten(monitor, 3));
	EXPECT_EQ(monitor.CountInLog("foreground window from KWin, through a script of ours"), 1)
		<< monitor.Log();
	const std::string plugin = "vorlix-monitor-" + std::to_string(monitor.Pid());
	const std::string loaded = "dbus-send --session --print-reply --dest=org.kde.KWin /Scripting "
				   "org.kde.kwin.Scripting.isScriptLoaded string:" + plugin;
	EXPECT_NE(Shell(loaded).find("boolean true"), std::string::npos);

	// Another client of the session bus cannot pose as KWin.
	const std::string forged = Shell(
		"for name in $(dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
		"org.freedesktop.DBus.ListNames | grep -o '\":[0-9.]*\"' | tr -d '\"'); do "
		"  pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
		"    org.freedesktop.DBus.GetConnectionUnixProcessID string:$name | "
		"    awk '/uint32/ { print $2 }'); "
		"  [ \"$pid\" = " + std::to_string(monitor.Pid()) + " ] && "
		"  dbus-send --session --print-reply --dest=$name /org/vorlix/Monitor/Foreground "
		"    org.vorlix.Monitor.Foreground1.Activated string:forged double:1 string:Forged; "
		"done 2>&1");
	EXPECT_NE(forged.find("only KWin reports here"), std::string::npos) << forged;
	const size_t rows_at_forgery = monitor.Rows().size();
	ASSERT_TRUE(RowsWritten(monitor, rows_at_forgery + 2));

	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	for (const Row &row : monitor.Rows()) {
		EXPECT_EQ(row.process, "weston-terminal");
		EXPECT_EQ(row.title, "Weston 终端");
	}
	EXPECT_NE(Shell(loaded).find("boolean false"), std::string::npos) << "script left in KWin";
}

// GNOME: the extension installed by scripts/install-gnome-extension tells
// the native window in front; mutter's idle monitor tells the last input,
// which stays where it was while no input comes.
TEST(Wayland, GnomeShellRowsNameTheNativeWindowAndTheIdleTime)
{
	TerminalInFront session;
	MonitorProcess &monitor = session.monitor;
	ASSERT_TRUE(session.Started()) << monitor.Log();
	ASSERT_TRUE(RowsWritten(monitor, 5));
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	EXPECT_EQ(monitor.CountInLog(
			  "foreground window from GNOME Shell, through the vorlix-monitor extension"),
		  1)
		<< monitor.Log();
	EXPECT_EQ(monitor.CountInLog("SetVorlixHook: last input from mutter's idle monitor"), 1);

	const std::vector<Row> rows = monitor.Rows();
	const long long last_input = std::stoll(rows.front().active_tm);
	EXPECT_GT(last_input, 0);
	for (const Row &row : rows) {
		EXPECT_EQ(row.process, "weston-terminal");
		EXPECT_EQ(row.title, "Weston 终端");
		// The same moment each time, read anew (seconds may round apart).
		EXPECT_NEAR(std::stoll(row.active_tm), last_input, 1) << row.check_tm;
		EXPECT_LE(std::stoll(row.active_tm), row.check_tm);
	}
	EXPECT_GE(rows.back().check_tm - rows.front().check_tm, 3);
}

// GNOME without the extension (here turned off by the user): the log tells
// what to do on the shell's own version, and the native window in front
// gives no row, the X server knowing none of it.
TEST(Wayland, GnomeShellWithoutTheExtensionTellsWhatToDoOnItsVersion)
{
	const std::string version =
		Shell("gnome-shell --version | grep -o '[0-9][0-9]*' | head -n 1 | tr -d '\\n'");
	ASSERT_FALSE(version.empty());
	Shell("gsettings set org.gnome.shell enabled-extensions '[]'");
	ASSERT_TRUE(WaitFor([] {
		return Shell("dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
			     "org.freedesktop.DBus.NameHasOwner string:org.vorlix.Monitor.Foreground")
			       .find("boolean false") != std::string::npos;
	})) << "the extension stays on the bus";

	Background terminal("weston-terminal --shell=" + TitledShell("Weston 终端"));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	const std::string form =
		std::stoi(version) >= 45 ? ", which installs the form GNOME Shell 45 and later load" : "";
	EXPECT_TRUE(monitor.WaitForLog("foreground window from GNOME Shell " + version +
				       " without the vorlix-monitor extension (only windows through "
				       "XWayland are seen: run scripts/install-gnome-extension" +
				       form + ", then log in again)"))
		<< monitor.Log();
	sleep(3);
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	EXPECT_TRUE(monitor.Rows().empty()) << monitor.Rows().front().title;

	// Installed for every user (as the Debian package does), it needs only
	// turning on.
	const std::string data = TempPath("system-data");
	Shell("mkdir -p " + data + "/gnome-shell/extensions/vorlix-monitor@vorlix.org && "
	      "echo {} > " + data + "/gnome-shell/extensions/vorlix-monitor@vorlix.org/metadata.json");
	MonitorProcess packaged;
	packaged.launcher = {"env", "XDG_DATA_DIRS=/nonexistent:" + data};
	packaged.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	EXPECT_TRUE(packaged.WaitForLog(
		"foreground window from GNOME Shell " + version +
		" without the vorlix-monitor extension (only windows through XWayland are seen: turn "
		"it on with gnome-extensions enable vorlix-monitor@vorlix.org, then log in again)"))
		<< packaged.Log();
	packaged.Signal(SIGINT);
	ASSERT_EQ(packaged.Wait(), 0);
}
