#include "tools/records-file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <sqlite3.h>

namespace {

// Rows per read: short enough that the monitor's insert, which waits while
// the file is being read, is never held up for long.
constexpr int64_t kBatchRows = 2000;
// How long a read waits while the monitor is writing.
constexpr int kBusyTimeoutMs = 5000;

const char *const kRowColumns =
	"member_id, active_tm, check_tm, process, title";

// SQLite may read a name that starts with "file:" as a URI, and takes
// ":memory:" for a new empty database of its own; "./" in front keeps each
// an ordinary file name. Any other name goes as given: a Windows name such
// as "C:\records.db" must not be made relative.
std::string PlainFileName(const std::string &path)
{
	return path.compare(0, 5, "file:") == 0 || path == ":memory:"
		       ? "./" + path
		       : path;
}

void ColumnText(sqlite3_stmt *stmt, int column, std::string &out)
{
	const unsigned char *text = sqlite3_column_text(stmt, column);
	const int bytes = sqlite3_column_bytes(stmt, column);
	if (text)
		out.assign(reinterpret_cast<const char *>(text),
			   static_cast<size_t>(bytes));
	else
		out.clear();
}

} // namespace

RecordFile::~RecordFile()
{
	sqlite3_close_v2(db_);
}

bool RecordFile::Open(const std::string &path, std::string &error)
{
	path_ = path;
	// A UTF-8 name on Windows, bytes as given on POSIX: u8path takes both.
	std::error_code failure;
	const auto status =
		std::filesystem::status(std::filesystem::u8path(path), failure);
	if (!std::filesystem::exists(status)) {
		error = failure && failure != std::errc::no_such_file_or_directory
			? "cannot open " + path + ": " + failure.message()
			: "no such file: " + path;
		return false;
	}
	if (!std::filesystem::is_regular_file(status)) {
		error = path + " is not a regular file";
		return false;
	}
	if (sqlite3_open_v2(PlainFileName(path).c_str(), &db_,
			    SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
			    nullptr) != SQLITE_OK) {
		error = "cannot open " + path + ": " + sqlite3_errmsg(db_);
		return false;
	}
	sqlite3_busy_timeout(db_, kBusyTimeoutMs);
	// Summary and report read the file twice: mapped, its pages are read
	// from the system's cache without being copied each time.
	sqlite3_exec(db_, "PRAGMA mmap_size = 1073741824", nullptr, nullptr,
		     nullptr);
	int64_t tables = 0;
	if (!Query("SELECT count(*) FROM sqlite_master WHERE type = 'table'"
		   " AND name = 'monitor_detail'",
		   tables, error))
		return false;
	if (tables == 0) {
		error = path + " has no table monitor_detail";
		return false;
	}
	// An empty walk prepares the row query: a table without the expected
	// columns is refused here, before anything is written out.
	return Walk(kRowColumns, Period(), 0,
		    [](sqlite3_stmt *) { return true; }, error) &&
	       Query("SELECT ifnull(max(id), 0) FROM monitor_detail", last_id_,
		     error);
}

bool RecordFile::Query(const char *sql, int64_t &value, std::string &error)
{
	sqlite3_stmt *stmt = nullptr;
	int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
	if (rc == SQLITE_OK) {
		rc = sqlite3_step(stmt);
		if (rc == SQLITE_ROW)
			value = sqlite3_column_int64(stmt, 0);
	}
	if (rc != SQLITE_ROW) {
		error = sqlite3_extended_errcode(db_) == SQLITE_NOTADB
				? path_ + " is not an SQLite database"
				: "cannot read " + path_ + ": " +
					  sqlite3_errmsg(db_);
	}
	sqlite3_finalize(stmt);
	return rc == SQLITE_ROW;
}

bool RecordFile::Walk(const char *columns, const Period &period,
		      int64_t limit,
		      const std::function<bool(sqlite3_stmt *)> &row,
		      std::string &error)
{
	const std::string sql =
		std::string("SELECT id, ") + columns +
		" FROM monitor_detail WHERE id > ?1 AND id <= ?2"
		" AND check_tm >= ?3 AND check_tm <= ?4 ORDER BY id LIMIT ?5";
	sqlite3_stmt *stmt = nullptr;
	if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) !=
	    SQLITE_OK) {
		error = path_ + ": table monitor_detail lacks the expected "
				"columns (" + sqlite3_errmsg(db_) + ")";
		return false;
	}
	sqlite3_bind_int64(stmt, 2, last_id_);
	sqlite3_bind_int64(stmt, 3, period.has_since ? period.since : INT64_MIN);
	sqlite3_bind_int64(stmt, 4,
			   !period.has_until ? INT64_MAX
			   : period.until > INT64_MIN ? period.until - 1
						      : INT64_MIN);
	int64_t after = INT64_MIN, left = limit < 0 ? INT64_MAX : limit;
	int rc = SQLITE_DONE;
	bool more = left > 0;
	while (more) {
		const int64_t batch = std::min(left, kBatchRows);
		sqlite3_bind_int64(stmt, 1, after);
		sqlite3_bind_int64(stmt, 5, batch);
		int64_t seen = 0;
		while (more && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
			after = sqlite3_column_int64(stmt, 0);
			++seen;
			more = row(stmt);
		}
		// Resetting ends the read, so the monitor can write in between.
		sqlite3_reset(stmt);
		left -= seen;
		more = more && rc == SQLITE_DONE && seen == batch && left > 0;
	}
	if (rc != SQLITE_ROW && rc != SQLITE_DONE)
		error = "cannot read " + path_ + ": " + sqlite3_errstr(rc);
	sqlite3_finalize(stmt);
	return error.empty();
}

bool RecordFile::ForEach(const Period &period,
			 const std::function<bool(const RawRecord &)> &row,
			 std::string &error, int64_t limit)
{
	RawRecord record;
	return Walk(kRowColumns, period, limit,
		    [&](sqlite3_stmt *stmt) {
			    record.id = sqlite3_column_int64(stmt, 0);
			    record.member_id = sqlite3_column_int64(stmt, 1);
			    ColumnText(stmt, 2, record.active_tm);
			    record.check_tm = sqlite3_column_int64(stmt, 3);
			    ColumnText(stmt, 4, record.process);
			    ColumnText(stmt, 5, record.title);
			    return row(record);
		    },
		    error);
}

bool RecordFile::ForEachCheckTime(const Period &period,
				  const std::function<void(int64_t)> &check_tm,
				  std::string &error)
{
	return Walk("check_tm", period, -1,
		    [&](sqlite3_stmt *stmt) {
			    check_tm(sqlite3_column_int64(stmt, 1));
			    return true;
		    },
		    error);
}
