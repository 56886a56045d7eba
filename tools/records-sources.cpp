#include "tools/records-sources.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "store/record-path.h"
#include "tools/records-names.h"

namespace {

constexpr size_t kKeyFileLimit = 4096;
constexpr size_t kKeysFileLimit = 1 << 20;

// "-0012" and "-12" name the same user: the canonical decimal text, or ""
// when `text` is no integer.
std::string CanonicalUserId(const std::string &text)
{
	const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
	if (text.size() == digits || text.size() > 12 ||
	    text.find_first_not_of("0123456789", digits) != std::string::npos)
		return std::string();
	return std::to_string(std::strtoll(text.c_str(), nullptr, 10));
}

void AddFolder(const std::string &folder, std::vector<std::string> &files,
	       std::vector<std::string> &problems)
{
	std::vector<std::string> found;
	QDirIterator it(records_names::QtName(folder), {QString("*") + kRecordFileSuffix},
			QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
	while (it.hasNext())
		found.push_back(records_names::FromQtName(it.next()));
	if (found.empty())
		problems.push_back("no record file (*" + std::string(kRecordFileSuffix) +
				   ") below " + folder);
	std::sort(found.begin(), found.end());
	files.insert(files.end(), found.begin(), found.end());
}

// Strips one line break that an editor or "echo" adds.
void StripLineBreak(std::string &text)
{
	if (!text.empty() && text.back() == '\n') {
		text.pop_back();
		if (!text.empty() && text.back() == '\r')
			text.pop_back();
	}
}

std::string KeyLengthError(const std::string &key)
{
	return "the key must be 16 bytes long, not " +
	       std::to_string(key.size());
}

} // namespace

std::string UserIdOfFile(const std::string &path)
{
	const size_t slash = path.find_last_of("/\\");
	const std::string name =
		slash == std::string::npos ? path : path.substr(slash + 1);
	const size_t suffix = std::strlen(kRecordFileSuffix);
	if (name.size() <= suffix ||
	    name.compare(name.size() - suffix, suffix, kRecordFileSuffix) != 0)
		return std::string();
	return CanonicalUserId(name.substr(0, name.size() - suffix));
}

std::vector<RecordSource> FindRecordSources(
	const std::vector<std::string> &paths,
	std::vector<std::string> &problems)
{
	std::vector<std::string> files;
	for (const std::string &path : paths) {
		if (QFileInfo(records_names::QtName(path)).isDir())
			AddFolder(path, files, problems);
		else
			files.push_back(path);
	}
	std::vector<RecordSource> sources;
	std::set<QString> seen;
	for (const std::string &file : files) {
		const QString real = QFileInfo(records_names::QtName(file)).canonicalFilePath();
		if (!real.isEmpty() && !seen.insert(real).second)
			continue;
		sources.push_back({file, UserIdOfFile(file)});
	}
	return sources;
}

bool ReadSmallFile(const char *what, const std::string &path, size_t limit,
		   std::string &text, std::string &error)
{
	std::ifstream file(records_names::FileName(path), std::ios::binary);
	if (!file) {
		error = std::string("cannot read ") + what + " " + path + ": " +
			std::strerror(errno);
		return false;
	}
	text.assign(limit + 1, '\0');
	file.read(&text[0], static_cast<std::streamsize>(text.size()));
	const size_t size = static_cast<size_t>(file.gcount());
	const bool failed = file.bad();
	text.resize(size);
	if (failed)
		error = std::string("cannot read ") + what + " " + path;
	else if (size > limit)
		error = std::string(what) + " " + path + " is larger than " +
			std::to_string(limit) + " bytes";
	return error.empty();
}

bool ForEachSettingLine(
	const char *what, const std::string &path, size_t limit,
	const std::function<bool(const std::string &, const std::string &)> &use,
	std::string &error)
{
	std::string text;
	if (!ReadSmallFile(what, path, limit, text, error))
		return false;
	// A byte-order mark, as Windows editors write at the start of UTF-8,
	// is no part of the first line.
	size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
	for (int number = 1; start < text.size(); ++number) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		std::string line = text.substr(start, end - start);
		start = end + 1;
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		if (!line.empty() && line[0] != '#' &&
		    !use(line, path + " line " + std::to_string(number)))
			return false;
	}
	return true;
}

bool RecordKeys::Load(const RecordsOptions &options, std::string &error)
{
	if (options.has_keys_file)
		return LoadKeysFile(options.keys_file, error);
	if (options.has_key) {
		key_ = options.key;
	} else {
		if (!ReadSmallFile("key file", options.key_file, kKeyFileLimit,
				   key_, error))
			return false;
		StripLineBreak(key_);
	}
	if (key_.size() != 16)
		error = KeyLengthError(key_);
	return error.empty();
}

// Lines "USER_ID KEY": the key is the rest of the line after one space or
// tab, so that a key holding spaces can be given too.
bool RecordKeys::LoadKeysFile(const std::string &path, std::string &error)
{
	keys_file_ = path;
	return ForEachSettingLine(
		"keys file", path, kKeysFileLimit,
		[&](const std::string &line, const std::string &where) {
			const size_t space = line.find_first_of(" \t");
			const std::string user = CanonicalUserId(line.substr(0, space));
			const std::string key =
				space == std::string::npos ? "" : line.substr(space + 1);
			if (user.empty())
				error = where + ": expected USER_ID KEY";
			else if (key.size() != 16)
				error = where + ": " + KeyLengthError(key);
			else if (!by_user_.emplace(user, key).second)
				error = where + ": user " + user + " has a key already";
			return error.empty();
		},
		error);
}

bool RecordKeys::Find(const RecordSource &source, std::string &key,
		      std::string &error) const
{
	if (keys_file_.empty()) {
		key = key_;
		return true;
	}
	const auto found = by_user_.find(source.user_id);
	if (found == by_user_.end()) {
		error = source.user_id.empty()
				? source.path + ": the name holds no user id to "
						"look up in " + keys_file_
				: "no key for user " + source.user_id + " (" +
					  source.path + ") in " + keys_file_;
		return false;
	}
	key = found->second;
	return true;
}
