#pragma once
// What the record store's tests share: the Qt application object that the
// SQL driver plugins need, Qt's own warnings, the sample to write, the rows
// read back with SQLite's C interface and values decrypted with the openssl
// command, both independent of the code under test.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test-support.h"

namespace store_testing {

// Creates the QCoreApplication once, before the first test.
void InstallQtApplication();

// Records Qt's warnings (e.g. "connection ... is still in use") for the life
// of the object instead of printing them.
class QtMessages {
public:
	QtMessages();
	~QtMessages();
	std::vector<std::string> Take();
	bool Contains(const std::string &part) const;
};

// Fills the shared sample that a write reads.
void SetSample(int64_t active_tm, int64_t check_tm, const std::u16string &process,
	       const std::u16string &title);

struct Row {
	int64_t id = 0;
	int64_t member_id = 0;
	std::string active_tm;
	int64_t check_tm = 0;
	std::string process;
	std::string title;
	std::string types; // typeof() of the five stored columns, "," between
};

// All rows of monitor_detail in id order; empty when there is no such table.
std::vector<Row> ReadRows(const std::string &db_path);
// The stored creation statement of monitor_detail.
std::string StoredSchema(const std::string &db_path);
// Runs statements through the sqlite3 command on `db_path`.
std::string Sqlite(const std::string &db_path, const std::string &sql);

using testing_support::Hex;
// base64 text decrypted with `openssl enc -d -aes-128-cbc`, the key as key
// and as IV.
std::string OpensslDecrypt(const std::string &base64_text, const std::string &key);

} // namespace store_testing
