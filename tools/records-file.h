#pragma once
// Read-only access to a record file and its table monitor_detail.
#include <cstdint>
#include <functional>
#include <string>

#include "tools/records-options.h"

struct sqlite3;

// One row as stored: the two protected values still encrypted.
struct RawRecord {
	int64_t id = 0;
	int64_t member_id = 0;
	std::string active_tm;
	int64_t check_tm = 0;
	std::string process;
	std::string title;
};

class RecordFile {
public:
	RecordFile() = default;
	~RecordFile();
	RecordFile(const RecordFile &) = delete;
	RecordFile &operator=(const RecordFile &) = delete;

	// Opens `path` read-only (a missing file is never created) and checks
	// that it is an SQLite file with the table monitor_detail. Returns false
	// with one line in `error` otherwise.
	bool Open(const std::string &path, std::string &error);

	// Calls `row` for the rows of `period` in the order they were written,
	// up to the newest row at the time of opening, so that every pass over
	// the file sees the same rows while the monitor keeps writing. Reads in
	// short batches: the monitor's insert waits for one batch at most.
	// Stops early when `row` returns false; `limit` < 0 reads all.
	bool ForEach(const Period &period,
		     const std::function<bool(const RawRecord &)> &row,
		     std::string &error, int64_t limit = -1);

	// The same walk over check_tm alone, without reading the other values.
	bool ForEachCheckTime(const Period &period,
			      const std::function<void(int64_t)> &check_tm,
			      std::string &error);

private:
	bool Query(const char *sql, int64_t &value, std::string &error);
	bool Walk(const char *columns, const Period &period, int64_t limit,
		  const std::function<bool(struct sqlite3_stmt *)> &row,
		  std::string &error);

	sqlite3 *db_ = nullptr;
	std::string path_;
	int64_t last_id_ = 0;
};
