// The record store's faults while the real program samples every second:
// the database held locked by another process, the record folder deleted,
// and a full disk. Each case prints its figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <string>

#include <sys/stat.h>

#include "tests/stress/stress-support.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using namespace stress;

namespace {

// Another process (the sqlite3 command) holding the database in a
// transaction begun with `begin` until Release().
class LockHolder {
public:
	LockHolder(const std::string &db, const std::string &begin)
	{
		WriteFile(dir_ / "hold.sh",
			  "touch '" + (dir_ / "locked") + "'\n"
			  "while [ ! -e '" + (dir_ / "release") + "' ]; do sleep 0.02; done\n");
		// Its own busy timeout: it waits for a write of the program's
		// that is under way instead of failing to take the lock.
		Shell("sqlite3 '" + db + "' '.timeout 10000' '" + begin +
		      ";' '.shell sh " + (dir_ / "hold.sh") + "' 'COMMIT;' "
		      "'.shell touch " + (dir_ / "done") + "' >/dev/null 2>&1 &");
		held_ = WaitFor("locked");
	}
	~LockHolder() { Release(); }
	bool held() const { return held_; }

	void Release()
	{
		if (!Exists(dir_ / "release")) {
			WriteFile(dir_ / "release", "");
			WaitFor("done");
		}
	}

private:
	bool WaitFor(const std::string &name)
	{
		for (int i = 0; i < 1500 && !Exists(dir_ / name); ++i)
			Sleep(0.01);
		return Exists(dir_ / name);
	}

	TempDir dir_;
	bool held_ = false;
};

// A tmpfs of `size` mounted on `path` for the life of the object.
class SmallFileSystem {
public:
	SmallFileSystem(const std::string &path, const std::string &size)
		: path_(path)
	{
		error_ = Shell("mount -t tmpfs -o size=" + size + ",mode=0755 tmpfs '" +
			       path + "' 2>&1 && echo mounted");
		mounted_ = error_.find("mounted") != std::string::npos;
	}
	~SmallFileSystem()
	{
		if (mounted_)
			Shell("umount '" + path_ + "' 2>/dev/null || umount -l '" + path_ + "'");
	}
	bool mounted() const { return mounted_; }
	const std::string &error() const { return error_; }

private:
	std::string path_, error_;
	bool mounted_ = false;
};

class StoreFaults : public ::testing::Test {
protected:
	// Starts the program on one active window and waits for `rows` rows.
	void StartAndWaitForRows(size_t rows)
	{
		ASSERT_TRUE(windows.Activate(windows.Open("store faults")));
		monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
		ASSERT_TRUE(WaitForRows(rows, 0)) << monitor.Log();
	}

	// Waits up to 30 s for `count` rows sampled at or after `since`.
	bool WaitForRows(size_t count, long long since)
	{
		for (int i = 0; i < 300; ++i) {
			if (RowsSince(since) >= count)
				return true;
			Sleep(0.1);
		}
		return false;
	}

	size_t RowsSince(long long since) { return RowsBetween(since, LLONG_MAX); }

	size_t RowsBetween(long long from, long long to)
	{
		size_t count = 0;
		for (const StoredRow &row : StoredRows(monitor.DbPath()))
			count += row.check_tm >= from && row.check_tm < to;
		return count;
	}

	int LogLines(const std::string &part) { return CountLines(monitor.Log(), part); }

	// Ends the run with an interrupt: status 0, sound file, earlier rows
	// unchanged.
	void StopAndCheck(const std::vector<StoredRow> &earlier)
	{
		EXPECT_TRUE(monitor.Running()) << monitor.Log();
		monitor.Signal(SIGINT);
		EXPECT_EQ(monitor.Wait(), 0);
		EXPECT_EQ(IntegrityCheck(monitor.DbPath()), "ok");
		const std::vector<StoredRow> rows = StoredRows(monitor.DbPath());
		ASSERT_GE(rows.size(), earlier.size());
		for (size_t i = 0; i < earlier.size(); ++i)
			EXPECT_TRUE(rows[i] == earlier[i]) << "row " << earlier[i].id;
	}

	void HoldLocked(const std::string &begin);

	TestWindows windows;
	MonitorProcess monitor;
};

const char kLockedInsert[] = "InsertTable err_msg:database is locked";
const char kLockedCreate[] = "create table fail msg:database is locked";
const char kUnprepared[] = "InsertTable err_msg:Parameter count mismatch";

// Holds the lock for the configured time, releases it, and waits for the
// rows to come back. Under a RESERVED lock each dropped row leaves four
// failed inserts in the log (only the write under way at the release can
// fail fewer times, and it stores its row); under an EXCLUSIVE lock even the
// schema cannot be read, and each dropped row leaves one failed table
// creation.
void StoreFaults::HoldLocked(const std::string &begin)
{
	// Long enough for a write to use up its retries under either lock
	// (4 inserts of up to 5 s each under a RESERVED lock).
	const int seconds = std::max(EnvCount("VORLIX_STRESS_LOCK_SECONDS", 30), 25);
	StartAndWaitForRows(2);
	const std::vector<StoredRow> before = StoredRows(monitor.DbPath());
	const int unprepared_before = LogLines(kUnprepared);

	LockHolder lock(monitor.DbPath(), begin);
	ASSERT_TRUE(lock.held());
	// The program's clock runs up to a second behind the wall clock: a row
	// sampled just before the lock may carry the lock's first second.
	const long long locked_at = WallSeconds() + 1;
	Sleep(seconds);
	lock.Release();
	const long long released_at = WallSeconds();
	const double release = Now();
	ASSERT_TRUE(WaitForRows(1, released_at)) << monitor.Log();
	const double resumed = Now() - release;
	const int locked_lines = LogLines(kLockedInsert);
	const int create_lines = LogLines(kLockedCreate);
	Sleep(3);
	// Nothing more fails once the lock is gone.
	EXPECT_EQ(LogLines(kLockedInsert), locked_lines);
	EXPECT_EQ(LogLines(kLockedCreate), create_lines);
	StopAndCheck(before);

	const int dropped = begin == "BEGIN EXCLUSIVE" ? create_lines : locked_lines / 4;
	std::printf("lock=\"%s\" locked_s=%d dropped=%d rows_sampled_in_lock=%zu "
		    "locked_insert_lines=%d locked_create_lines=%d "
		    "unprepared_lines=%d first_row_after_release_s=%.1f\n",
		    begin.c_str(), seconds, dropped,
		    RowsBetween(locked_at, released_at), locked_lines, create_lines,
		    LogLines(kUnprepared) - unprepared_before, resumed);
	EXPECT_GE(dropped, 1) << monitor.Log();
}

} // namespace

TEST_F(StoreFaults, ReservedLockHeldThirtySecondsDropsLoggedRowsThenRowsResume)
{
	HoldLocked("BEGIN IMMEDIATE");
}

TEST_F(StoreFaults, ExclusiveLockHeldThirtySecondsDropsLoggedRowsThenRowsResume)
{
	HoldLocked("BEGIN EXCLUSIVE");
}

TEST_F(StoreFaults, RecordFolderDeletedFailsTheOpenThenRowsResumeWhenItReturns)
{
	StartAndWaitForRows(2);
	const std::string folder = monitor.config / "rec";
	Shell("rm -rf '" + folder + "'");
	Sleep(5);
	const int open_fail = LogLines("WriteActiveInfo err:db open fail");
	EXPECT_TRUE(monitor.Running());
	EXPECT_FALSE(Exists(monitor.DbPath()));

	ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
	ASSERT_TRUE(WaitForRows(2, 0)) << monitor.Log();
	StopAndCheck({});
	const size_t rows_after = StoredRows(monitor.DbPath()).size();
	std::printf("deleted_s=5 open_fail_lines=%d rows_after_return=%zu\n",
		    open_fail, rows_after);
	EXPECT_GE(open_fail, 2);
	// The new file gets its table on the first write, as any new file does.
	EXPECT_EQ(LogLines(kUnprepared), 2);
}

TEST_F(StoreFaults, FullDiskFailsRowsWithALoggedErrorThenRowsResume)
{
	const std::string folder = monitor.config / "rec";
	ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
	SmallFileSystem small(folder, "256k");
	if (!small.mounted())
		GTEST_SKIP() << "a small file system cannot be mounted here (mount -t "
				"tmpfs needs root or CAP_SYS_ADMIN): " << small.error();
	StartAndWaitForRows(3);
	const std::vector<StoredRow> before = StoredRows(monitor.DbPath());

	Shell("dd if=/dev/zero of='" + folder + "/filler' bs=4096 2>/dev/null");
	const long long full_at = WallSeconds();
	Sleep(5);
	const int full_lines = LogLines("database or disk is full");
	const size_t rows_while_full = RowsSince(full_at + 1);
	EXPECT_EQ(IntegrityCheck(monitor.DbPath()), "ok");

	Shell("rm -f '" + folder + "/filler'");
	const long long freed_at = WallSeconds();
	ASSERT_TRUE(WaitForRows(2, freed_at)) << monitor.Log();
	StopAndCheck(before);
	std::printf("full_s=5 full_error_lines=%d rows_before=%zu rows_while_full=%zu "
		    "rows_after_freed=%zu\n",
		    full_lines, before.size(), rows_while_full, RowsSince(freed_at));
	EXPECT_GE(full_lines, 2) << monitor.Log();
	EXPECT_EQ(rows_while_full, 0u);
}

// Log and records below one application-data folder, as they are in use,
// on one small file system that fills up and is freed again: the lines that
// come once there is space again must reach the log, to its last line.
TEST_F(StoreFaults, FullDiskForLogAndRecordsLosesOnlyWhatCameWhileFull)
{
	SmallFileSystem small(monitor.config.path(), "512k");
	if (!small.mounted())
		GTEST_SKIP() << "a small file system cannot be mounted here (mount -t "
				"tmpfs needs root or CAP_SYS_ADMIN): " << small.error();
	const uint32_t later = windows.Open("after the full disk");
	StartAndWaitForRows(2);
	const std::vector<StoredRow> before = StoredRows(monitor.DbPath());

	const std::string filler = monitor.config / "filler";
	Shell("dd if=/dev/zero of='" + filler + "' bs=4096 2>/dev/null");
	// More log lines than the room left in the log's last page: failed
	// writes, and a change of foreground window with a long title every
	// half a second.
	const std::vector<uint32_t> busy = windows.OpenMany(2, std::string(130, 'x'));
	for (int i = 0; i < 24; ++i) {
		windows.Activate(busy[static_cast<size_t>(i) % busy.size()]);
		Sleep(0.5);
	}
	Shell("rm -f '" + filler + "'");
	const long long freed_at = WallSeconds();
	ASSERT_TRUE(WaitForRows(2, freed_at)) << monitor.Log();
	ASSERT_TRUE(windows.Activate(later));
	const bool logged = monitor.WaitForLog("window_title:after the full disk", 10);
	StopAndCheck(before);
	const std::string log = monitor.Log();
	std::printf("full_s=12 log_resumed=%d log_complete=%d rows_after_freed=%zu\n",
		    logged, log.find(": stopMonitor end!!!\n") != std::string::npos,
		    RowsSince(freed_at));
	EXPECT_TRUE(logged) << log;
	EXPECT_NE(log.find(": stopMonitor end!!!\n"), std::string::npos) << log;
}
