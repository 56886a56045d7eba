#pragma once
// What the fault tests and their benchmarks share: sizes that bench/run
// raises to the full run, rows read as stored with the sqlite3 command,
// openssl decryption with a cache, a watch for files changing in a folder,
// and the record file held locked by another process.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {
class MonitorProcess;
}

namespace stress {

// The positive integer in environment variable `name`, else `fallback`.
// ctest runs the long cases smaller (tests/stress/CMakeLists.txt); bench/run
// runs them at full size.
int EnvCount(const char *name, int fallback);

void Sleep(double seconds);

// Seconds on a steady clock, for figures only.
double Now();

// Wall-clock Unix seconds: the program's check_tm follows this clock.
long long WallSeconds();

// One row of monitor_detail exactly as stored (encrypted columns as base64).
struct StoredRow {
	long long id = 0;
	long long member_id = 0;
	std::string active_tm;
	long long check_tm = 0;
	std::string process;
	std::string title;

	bool operator==(const StoredRow &other) const;
};

// Every row in id order, read with the sqlite3 command; empty when the file
// or the table does not exist.
std::vector<StoredRow> StoredRows(const std::string &db);

// The output of PRAGMA integrity_check ("ok" for a sound file).
std::string IntegrityCheck(const std::string &db);

// The committed content of a database that a killed writer may have left
// with a hot journal. The file and its journal are copied and the copy is
// read (sqlite3 rolls the journal back there), so that the original stays
// as it was for the program to recover on its next start.
struct Committed {
	std::vector<StoredRow> rows;
	std::string integrity;
	bool hot_journal = false; // a non-empty journal was left behind
};
Committed ReadCommitted(const std::string &db);

// Decrypts stored values with the openssl command, once per distinct text.
class Decryptor {
public:
	explicit Decryptor(std::string key) : key_(std::move(key)) {}
	std::string operator()(const std::string &base64);

private:
	std::string key_;
	std::map<std::string, std::string> cache_;
};

// Reports files created or written in one folder (inotify).
class FolderWatch {
public:
	explicit FolderWatch(const std::string &folder);
	~FolderWatch();
	FolderWatch(const FolderWatch &) = delete;
	FolderWatch &operator=(const FolderWatch &) = delete;

	// Forgets every event so far.
	void Drain();
	// Waits until `name` is created (or, with `written`, written to);
	// false after `timeout_ms`.
	bool WaitFor(const std::string &name, bool written, int timeout_ms);

private:
	int fd_ = -1;
};

// Lines of `text` that contain `part`.
int CountLines(const std::string &text, const std::string &part);

// Rows of `db` sampled at or after `from` and before `to` (wall seconds).
size_t RowsBetween(const std::string &db, long long from, long long to);

// Waits up to 30 s for `count` rows of `db` sampled at or after `since`.
bool WaitForRows(const std::string &db, size_t count, long long since);

// What the program logs for an insert, and for the creation of its table,
// that failed on a locked database.
extern const char kLockedInsert[];
extern const char kLockedCreate[];

// Seconds to hold a lock ($VORLIX_STRESS_LOCK_SECONDS, 30): never fewer
// than a write needs to use up its retries under either lock (4 inserts of
// up to 5 s each under a RESERVED lock).
int LockSeconds();

// The record file of a running program held by another process (the
// sqlite3 command, in a transaction begun with `begin`: "BEGIN IMMEDIATE"
// takes a RESERVED lock, "BEGIN EXCLUSIVE" an EXCLUSIVE one) for `seconds`,
// then let go, and the program's first row after that.
struct LockedRun {
	bool held = false;    // the lock was taken
	bool resumed = false; // a row sampled after the release came within 30 s
	double resumed_s = 0; // from the release to that row
	size_t rows_in_lock = 0;
	// Log lines that came by that row: failed inserts, failed table
	// creations, and statements left unprepared by a failed creation.
	int insert_lines = 0;
	int create_lines = 0;
	int unprepared_lines = 0;
	// Rows lost: under a RESERVED lock each leaves four failed inserts
	// (only the write under way at the release can fail fewer times, and
	// it stores its row); under an EXCLUSIVE lock even the schema cannot be
	// read, and each leaves one failed table creation.
	int dropped = 0;
};
LockedRun RunUnderLock(const testing_support::MonitorProcess &monitor,
		       const std::string &begin, int seconds);

} // namespace stress
