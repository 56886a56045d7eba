#include "logging/log-file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include <util/base.h>
#include <util/lexer.h>
#include <util/platform.h>

#include "logging/log-handler.h"
#include "paths/app-data-path.h"
#include "platform/platform.h"

namespace {

constexpr int kKeepLimit = 3;
constexpr int kMaxNameAttempts = 1000;
constexpr int kLockAttempts = 50;
constexpr int kLockWaitMs = 10;

// Held on the log file open in this process, for the process's whole life,
// so that other starts pruning the same folder pass the file over.
platform::FileLock *liveLogLock = nullptr;

// "name.txt" -> "name (n).txt"; the date and time in front keep the key.
std::string NumberedName(const std::string &name, int n)
{
	if (n < 2)
		return name;
	const size_t dot = name.rfind('.');
	return name.substr(0, dot) + " (" + std::to_string(n) + ")" +
	       name.substr(dot);
}

// Another start pruning the folder at the same instant holds each file's
// lock for a moment while it looks at it: that is waited out. A log left
// unlocked would look like a finished run's to every later start, which
// would delete it once it is the oldest.
platform::FileLock *LockLiveLog(const std::string &path,
				platform::LockFailure &failure)
{
	for (int attempt = 1;; ++attempt) {
		failure = platform::LockFailure();
		if (platform::FileLock *lock =
			    platform::TryLockFile(path.c_str(), &failure))
			return lock;
		if (!failure.held || attempt == kLockAttempts)
			return nullptr;
		os_sleep_ms(kLockWaitMs);
	}
}

bool NextToken(lexer &lex, base_token &token)
{
	return lexer_getbasetoken(&lex, &token, IGNORE_WHITESPACE);
}

bool ExpectDigits(lexer &lex, std::string &digits)
{
	base_token token;
	if (!NextToken(lex, token) || token.type != BASETOKEN_DIGIT)
		return false;
	digits.append(token.text.array, token.text.len);
	return true;
}

bool ExpectDash(lexer &lex)
{
	base_token token;
	return NextToken(lex, token) && token.type == BASETOKEN_OTHER &&
	       strref_cmp(&token.text, "-") == 0;
}

} // namespace

std::string MakeLogFileName()
{
	std::tm local{};
	platform::LocalTime(platform::WallClockSeconds(), &local);
	char name[256] = {};
	snprintf(name, sizeof(name), "%d-%02d-%02d%c%02d-%02d-%02d.%s",
		 local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, ' ',
		 local.tm_hour, local.tm_min, local.tm_sec, "txt");
	return name;
}

uint64_t LogFileNameKey(const char *name)
{
	lexer lex;
	lexer_init(&lex);
	lexer_start(&lex, name);

	std::string digits;
	// year - month - day hour - minute - second
	const bool ok = ExpectDigits(lex, digits) && ExpectDash(lex) &&
			ExpectDigits(lex, digits) && ExpectDash(lex) &&
			ExpectDigits(lex, digits) && ExpectDigits(lex, digits) &&
			ExpectDash(lex) && ExpectDigits(lex, digits) &&
			ExpectDash(lex) && ExpectDigits(lex, digits);
	lexer_free(&lex);
	if (!ok)
		return 0;

	errno = 0;
	const unsigned long long key = strtoull(digits.c_str(), nullptr, 10);
	if (errno == ERANGE)
		return 0;
	return key;
}

void PruneLogFiles(const std::string &log_dir, const std::string &current_name)
{
	const std::string dir = ConfigPath(log_dir);
	if (dir.empty())
		return;
	os_dir_t *listing = os_opendir(dir.c_str());
	if (!listing)
		return;

	uint64_t oldestKey = UINT64_MAX;
	std::string oldestName;
	platform::FileLock *oldestLock = nullptr; // held until it is deleted
	int count = 0;
	while (os_dirent *entry = os_readdir(listing)) {
		if (entry->directory || entry->d_name[0] == '.')
			continue;
		const uint64_t key = LogFileNameKey(entry->d_name);
		if (key == 0)
			continue;
		platform::FileLock *lock = nullptr;
		if (entry->d_name != current_name) {
			// Another running instance holds the lock on its log.
			lock = platform::TryLockFile((dir + "/" + entry->d_name).c_str());
			if (!lock)
				continue;
		}
		++count;
		if (key < oldestKey) {
			oldestName = entry->d_name;
			oldestKey = key;
			std::swap(lock, oldestLock);
		}
		platform::ReleaseFileLock(lock);
	}
	os_closedir(listing);

	// The file open as the log is counted but never deleted: on Windows the
	// deletion would fail, and on POSIX it would lose this run's log.
	if (count > kKeepLimit && oldestName != current_name)
		os_unlink((dir + "/" + oldestName).c_str());
	platform::ReleaseFileLock(oldestLock);
}

void OpenLogFile(std::fstream &stream, const std::string &log_dir)
{
	const std::string dir = ConfigPath(log_dir);
	const std::string base = MakeLogFileName();
	std::string name;
	for (int n = 1; !dir.empty() && n <= kMaxNameAttempts; ++n) {
		const std::string candidate = NumberedName(base, n);
		const auto made = platform::CreateFileExclusively(
			(dir + "/" + candidate).c_str());
		if (made == platform::CreateResult::Created) {
			name = candidate;
			break;
		}
		if (made == platform::CreateResult::Failed)
			break;
	}

	if (!name.empty())
		platform::OpenLogStream(stream, (dir + "/" + name).c_str());
	if (stream.is_open()) {
		const std::string path = dir + "/" + name;
		platform::ReleaseFileLock(liveLogLock);
		platform::LockFailure failure;
		liveLogLock = LockLiveLog(path, failure);
		PruneLogFiles(log_dir, name);
		base_set_log_handler(FileLogHandler, &stream);
		// Where locks fail for everyone (a file system without them),
		// later starts cannot lock this log either and leave it alone.
		if (!liveLogLock)
			blog(LOG_ERROR, "lock log file %s fail: %s", path.c_str(),
			     platform::SystemErrorText(failure.code).c_str());
	} else {
		blog(LOG_ERROR, "Failed to open log file");
	}
}
