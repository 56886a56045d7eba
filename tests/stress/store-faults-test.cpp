// The record store's faults while the real program samples every second:
// the database held locked by another process, the record folder deleted,
// and a full disk. bench/store-locks.cpp measures what the locks cost.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <string>

#include <sys/stat.h>

#include "tests/stress/stress-support.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using namespace stress;

namespace {

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

	bool WaitForRows(size_t count, long long since)
	{
		return stress::WaitForRows(monitor.DbPath(), count, since);
	}

	size_t RowsSince(long long since)
	{
		return RowsBetween(monitor.DbPath(), since, LLONG_MAX);
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

const char kUnprepared[] = "InsertTable err_msg:Parameter count mismatch";

// Holds the lock, releases it, and waits for the rows to come back.
void StoreFaults::HoldLocked(const std::string &begin)
{
	StartAndWaitForRows(2);
	const std::vector<StoredRow> before = StoredRows(monitor.DbPath());
	const LockedRun run = RunUnderLock(monitor, begin, LockSeconds());
	ASSERT_TRUE(run.held);
	ASSERT_TRUE(run.resumed) << monitor.Log();
	Sleep(3);
	// Nothing more fails once the lock is gone.
	EXPECT_EQ(LogLines(kLockedInsert), run.insert_lines);
	EXPECT_EQ(LogLines(kLockedCreate), run.create_lines);
	StopAndCheck(before);
	EXPECT_GE(run.dropped, 1) << monitor.Log();
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
	EXPECT_TRUE(logged) << log;
	EXPECT_NE(log.find(": stopMonitor end!!!\n"), std::string::npos) << log;
}
