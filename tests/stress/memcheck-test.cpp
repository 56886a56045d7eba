// The real program under valgrind's memcheck for a minute of sampling every
// second while the foreground window changes: no invalid access, and every
// leak listed by kind. The application object is never destroyed (the lock
// ends with the process), so what it holds is reachable at exit by design.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <regex>
#include <string>

#include "tests/stress/stress-support.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using namespace stress;

namespace {

// The bytes and blocks of one kind from valgrind's LEAK SUMMARY.
std::string LeakFigure(const std::string &report, const std::string &kind)
{
	std::smatch match;
	const std::regex line("==\\d+==\\s+" + kind +
			      ": ([0-9,]+) bytes in ([0-9,]+) blocks");
	if (!std::regex_search(report, match, line))
		return kind + ": -";
	return kind + ": " + match[1].str() + " bytes in " + match[2].str() +
	       " blocks";
}

// A frame of the program's own code: its sources are lower-case-with-dashes
// .cpp files (the libraries' frames read "(in /usr/lib/...)" or name .c,
// .h or .tcc files), or the executable or hook library without debug data.
bool OwnFrame(const std::string &frame)
{
	static const std::regex source("\\([a-z0-9-]+\\.cpp:[0-9]+\\)");
	return std::regex_search(frame, source) ||
	       frame.find("/vorlix-monitor)") != std::string::npos ||
	       frame.find("/libvorlix.so)") != std::string::npos;
}

// The definitely lost records, each as its head line and first frames; a
// record is the program's own when one of the three frames nearest to the
// allocation is its code.
struct DefiniteLeaks {
	std::string listing;
	int own = 0;
};

DefiniteLeaks FindDefiniteLeaks(const std::string &report)
{
	DefiniteLeaks leaks;
	int frames = -1; // frames seen in the current definite record; -1: none
	bool own = false;
	for (const std::string &line : SplitLines(report)) {
		if (line.find("in loss record") != std::string::npos) {
			frames = line.find("definitely lost") != std::string::npos ? 0 : -1;
			own = false;
			if (frames == 0)
				leaks.listing += line + "\n";
		} else if (frames >= 0 && line.find(" by 0x") != std::string::npos &&
			   frames < 3) {
			++frames;
			leaks.listing += line + "\n";
			if (OwnFrame(line) && !own) {
				own = true;
				++leaks.own;
			}
		}
	}
	return leaks;
}

} // namespace

TEST(Memory, AMinuteUnderMemcheckHasNoInvalidAccessAndListsLeaksByKind)
{
	const int seconds = EnvCount("VORLIX_STRESS_MEMCHECK_SECONDS", 60);
	TestWindows windows;
	const std::vector<uint32_t> own = windows.OpenMany(3, "memcheck");
	ASSERT_EQ(own.size(), 3u);
	ASSERT_TRUE(windows.Activate(own[0]));
	MonitorProcess monitor;
	monitor.launcher = {"valgrind", "--error-exitcode=99", "--leak-check=full",
			    "--show-leak-kinds=all", "--errors-for-leak-kinds=none",
			    "--num-callers=30"};
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	ASSERT_TRUE(monitor.WaitForLog("window_title:memcheck 1", 120))
		<< ReadFile(monitor.err_file);
	const long long started = WallSeconds();
	for (int i = 1; i <= seconds; ++i) {
		if (i % 3 == 0)
			windows.Activate(own[static_cast<size_t>(i / 3) % own.size()]);
		Sleep(1);
	}
	monitor.Signal(SIGINT);
	const int status = monitor.Wait(300);
	const std::string report = ReadFile(monitor.err_file);
	size_t rows = 0;
	for (const StoredRow &row : StoredRows(monitor.DbPath()))
		rows += row.check_tm >= started;

	const DefiniteLeaks definite = FindDefiniteLeaks(report);
	std::printf("memcheck_s=%d rows=%zu status=%d own_definite_leaks=%d\n"
		    "%s\n%s\n%s\n%s\n%s",
		    seconds, rows, status, definite.own,
		    LeakFigure(report, "definitely lost").c_str(),
		    LeakFigure(report, "indirectly lost").c_str(),
		    LeakFigure(report, "possibly lost").c_str(),
		    LeakFigure(report, "still reachable").c_str(),
		    definite.listing.c_str());
	EXPECT_EQ(status, 0) << report;
	EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos);
	EXPECT_EQ(definite.own, 0) << report;
	EXPECT_GE(rows, static_cast<size_t>(seconds) / 2);
	RecordProperty("valgrind_report", report.substr(report.find("HEAP SUMMARY")));
}
