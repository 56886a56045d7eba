// Writes while another process holds the database locked through the sqlite3
// command. Qt's SQLite driver waits up to 5 s for a lock by itself (its busy
// timeout), so each case takes seconds; the cases are separate tests so that
// ctest runs them side by side.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <thread>

#include <QSqlDatabase>
#include <util/base.h>

#include "monitor/shared-sample.h"
#include "store/monitor-db.h"
#include "tests/store/store-testing.h"
#include "tests/support/log-capture.h"
#include "tests/support/test-support.h"

using namespace store_testing;
using testing_support::Exists;
using testing_support::LogCapture;
using testing_support::Shell;
using testing_support::TempConfigHome;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kInsert = "INSERT INTO monitor_detail (member_id, active_tm, "
			    "check_tm,process,title) VALUES (:mid, :atm, :ctm, "
			    ":p, :t)";

// Another process holding the database in a transaction begun with `begin`
// ("BEGIN IMMEDIATE": a RESERVED lock; "BEGIN EXCLUSIVE") until it is
// released or `max_seconds` have passed.
class LockHolder {
public:
	LockHolder(const std::string &db, const std::string &begin,
		   double max_seconds)
	{
		WriteFile(dir_ / "hold.sh",
			  "touch '" + (dir_ / "locked") + "'\n"
			  "end=$(( $(date +%s%N) / 1000000 + " +
				  std::to_string(static_cast<long>(max_seconds * 1000)) +
				  " ))\n"
				  "while [ ! -e '" + (dir_ / "release") + "' ] && "
				  "[ $(( $(date +%s%N) / 1000000 )) -lt $end ]; do "
				  "sleep 0.02; done\n");
		Shell("sqlite3 '" + db + "' '" + begin + ";' '.shell sh " +
		      (dir_ / "hold.sh") + "' 'COMMIT;' '.shell touch " +
		      (dir_ / "done") + "' >/dev/null 2>&1 &");
		WaitFor("locked");
	}
	~LockHolder() { Release(); }

	void Release()
	{
		WriteFile(dir_ / "release", "");
		WaitFor("done");
	}

private:
	void WaitFor(const std::string &name)
	{
		for (int i = 0; i < 3000 && !Exists(dir_ / name); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		ASSERT_TRUE(Exists(dir_ / name)) << name;
	}

	TempDir dir_;
};

class LockedMonitorDb : public ::testing::Test {
protected:
	void SetUp() override
	{
		InstallQtApplication();
		SharedSample::SetUserInfo(12, 7);
		SharedSample::SetCipherKey("0123456789abcdef");
		SharedSample::SetRecordDir("records");
		SetSample(1700000100, 1700000160, u"firefox-esr", u"Mozilla Firefox");
		Shell("mkdir -p '" + (home_ / "records") + "'");
		// One row written before the lock: the file and table exist.
		WriteActiveInfo();
		logs_.clear();
	}

	void TearDown() override
	{
		RemoveMonitorConnection();
		for (const auto &message : qt_.Take())
			EXPECT_EQ(message.find("still in use"), std::string::npos)
				<< message;
	}

	// Writes one row and reports how long the write took.
	double TimedWrite()
	{
		const auto start = std::chrono::steady_clock::now();
		WriteActiveInfo();
		const std::chrono::duration<double> took =
			std::chrono::steady_clock::now() - start;
		std::cout << "write took " << took.count() << " s\n";
		RecordProperty("write_seconds", std::to_string(took.count()));
		return took.count();
	}

	size_t RowCount() { return ReadRows(db_).size(); }

	TempConfigHome home_;
	const std::string db_ = home_ / "records/12.6.mon.db";
	LogCapture logs_;
	QtMessages qt_;
};

} // namespace

TEST_F(LockedMonitorDb, ReservedLockHeldThroughoutDropsRowAfterThreeRetries)
{
	LockHolder lock(db_, "BEGIN IMMEDIATE", 60);
	const double seconds = TimedWrite();
	lock.Release();

	const std::string locked = "InsertTable err_msg:database is locked Unable "
				   "to fetch row query:" + kInsert;
	EXPECT_EQ(logs_.Texts(LOG_ERROR), std::vector<std::string>(4, locked));
	EXPECT_GE(seconds, 0.9); // the three waits of the retry
	EXPECT_EQ(RowCount(), 1u);
	EXPECT_TRUE(QSqlDatabase::contains(kMonitorConnection));
	EXPECT_FALSE(QSqlDatabase::database(kMonitorConnection, false).isOpen());
}

TEST_F(LockedMonitorDb, ReservedLockReleasedAfterSixSecondsStoresRowOnRetry)
{
	LockHolder lock(db_, "BEGIN IMMEDIATE", 6);
	TimedWrite();

	const std::string locked = "InsertTable err_msg:database is locked Unable "
				   "to fetch row query:" + kInsert;
	EXPECT_EQ(logs_.Texts(LOG_ERROR), std::vector<std::string>{locked});
	EXPECT_EQ(RowCount(), 2u);
}

// An exclusive lock keeps even the schema from being read: the statement
// cannot be prepared, its execution reports a parameter count mismatch
// instead of the lock, and the table creation meets the lock.
TEST_F(LockedMonitorDb, ExclusiveLockFailsPreparationThenTableCreation)
{
	LockHolder lock(db_, "BEGIN EXCLUSIVE", 60);
	TimedWrite();
	lock.Release();

	EXPECT_EQ(logs_.Texts(LOG_ERROR),
		  (std::vector<std::string>{
			  "InsertTable err_msg:Parameter count mismatch query:" +
				  kInsert,
			  "create table fail msg:database is locked Unable to "
			  "execute statement"}));
	EXPECT_EQ(RowCount(), 1u);
	EXPECT_FALSE(QSqlDatabase::database(kMonitorConnection, false).isOpen());
}
