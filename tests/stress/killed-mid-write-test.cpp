// The program killed with SIGKILL at random moments while it samples every
// second, and started again after each kill: every row that a completed
// write committed must survive, and the file must stay sound.
//
// The moments cycle through three kinds: a random time after the start
// (start-up, idle or a write), just after a write has created its rollback
// journal, and the first write into the database file itself (a commit under
// way). After each kill the committed state is read from a copy of the
// files, so that the program itself meets any hot journal on its next start.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include <sys/stat.h>

#include "tests/stress/stress-support.h"
#include "tests/support/monitor-process.h"
#include "tests/support/test-windows-client.h"

using namespace testing_support;
using namespace stress;

namespace {

const char kDbName[] = "12.6.mon.db";

enum class Moment { Random, JournalCreated, DatabaseWritten };

// Waits for the moment, then kills at once. The event waits time out after
// 5 s, so a program that never writes is killed all the same.
void KillAt(MonitorProcess &monitor, FolderWatch &watch, Moment moment,
	    std::mt19937 &random)
{
	switch (moment) {
	case Moment::Random:
		Sleep(std::uniform_real_distribution<double>(0.0, 2.5)(random));
		break;
	case Moment::JournalCreated:
		if (watch.WaitFor(std::string(kDbName) + "-journal", false, 5000))
			Sleep(std::uniform_real_distribution<double>(0.0, 0.002)(random));
		break;
	case Moment::DatabaseWritten:
		watch.WaitFor(kDbName, true, 5000);
		break;
	}
	monitor.Signal(SIGKILL);
}

bool IsDecimal(const std::string &text)
{
	return !text.empty() &&
	       text.find_first_not_of("0123456789") == std::string::npos;
}

struct Tally {
	int killed = 0, mid_write = 0, ended_early = 0, unsound = 0;
	std::map<long long, StoredRow> seen; // every row ever found committed
	std::set<long long> lost;            // seen once, missing or changed later
};

// Checks that every row seen so far is still there, unchanged, then adds
// the rows found now.
void Account(Tally &tally, const std::vector<StoredRow> &rows)
{
	std::map<long long, const StoredRow *> now;
	for (const StoredRow &row : rows)
		now[row.id] = &row;
	for (const auto &[id, row] : tally.seen) {
		const auto found = now.find(id);
		if (found == now.end() || !(*found->second == row))
			tally.lost.insert(id);
	}
	for (const StoredRow &row : rows)
		tally.seen.emplace(row.id, row);
}

// Starts and kills the program `kills` times, reading the committed state
// after each kill.
void KillRepeatedly(MonitorProcess &monitor, int kills, std::mt19937 &random,
		    Tally &tally)
{
	FolderWatch watch(monitor.config / "rec");
	const auto args = MonitorProcess::Arguments({"--check_interval", "1"});
	for (int k = 0; k < kills; ++k) {
		watch.Drain();
		monitor.Start(args);
		KillAt(monitor, watch, static_cast<Moment>(k % 3), random);
		if (monitor.Wait() == 128 + SIGKILL)
			++tally.killed;
		else
			++tally.ended_early; // it must still be running when killed
		const Committed committed = ReadCommitted(monitor.DbPath());
		tally.mid_write += committed.hot_journal;
		if (!committed.rows.empty() && committed.integrity != "ok")
			++tally.unsound;
		Account(tally, committed.rows);
	}
}

// Rows whose encrypted columns do not decrypt (with the openssl command) to
// what the run recorded.
int Undecryptable(const std::vector<StoredRow> &rows)
{
	Decryptor decrypt(kTestKey);
	int undecryptable = 0;
	for (const StoredRow &row : rows)
		if (!IsDecimal(decrypt(row.active_tm)) ||
		    decrypt(row.process) != "vorlix-test-windows" ||
		    row.title != "killed mid-write" || row.member_id != 7)
			++undecryptable;
	return undecryptable;
}

} // namespace

TEST(KilledMidWrite, NoCommittedRowIsLostAcrossSigkillsAtRandomMoments)
{
	const int kills = EnvCount("VORLIX_STRESS_KILLS", 200);
	TestWindows windows;
	ASSERT_TRUE(windows.Activate(windows.Open("killed mid-write")));
	MonitorProcess monitor;
	ASSERT_EQ(mkdir((monitor.config / "rec").c_str(), 0755), 0);
	const unsigned seed = std::random_device{}();
	std::mt19937 random(seed);
	Tally tally;
	KillRepeatedly(monitor, kills, random, tally);

	// One clean run after the last kill: it recovers what that kill left,
	// writes on and ends normally.
	const size_t before = StoredRows(monitor.DbPath()).size();
	monitor.Start(MonitorProcess::Arguments({"--check_interval", "1"}));
	for (int i = 0; i < 150 && StoredRows(monitor.DbPath()).size() <= before; ++i)
		Sleep(0.1);
	monitor.Signal(SIGINT);
	EXPECT_EQ(monitor.Wait(), 0) << monitor.Log();
	EXPECT_EQ(IntegrityCheck(monitor.DbPath()), "ok");
	const std::vector<StoredRow> rows = StoredRows(monitor.DbPath());
	EXPECT_GT(rows.size(), before) << "no row after the last restart";
	Account(tally, rows);
	const int undecryptable = Undecryptable(rows);

	std::printf("killed=%d mid_write=%d checked=%zu lost=%zu rows=%zu "
		    "undecryptable=%d unsound=%d ended_early=%d seed=%u\n",
		    tally.killed, tally.mid_write, tally.seen.size(),
		    tally.lost.size(), rows.size(), undecryptable, tally.unsound,
		    tally.ended_early, seed);
	EXPECT_EQ(tally.killed, kills);
	EXPECT_EQ(tally.ended_early, 0);
	EXPECT_EQ(tally.lost.size(), 0u);
	EXPECT_EQ(tally.unsound, 0);
	EXPECT_EQ(undecryptable, 0);
	EXPECT_GT(tally.mid_write, 0) << "no kill met a write under way";
}
