#include "store/record-path.h"

#include "paths/app-data-path.h"
#include "platform/platform.h"

const char *const kRecordFileSuffix = ".6.mon.db";

std::string MonitorDbRelativePath(const std::string &record_dir, int user_id)
{
	// Never cut: a shortened name would put the rows into another file, or
	// name the folder itself and lose every row. The separator is the
	// platform's: on POSIX a "\" would be part of the file name and put the
	// database beside the record directory instead of in it.
	return record_dir + platform::PathSeparator() + std::to_string(user_id) +
	       kRecordFileSuffix;
}

std::string MonitorDbPath(const std::string &record_dir, int user_id)
{
	return ConfigPath(MonitorDbRelativePath(record_dir, user_id));
}
