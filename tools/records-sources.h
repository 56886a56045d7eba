#pragma once
// Which record files a command reads, whose they are, and under which key.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/records-options.h"

struct RecordSource {
	std::string path;
	// The number in the file name "N.6.mon.db" (the monitor's user id); ""
	// when the name holds none.
	std::string user_id;
};

// The user id that the monitor puts in a record file's name.
std::string UserIdOfFile(const std::string &path);

// The files of the command line: each FILE as given, each FOLDER as every
// "*.6.mon.db" below it (in path order); a file reached twice is read
// once. A folder that holds none adds a line to `problems`.
std::vector<RecordSource> FindRecordSources(
	const std::vector<std::string> &paths,
	std::vector<std::string> &problems);

// The key of every file: one for all (--key, --key-file) or one per user
// (--keys).
class RecordKeys {
public:
	// False with one line in `error` when a key or the keys file is unfit.
	bool Load(const RecordsOptions &options, std::string &error);
	// False with the reason in `error` when there is no key for `source`.
	bool Find(const RecordSource &source, std::string &key,
		  std::string &error) const;

private:
	bool LoadKeysFile(const std::string &path, std::string &error);

	std::string key_; // for all files, when keys_file_ is empty
	std::string keys_file_;
	std::map<std::string, std::string> by_user_;
};

// Reads a small text file (a key, the keys, the categories) whole; false
// with one line in `error`, naming it as `what`, when it cannot be read or
// exceeds `limit` bytes.
bool ReadSmallFile(const char *what, const std::string &path, size_t limit,
		   std::string &text, std::string &error);

// Reads a settings file (the keys, the categories) and gives `use` each
// line that is not blank and does not start with "#", without its line
// break and without a UTF-8 byte-order mark at the start of the file, and
// "PATH line N" for its error messages. Stops with false at the
// first line for which `use` returns false, having set `error`.
bool ForEachSettingLine(
	const char *what, const std::string &path, size_t limit,
	const std::function<bool(const std::string &line,
				 const std::string &where)> &use,
	std::string &error);
