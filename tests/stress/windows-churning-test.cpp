// While the program samples every second, one client creates and destroys
// top-level windows by the hundred each second and another switches the
// foreground between its own windows: windows vanish between the requests of
// one sample. The program must neither crash nor log a fault, and rows must
// keep coming.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/stress/stress-support.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using namespace stress;

namespace {

// The lines a run may log; anything else is a fault. The one error is the
// first write's insert into a new file: without the table the statement
// cannot be prepared, so its execution reports the parameters.
const char *const kExpectedLines[] = {
	": Command Line Arguments: ",   ": into WindowMonitorStart",
	": dbDir ",                     ": CheckActiveWindow window_title:",
	": InsertTable err_msg:Parameter count mismatch query:",
	": app quit with signal:2 ",    ": into WindowMonitorStop",
	": stopMonitor end!!!",         ": Last log entry repeated for ",
	": foreground window from ",
};

int UnexpectedLines(const std::string &log)
{
	int unexpected = 0;
	for (const std::string &line : SplitLines(log)) {
		bool known = false;
		for (const char *part : kExpectedLines)
			known = known || line.find(part) != std::string::npos;
		if (!known) {
			std::printf("unexpected log line: %s\n", line.c_str());
			++unexpected;
		}
	}
	return unexpected;
}

struct Churn {
	long churned = 0;
	int switches = 0, held = 0;
};

// Churns windows at `rate` a second for `seconds` in a client of its own,
// slices of at most 20 s (each slice's answer comes after it), while the
// switcher moves the foreground every 0.2 s. Every fourth switch goes to a
// window that is closed at once, so the foreground window itself vanishes.
Churn ChurnAndSwitch(TestWindows &switcher, const std::vector<uint32_t> &own,
		     int seconds, int rate)
{
	TestWindows churner;
	std::atomic<long> churned{0};
	std::atomic<bool> churning{true};
	std::thread churn([&] {
		for (int left = seconds * 1000; left > 0; left -= 20000) {
			const std::string answer = churner.Command(
				"churn " + std::to_string(std::min(left, 20000)) + " " +
				std::to_string(rate));
			if (answer.rfind("churned ", 0) == 0)
				churned += std::stol(answer.substr(8));
		}
		churning = false;
	});
	Churn result;
	for (size_t i = 1; churning; ++i, ++result.switches) {
		if (i % 4 == 0) {
			const uint32_t fleeting = switcher.Open("fleeting");
			result.held += switcher.Activate(fleeting);
			switcher.Close(fleeting);
		} else {
			result.held += switcher.Activate(own[i % own.size()]);
		}
		Sleep(0.2);
	}
	churn.join();
	result.churned = churned;
	return result;
}

struct RowFigures {
	int during = 0, last_quarter = 0, dash_titles = 0;
};

// The rows sampled between `started` and `ended`, those of the run's last
// quarter, and those whose window had vanished before its title was read.
RowFigures CountRows(const std::vector<StoredRow> &rows, long long started,
		     long long ended)
{
	RowFigures figures;
	for (const StoredRow &row : rows) {
		if (row.check_tm < started || row.check_tm > ended)
			continue;
		++figures.during;
		figures.last_quarter += row.check_tm >= ended - (ended - started) / 4;
		figures.dash_titles += row.title == "-";
	}
	return figures;
}

} // namespace

TEST(WindowsChurning, HundredsOfWindowsASecondNeitherCrashNorStopTheRows)
{
	const int seconds = EnvCount("VORLIX_STRESS_CHURN_SECONDS", 60);
	const int rate = 300; // windows a second
	TestWindows switcher;
	const std::vector<uint32_t> own = switcher.OpenMany(3, "switched");
	ASSERT_EQ(own.size(), 3u);
	ASSERT_TRUE(switcher.Activate(own[0]));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:switched 1", 10)) << monitor.Log();

	const long long started = WallSeconds();
	const Churn churn = ChurnAndSwitch(switcher, own, seconds, rate);
	const long long ended = WallSeconds();
	const bool survived = monitor.Running();
	monitor.Signal(SIGINT);
	EXPECT_EQ(monitor.Wait(), 0);

	const RowFigures rows = CountRows(StoredRows(monitor.DbPath()), started, ended);
	const int unexpected = UnexpectedLines(monitor.Log());
	const std::string errors = ReadFile(monitor.err_file);
	const int error_lines = CountLines(errors, "error: ");
	std::printf("churn_seconds=%d churned=%ld switches=%d held=%d "
		    "rows=%d rows_last_quarter=%d dash_titles=%d "
		    "unexpected_log_lines=%d console_errors=%d\n",
		    seconds, churn.churned, churn.switches, churn.held, rows.during,
		    rows.last_quarter, rows.dash_titles, unexpected, error_lines);
	EXPECT_TRUE(survived);
	EXPECT_GE(churn.churned, static_cast<long>(seconds) * rate / 2);
	EXPECT_EQ(unexpected, 0);
	// The table creation of the first write, nothing more.
	EXPECT_EQ(error_lines, 1) << errors;
	EXPECT_GE(rows.during, seconds / 4);
	EXPECT_GT(rows.last_quarter, 0);
	EXPECT_EQ(IntegrityCheck(monitor.DbPath()), "ok");
}
