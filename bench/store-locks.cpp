// Rows lost while another process holds the record file locked, and how
// soon rows come back once it lets go: the real program sampling every
// second while the sqlite3 command holds a RESERVED, then an EXCLUSIVE lock
// for 30 s ($VORLIX_STRESS_LOCK_SECONDS). One line of figures per lock; the
// behaviour itself is tested by tests/stress/store-faults-test.cpp.
//
//   scripts/with-xsession build/bin/vorlix-bench-store-locks
#include <csignal>
#include <cstdio>

#include "tests/stress/stress-support.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using namespace stress;

namespace {

// One run of the program under the lock begun with `begin`; false when it
// could not be measured.
bool MeasureLock(const char *begin)
{
	TestWindows windows;
	windows.Activate(windows.Open("store locks"));
	MonitorProcess monitor;
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	const int seconds = LockSeconds();
	LockedRun run;
	if (WaitForRows(monitor.DbPath(), 2, 0))
		run = RunUnderLock(monitor, begin, seconds);
	monitor.Signal(SIGINT);
	monitor.Wait();
	if (!run.held || !run.resumed) {
		std::fprintf(stderr, "lock=\"%s\": not measured: %s\n", begin,
			     !run.held ? "no rows, or the lock was not taken"
				       : "no row within 30 s of the release");
		return false;
	}
	std::printf("lock=\"%s\" locked_s=%d dropped=%d rows_sampled_in_lock=%zu "
		    "locked_insert_lines=%d locked_create_lines=%d "
		    "unprepared_lines=%d first_row_after_release_s=%.1f\n",
		    begin, seconds, run.dropped, run.rows_in_lock, run.insert_lines,
		    run.create_lines, run.unprepared_lines, run.resumed_s);
	std::fflush(stdout);
	return true;
}

} // namespace

int main()
{
	const bool reserved = MeasureLock("BEGIN IMMEDIATE");
	const bool exclusive = MeasureLock("BEGIN EXCLUSIVE");
	return reserved && exclusive ? 0 : 1;
}
