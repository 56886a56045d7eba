#pragma once
// Record files made without any of the project's own code (the sqlite3 and
// openssl commands), and helpers that read a record file back with the
// built vorlix-records. The end-to-end tests of the monitor use
// ListWithTool to check the files that the real monitor writes.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "tests/support/test-support.h"

namespace records_fixture {

extern const char *const kKey; // "0123456789abcdef"

struct Row {
	int64_t member_id = 7;
	std::string active_tm; // the decimal text that the monitor encrypts
	int64_t check_tm = 0;
	std::string process;
	std::string title;
	// Store active_tm / process exactly as given, not encrypted (damage).
	bool raw_active = false;
	bool raw_process = false;
};

// AES-128-CBC with key = IV = `key`, PKCS#7, base64 on one line, made by
// the openssl command.
std::string OpensslEncrypt(const std::string &key, const std::string &plain);

// Creates `path` with the monitor's table, through the sqlite3 command,
// holding `rows` (ids 1, 2, ...). Titles are stored byte for byte.
void WriteRecordFile(const std::string &path, const std::string &key,
		     const std::vector<Row> &rows);

// Two users around local midnight in kTeamZone (UTC+8, no daylight saving;
// 2024-05-02 00:00 there is kTeamMidnight), samples 10 s apart as a rule:
// `dir`/team/12.6.mon.db under kKey, `dir`/team/sub/13.6.mon.db under
// kOtherKey, their `dir`/keys, and `dir`/categories, in which a row of
// chrome titled Mail matches the first two.
extern const char *const kOtherKey; // "fedcba9876543210"
extern const char *const kTeamZone; // "TZ=Asia/Shanghai"
constexpr int64_t kTeamMidnight = 1714579200;
void WriteTeamFiles(const std::string &dir);

// Overwrites the page of the SQLite file `path` that lies halfway through
// it with 0xFF bytes, as a failing disk might: a read of the table gets its
// first rows, then stops with "database disk image is malformed".
void DamageMiddlePage(const std::string &path);

// Runs the built vorlix-records; TZ=UTC unless `env` says otherwise.
testing_support::RunResult RunTool(const std::vector<std::string> &args,
				   std::vector<std::string> env = {});

// RFC 4180 records of `text`.
std::vector<std::vector<std::string>> ParseCsv(const std::string &text);

struct ListedRow {
	int64_t id = 0;
	int64_t member_id = 0;
	int64_t check_tm = 0;
	std::string active_tm; // decimal, or "?" when it did not decrypt
	std::string idle;      // "" when active_tm is 0
	std::string process;
	std::string title;
};

// Every row of the record file `path` as `vorlix-records list --format csv`
// shows it, with the key given through a key file. Adds a test failure
// (and returns what it could read) when the tool does not succeed.
std::vector<ListedRow> ListWithTool(const std::string &path,
				    const std::string &key);

// What "never changed" compares: existence, bytes and modification time,
// and the names in the file's folder (no journal left behind).
struct FileState {
	bool exists = false;
	std::string bytes;
	timespec mtime{};
	std::vector<std::string> folder;
	bool operator==(const FileState &other) const;
};
FileState SnapshotFile(const std::string &path);

using testing_support::Hex;

} // namespace records_fixture
