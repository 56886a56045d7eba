#pragma once
// Where a user's record file lies: what the monitor writes and
// vorlix-records reads, without the database code.
#include <string>

// How every record file's name ends, after the user id.
extern const char *const kRecordFileSuffix;

// The relative part "<record_dir>\<user_id>.6.mon.db", however long, and the
// full path below the application-data folder ("/" on POSIX), both as the
// bytes of the file name.
std::string MonitorDbRelativePath(const std::string &record_dir, int user_id);
std::string MonitorDbPath(const std::string &record_dir, int user_id);
