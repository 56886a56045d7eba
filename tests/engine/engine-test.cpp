// The whole program, end to end: the real executable with the real (or a
// stand-in) hook library, on the X server the test runs under, with a
// temporary application-data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <csignal>
#include <thread>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QTimer>

#include "monitor/window-monitor.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"
#include "tests/tools/records-fixture.h"

using namespace testing_support;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

void Sleep(double s)
{
	std::this_thread::sleep_for(milliseconds(static_cast<int>(s * 1000)));
}

// The GBK bytes of the notice logged when no input is known.
const char kNoInputNotice[] =
	"\xce\xb4\xb9\xd8\xd7\xa2\xca\xf3\xb1\xea\xbc\xfc\xc5\xcc\xce\xde"
	"\xcf\xec\xd3\xa6\xc7\xe9\xbf\xf6!";

} // namespace

TEST(HookLibrary, StartFailsWhenTheLibraryIsMissingOrIncomplete)
{
	const struct {
		const char *name;
		std::string library;
		const char *message;
	} cases[] = {
		{"missing", "", "get module libvorlix.so fail"},
		{"without GetLastActiveTime",
		 BinPath("libtest-hook-without-last-active-time.so"),
		 "GetProcAddress module.GetLastActiveTime fail"},
		{"refuses to install",
		 BinPath("libtest-hook-refuses-to-install.so"),
		 "SetVorlixHook fail"},
	};
	for (const auto &c : cases) {
		MonitorProcess monitor(c.library);
		monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
		EXPECT_EQ(monitor.Wait(), 255) << c.name;
		const std::string log = monitor.Log();
		EXPECT_NE(log.find(std::string(": ") + c.message + "\n"),
			  std::string::npos)
			<< c.name << "\n" << log;
		EXPECT_NE(log.find(": monitor thread start fail\n"),
			  std::string::npos)
			<< c.name;
		EXPECT_NE(log.find(": dbDir "), std::string::npos) << c.name;
		EXPECT_EQ(log.find("app quit"), std::string::npos) << c.name;
		EXPECT_FALSE(Exists(monitor.DbPath())) << c.name;
	}
}

TEST(StartThatCannotRecord, MissingPlatformPluginEndsWithALineAndMinusOne)
{
	MonitorProcess monitor;
	monitor.launcher = {"env", "QT_QPA_PLATFORM=vorlix-none"};
	monitor.Start(MonitorProcess::Arguments());
	EXPECT_EQ(monitor.Wait(), 255);
	const std::string line = "Qt cannot go on: no Qt platform plugin \"vorlix-none\" below ";
	EXPECT_NE(monitor.Log().find(": " + line), std::string::npos) << monitor.Log();
	EXPECT_NE(ReadFile(monitor.err_file).find("error: " + line), std::string::npos);
}

TEST(HookLibrary, NoInputKnownStoresZeroAndLogsTheGbkNotice)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("idle")));
	MonitorProcess monitor(BinPath("libtest-hook-no-input.so"));
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog(kNoInputNotice, 10)) << monitor.Log();
	Sleep(1.5);
	monitor.Signal(SIGINT);
	EXPECT_EQ(monitor.Wait(), 0);
	const std::string log = monitor.Log();
	EXPECT_NE(log.find(": UnSetVorlixHook fail\n"), std::string::npos);
	EXPECT_NE(log.find(": stopMonitor end!!!\n"), std::string::npos);
	const auto rows = monitor.Rows();
	ASSERT_FALSE(rows.empty());
	for (const Row &row : rows)
		EXPECT_EQ(row.active_tm, "0");
}

namespace {

const char kClient[] = "vorlix-test-windows";

int64_t Now()
{
	return std::chrono::duration_cast<seconds>(
		       std::chrono::system_clock::now().time_since_epoch())
		.count();
}

std::vector<long long> Steps(const std::vector<Row> &rows)
{
	std::vector<long long> steps;
	for (size_t i = 1; i < rows.size(); ++i)
		steps.push_back(rows[i].check_tm - rows[i - 1].check_tm);
	return steps;
}

} // namespace

TEST(Recording, WindowSwitchesAndKeyPressesAreRecordedEverySecond)
{
	TestWindows windows;
	const uint32_t alpha = windows.Open("Alpha \xce\xb1\xce\xb2\xce\xb3");
	const uint32_t beta = windows.Open("Beta");
	ASSERT_TRUE(windows.Activate(alpha));

	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	const std::string alpha_line =
		"CheckActiveWindow window_title:Alpha \xce\xb1\xce\xb2\xce\xb3 "
		"window_process:" + std::string(kClient) + "\n";
	ASSERT_TRUE(monitor.WaitForLog(alpha_line, 10)) << monitor.Log();
	Sleep(2.2);
	const int64_t pressed = Now();
	Shell("xdotool key shift");
	ASSERT_TRUE(windows.Activate(beta));
	Sleep(3.2);
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);

	const std::vector<Row> rows = monitor.Rows();
	ASSERT_GE(rows.size(), 5u);
	size_t first_beta = rows.size();
	for (size_t i = 0; i < rows.size(); ++i) {
		const Row &row = rows[i];
		EXPECT_EQ(row.member_id, 7);
		EXPECT_EQ(row.process, kClient);
		if (row.title == "Beta" && first_beta == rows.size())
			first_beta = i;
		EXPECT_EQ(row.title, i < first_beta ? "Alpha \xce\xb1\xce\xb2\xce\xb3"
						    : "Beta");
		const long long active = std::stoll(row.active_tm);
		EXPECT_GT(active, 0);
		EXPECT_LE(active, row.check_tm);
	}
	ASSERT_GE(first_beta, 2u);
	ASSERT_LT(first_beta, rows.size());
	// The key press shows in every row after it.
	EXPECT_GE(std::stoll(rows.back().active_tm), pressed - 1);
	EXPECT_LT(std::stoll(rows.front().active_tm), pressed - 1);
	for (long long step : Steps(rows))
		EXPECT_TRUE(step >= 0 && step <= 2) << step;
	EXPECT_NEAR(rows.back().check_tm - rows.front().check_tm,
		    static_cast<long long>(rows.size()) - 1, 1);
	EXPECT_EQ(monitor.CountInLog(alpha_line), 1);
	EXPECT_EQ(monitor.CountInLog("CheckActiveWindow window_title:Beta "), 1);

	// The records reader shows the same rows as the independent decryption.
	const auto listed = records_fixture::ListWithTool(monitor.DbPath(), kTestKey);
	ASSERT_EQ(listed.size(), rows.size());
	for (size_t i = 0; i < rows.size(); ++i) {
		EXPECT_EQ(listed[i].id, rows[i].id);
		EXPECT_EQ(listed[i].check_tm, rows[i].check_tm);
		EXPECT_EQ(listed[i].active_tm, rows[i].active_tm);
		EXPECT_EQ(listed[i].idle, std::to_string(rows[i].check_tm -
							  std::stoll(rows[i].active_tm)));
		EXPECT_EQ(listed[i].process, rows[i].process);
		EXPECT_EQ(listed[i].title, rows[i].title);
	}
	const RunResult summary = records_fixture::RunTool(
		{"summary", monitor.DbPath(), "--key", kTestKey});
	EXPECT_EQ(summary.status, 0) << summary.err;
	EXPECT_NE(summary.out.find(kClient), std::string::npos) << summary.out;
}

TEST(Recording, CheckIntervalOfThreeGivesThreeSecondSteps)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("steady")));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "3"}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:steady", 10));
	Sleep(6.5);
	monitor.Signal(SIGTERM);
	ASSERT_EQ(monitor.Wait(), 0);
	const auto steps = Steps(monitor.Rows());
	ASSERT_GE(steps.size(), 2u);
	for (long long step : steps)
		EXPECT_TRUE(step >= 2 && step <= 4) << step;
}

TEST(Recording, LandingServerTimeIsTheClockBase)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("clock")));
	const long long T = 1500000000;
	MonitorProcess monitor;
	const auto started = std::chrono::steady_clock::now();
	monitor.Start(MonitorProcess::Arguments(
		{"--check_interval", "1", "--landing_server_time",
		 std::to_string(T)}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:clock", 10));
	Sleep(2);
	monitor.Signal(SIGINT);
	const auto elapsed = std::chrono::duration_cast<seconds>(
				     std::chrono::steady_clock::now() - started)
				     .count();
	ASSERT_EQ(monitor.Wait(), 0);
	const auto rows = monitor.Rows();
	ASSERT_GE(rows.size(), 2u);
	EXPECT_GE(rows.front().check_tm, T);
	EXPECT_LE(rows.back().check_tm, T + elapsed + 1);
	EXPECT_NE(monitor.Log().find("SetLandingServerTime 1500000000 "
				     "landing_tick_count:"),
		  std::string::npos);
}

// Log lines and rows hold window titles: only their owner may read what the
// program creates, whatever the umask; a folder that was there keeps its mode.
TEST(Recording, FilesAndFoldersItCreatesArePrivate)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("private")));
	MonitorProcess monitor;
	const std::string home = ShellQuote(monitor.config.path());
	Shell("chmod 755 " + home);
	const mode_t saved = umask(022);
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	umask(saved);
	ASSERT_TRUE(monitor.WaitForLog("window_title:private", 10));
	for (int i = 0; i < 100 && monitor.Rows().empty(); ++i)
		Sleep(0.1);
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	EXPECT_EQ(Shell("cd " + home + " && stat -c '%a %n' . logs logs/* rec rec/*"),
		  "755 .\n700 logs\n600 logs/" + ListDir(monitor.config / "logs").at(0) +
			  "\n700 rec\n600 rec/12.6.mon.db\n");
}

TEST(Recording, NoForegroundWindowWritesNothing)
{
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog("into WindowMonitorStart", 10));
	Sleep(2.5);
	monitor.Signal(SIGINT);
	ASSERT_EQ(monitor.Wait(), 0);
	EXPECT_FALSE(Exists(monitor.DbPath()));
	EXPECT_EQ(monitor.CountInLog("CheckActiveWindow"), 0);
}

TEST(TimerPeriod, FollowsTheCheckIntervalBelowTen)
{
	TempConfigHome home;
	int argc = 1;
	char name[] = "engine-test";
	char *argv[] = {name, nullptr};
	QCoreApplication app(argc, argv);
	WindowMonitor::SetRecordDir("rec");
	const struct {
		int interval; // 0: SetCheckInterval not called
		int period_ms;
	} cases[] = {{3, 3000}, {9, 9000}, {10, 10000}, {25, 10000}, {0, 10000}};
	for (const auto &c : cases) {
		auto *monitor = new WindowMonitor();
		if (c.interval > 0)
			monitor->SetCheckInterval(c.interval);
		ASSERT_TRUE(monitor->WindowMonitorStart());
		const auto *timer = monitor->findChild<QTimer *>();
		ASSERT_NE(timer, nullptr);
		EXPECT_EQ(timer->interval(), c.period_ms) << c.interval;
		EXPECT_TRUE(timer->isActive());
		EXPECT_FALSE(timer->isSingleShot());
		monitor->WindowMonitorStop();
		EXPECT_EQ(monitor->findChild<QTimer *>(), nullptr);
		delete monitor;
	}
}

TEST(Shutdown, InterruptAndTerminationStopCleanly)
{
	for (int signal_number : {SIGINT, SIGTERM}) {
		MonitorProcess monitor;
		monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
		ASSERT_TRUE(monitor.WaitForLog("into WindowMonitorStart", 10));
		Sleep(0.5);
		monitor.Signal(signal_number);
		EXPECT_EQ(monitor.Wait(), 0);
		const std::string log = monitor.Log();
		const size_t quit = log.find(
			": app quit with signal:" + std::to_string(signal_number) +
			" Number of memory leaks: ");
		const size_t stop = log.find(": into WindowMonitorStop\n");
		const size_t end = log.find(": stopMonitor end!!!\n");
		EXPECT_NE(quit, std::string::npos) << log;
		EXPECT_LT(quit, stop);
		EXPECT_LT(stop, end);
		EXPECT_NE(end, std::string::npos);
	}
}

TEST(Shutdown, SignalStormNeitherDeadlocksNorCrashes)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("storm")));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:storm", 10));
	for (int i = 0; i < 2000 && monitor.Running(); ++i)
		monitor.Signal(i % 2 ? SIGINT : SIGTERM);
	EXPECT_EQ(monitor.Wait(15), 0);
	EXPECT_EQ(monitor.CountInLog(": stopMonitor end!!!\n"), 1);
}

TEST(Shutdown, DisplayGoingAwayEndsTheProgramCleanly)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("last window")));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:last window", 10));
	const char *server = std::getenv("VORLIX_XVFB_PID");
	ASSERT_NE(server, nullptr);
	kill(std::atoi(server), SIGTERM);
	const int status = monitor.Wait(15);
	const std::string log = monitor.Log();
	std::printf("display_lost status=%d log_lines=%zu log_complete=%d\n", status,
		    SplitLines(log).size(),
		    log.find(": stopMonitor end!!!\n") != std::string::npos);
	EXPECT_EQ(status, 0);
	EXPECT_NE(log.find(": connection to the display lost, quitting\n"),
		  std::string::npos)
		<< log;
	EXPECT_NE(log.find(": stopMonitor end!!!\n"), std::string::npos);
}

TEST(SingleInstance, SecondStartFromTheSameFolderIsRefused)
{
	MonitorProcess first;
	first.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(first.WaitForLog("into WindowMonitorStart", 10));

	MonitorProcess second(first, 0);
	const auto started = std::chrono::steady_clock::now();
	second.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	EXPECT_EQ(second.Wait(), 255);
	const double took = std::chrono::duration<double>(
				    std::chrono::steady_clock::now() - started)
				    .count();
	EXPECT_GT(took, 0.9);
	const std::string log = second.Log();
	EXPECT_NE(log.find(": duplicate application\n"), std::string::npos);
	EXPECT_NE(log.find(": monitor thread start fail\n"), std::string::npos);
	EXPECT_EQ(log.find("into WindowMonitorStart"), std::string::npos);

	EXPECT_TRUE(first.Running());
	MonitorProcess elsewhere;
	elsewhere.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	EXPECT_TRUE(elsewhere.WaitForLog("into WindowMonitorStart", 10));
	elsewhere.Signal(SIGINT);
	EXPECT_EQ(elsewhere.Wait(), 0);
	first.Signal(SIGINT);
	EXPECT_EQ(first.Wait(), 0);
}

TEST(SingleInstance, LockOfAKilledRunDoesNotBlockTheNextStart)
{
	MonitorProcess killed;
	killed.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(killed.WaitForLog("into WindowMonitorStart", 10));
	killed.Signal(SIGKILL);
	EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
	ASSERT_TRUE(Exists(killed.ProgramDir() + "/lockfile.lock"));

	MonitorProcess next(killed, 0);
	next.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(next.WaitForLog("into WindowMonitorStart", 10)) << next.Log();
	next.Signal(SIGKILL);
	EXPECT_EQ(next.Wait(), 128 + SIGKILL);

	// The killed run's pid taken by a monitor running from another folder:
	// a live process of the same name, so only the lock's age (5 s, more
	// than the stale time of 1 s) shows that the lock is left over.
	MonitorProcess elsewhere;
	elsewhere.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(elsewhere.WaitForLog("into WindowMonitorStart", 10));
	const std::string lock = ShellQuote(killed.ProgramDir() + "/lockfile.lock");
	Shell("sed -i '1s/.*/" + std::to_string(elsewhere.Pid()) + "/' " + lock +
	      " && touch -d '5 seconds ago' " + lock);
	MonitorProcess third(killed, 0);
	third.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(third.WaitForLog("into WindowMonitorStart", 10)) << third.Log();
	third.Signal(SIGINT);
	EXPECT_EQ(third.Wait(), 0);
	elsewhere.Signal(SIGINT);
	EXPECT_EQ(elsewhere.Wait(), 0);
}

// Each start prunes the log folder; the log a running instance writes is
// never among the files it deletes.
TEST(SingleInstance, FailedStartsLeaveTheRunningInstancesLogWhole)
{
	MonitorProcess running;
	running.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(running.WaitForLog("into WindowMonitorStart", 10));
	Sleep(1.1); // the failed starts' logs are newer: the running one is oldest
	for (int i = 0; i < 3; ++i)
		EXPECT_EQ(testing_support::Run({BinPath("vorlix-monitor"), "--user_id",
						"0", "--log_dir", "logs"},
					       {"XDG_CONFIG_HOME=" + running.config.path()})
				  .status,
			  255);
	running.Signal(SIGINT);
	EXPECT_EQ(running.Wait(), 0);
	const std::string log = running.Log();
	EXPECT_NE(log.find(": into WindowMonitorStart\n"), std::string::npos) << log;
	EXPECT_NE(log.find(": stopMonitor end!!!\n"), std::string::npos) << log;
}

// The running instance's lock on its log fails, made to by strace at the
// kernel's flock call: once, as when another start pruning the folder at
// the same instant holds the lock a moment; and always, as on a file system
// without locks, where the later starts' locks fail too.
TEST(SingleInstance, LogWhoseLockFailedIsStillNotPruned)
{
	for (const bool always : {false, true}) {
		const std::vector<std::string> strace = {
			"/usr/bin/strace", "-o", "/dev/null", "-e", "trace=flock", "-e",
			always ? "inject=flock:error=ENOLCK" : "inject=flock:error=EAGAIN:when=1"};
		MonitorProcess running;
		running.launcher = strace;
		running.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
		ASSERT_TRUE(running.WaitForLog("into WindowMonitorStart", 20)) << always;
		const std::string log = running.config / "logs/" + ListDir(running.config / "logs")[0];
		Sleep(1.1); // the later starts' logs are newer: the running one is oldest
		for (int i = 0; i < 3; ++i) {
			std::vector<std::string> argv = always ? strace : std::vector<std::string>();
			argv.insert(argv.end(), {BinPath("vorlix-monitor"), "--user_id", "0", "--log_dir", "logs"});
			EXPECT_EQ(testing_support::Run(argv, {"XDG_CONFIG_HOME=" + running.config.path()}).status, 255);
		}
		// The program's pid, not strace's, is the first line of its lock file.
		kill(std::stoi(ReadFile(running.ProgramDir() + "/lockfile.lock")), SIGINT);
		EXPECT_EQ(running.Wait(), 0) << always;
		EXPECT_EQ(running.CountInLog(": stopMonitor end!!!\n"), 1) << always;
		EXPECT_EQ(running.CountInLog(": lock log file " + log + " fail: No locks available\n"),
			  always ? 1 : 0);
	}
}

// The sqlite3 command opens a database whose full path is 504 bytes long and
// refuses one of 505 (the journal's name, 8 bytes longer, must fit in 512).
// What counts is the path with links resolved: the application-data folder
// is reached through a link to a longer name.
TEST(RecordFile, PathLongerThanSqliteOpensEndsTheStart)
{
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("steady")));
	for (const size_t length : {504u, 505u}) {
		MonitorProcess monitor;
		const std::string target(40, 't');
		Shell("cd " + ShellQuote(monitor.config.path()) + " && mkdir " + target + " && ln -s " + target + " l");
		const std::string base = std::filesystem::canonical(monitor.config / target).string() + "/";
		std::string dir(length - base.size() - std::strlen("/12.6.mon.db"), 'd');
		for (size_t i = 200; i + 1 < dir.size(); i += 201)
			dir[i] = '\\';
		monitor.Start(MonitorProcess::Arguments({"--record_dir", "l\\" + dir, "--check_interval", "1"}));
		std::replace(dir.begin(), dir.end(), '\\', '/');
		const std::string db = base + dir + "/12.6.mon.db";
		ASSERT_EQ(db.size(), length);
		if (length == 504u) {
			ASSERT_TRUE(monitor.WaitForLog("CheckActiveWindow", 10)) << monitor.Log();
			Sleep(1.5);
			EXPECT_NE(Sqlite(db, "SELECT count(*) FROM monitor_detail"), "0\n");
		} else {
			EXPECT_EQ(monitor.Wait(), 255);
			EXPECT_EQ(monitor.CountInLog(": record file path is 505 bytes long, SQLite opens at most 504: " +
						     db + "\n"), 1) << monitor.Log();
			EXPECT_EQ(monitor.CountInLog(": monitor thread start fail\n"), 1);
		}
	}
}

TEST(SingleInstance, UnwritableProgramFolderIsNamedInTheError)
{
	MonitorProcess monitor;
	// Run as an unprivileged user who may read the program folder but not
	// write into it, and who has no runtime folder to take a lock of their
	// own in, so the lock file cannot be created at all.
	Shell("chmod 755 '" + monitor.ProgramDir() + "' && chmod -R 777 '" +
	      monitor.config.path() + "'");
	monitor.launcher = {"env", "-u", "XDG_RUNTIME_DIR", "setpriv", "--reuid=65534",
			    "--regid=65534", "--clear-groups"};
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	EXPECT_EQ(monitor.Wait(), 255);
	const std::string log = monitor.Log();
	EXPECT_NE(log.find(": lock file " + monitor.ProgramDir() +
			   "/lockfile.lock cannot be taken: the file cannot be "
			   "created (permission denied)\n"),
		  std::string::npos)
		<< log;
	EXPECT_EQ(log.find("duplicate application"), std::string::npos);
	EXPECT_NE(log.find(": monitor thread start fail\n"), std::string::npos);
}

TEST(Memory, TwentySecondsUnderValgrindHaveNoInvalidAccess)
{
	TestWindows windows;
	const uint32_t a = windows.Open("valgrind A");
	const uint32_t b = windows.Open("valgrind B");
	ASSERT_TRUE(windows.Activate(a));
	MonitorProcess monitor;
	monitor.launcher = {"valgrind", "--error-exitcode=99",
			    "--errors-for-leak-kinds=none", "--leak-check=no"};
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:valgrind A", 90))
		<< ReadFile(monitor.err_file);
	for (int i = 0; i < 10; ++i) {
		windows.Activate(i % 2 ? a : b);
		Sleep(2);
	}
	monitor.Signal(SIGINT);
	EXPECT_EQ(monitor.Wait(120), 0) << ReadFile(monitor.err_file);
	EXPECT_NE(ReadFile(monitor.err_file).find("ERROR SUMMARY: 0 errors"),
		  std::string::npos);
	EXPECT_GE(monitor.Rows().size(), 10u);
}

// A session without X (DISPLAY unset): the start says what is missing
// before the hook library fails for the same reason.
TEST(StartThatCannotRecord, NoDisplayIsNamedBeforeTheHookFails)
{
	MonitorProcess monitor;
	monitor.launcher = {"env", "-u", "DISPLAY"};
	monitor.Start(MonitorProcess::Arguments());
	EXPECT_EQ(monitor.Wait(), 255);
	const std::string log = monitor.Log();
	const size_t named = log.find(": no X display: DISPLAY is not set\n");
	const size_t hook = log.find(": SetVorlixHook fail\n");
	ASSERT_NE(named, std::string::npos) << log;
	ASSERT_NE(hook, std::string::npos) << log;
	EXPECT_LT(named, hook);
}

// A Wayland session whose desktop tells nothing (no sway socket, no session
// bus) and that has no X display either: the start names each source it
// tried, the hook says why the desktop tells no input, and the start fails.
TEST(StartThatCannotRecord, WaylandSessionWithoutAnySourceIsNamed)
{
	MonitorProcess monitor;
	monitor.launcher = {"env", "-u", "DISPLAY", "-u", "SWAYSOCK", "-u", "I3SOCK",
			    "WAYLAND_DISPLAY=vorlix-no-such-display",
			    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"};
	monitor.Start(MonitorProcess::Arguments());
	EXPECT_EQ(monitor.Wait(), 255);
	const std::string log = monitor.Log();
	EXPECT_NE(log.find(": no X display: DISPLAY is not set; no Wayland desktop source: "
			   "sway: no IPC socket (SWAYSOCK and I3SOCK are not set); "
			   "KWin: no session bus; GNOME Shell: no session bus; foreign-toplevel "
			   "list: the Wayland display refused the connection\n"),
		  std::string::npos)
		<< log;
	EXPECT_NE(log.find(": SetVorlixHook: this Wayland desktop tells no input (GNOME: no "
			   "session bus; idle protocols: the Wayland display refused the "
			   "connection); only input into X programs, through XWayland, is seen\n"),
		  std::string::npos)
		<< log;
	EXPECT_NE(log.find(": SetVorlixHook fail\n"), std::string::npos) << log;
}
