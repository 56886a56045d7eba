#pragma once
// The dated log file of each start and the clean-up of old ones.
#include <cstdint>
#include <fstream>
#include <string>

// Opens a new log file named after the local start time in the log directory
// `log_dir` (relative to the application-data folder), prunes old log files
// and installs FileLogHandler on the stream. An existing file is never
// truncated: when the name is taken, " (2)", " (3)", ... is put before the
// extension. The file stays locked (see PruneLogFiles) for the life of the
// process; a lock that cannot be taken within half a second is logged once.
// On failure logs "Failed to open log file" and leaves the stream closed.
void OpenLogFile(std::fstream &stream, const std::string &log_dir);

// "YYYY-MM-DD HH-MM-SS.txt" for the current local time.
std::string MakeLogFileName();

// Counts the log files of `log_dir` and, when more than three are present,
// deletes the one with the smallest key, unless that is `current_name`, the
// file open as the log. A log file that cannot be locked (the live log of
// another running instance) is neither counted nor deleted.
void PruneLogFiles(const std::string &log_dir,
		   const std::string &current_name = std::string());

// The six digit runs of a "Y-M-D H-M-S" name, concatenated and read as one
// number; 0 for a name that is not a log file (or whose digits exceed 64 bits).
uint64_t LogFileNameKey(const char *name);
