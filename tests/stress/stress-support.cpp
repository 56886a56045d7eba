#include "tests/stress/stress-support.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "tests/support/monitor-process.h"
#include "tests/support/test-support.h"

namespace stress {

using testing_support::Shell;
using testing_support::ShellQuote;

namespace {

std::vector<std::string> Split(const std::string &text, char separator)
{
	std::vector<std::string> parts;
	std::stringstream in(text);
	std::string part;
	while (std::getline(in, part, separator))
		parts.push_back(part);
	return parts;
}

} // namespace

int EnvCount(const char *name, int fallback)
{
	const char *value = std::getenv(name);
	const int parsed = value ? std::atoi(value) : 0;
	return parsed > 0 ? parsed : fallback;
}

void Sleep(double seconds)
{
	std::this_thread::sleep_for(
		std::chrono::microseconds(static_cast<long long>(seconds * 1e6)));
}

double Now()
{
	return std::chrono::duration<double>(
		       std::chrono::steady_clock::now().time_since_epoch())
		.count();
}

long long WallSeconds()
{
	return std::chrono::duration_cast<std::chrono::seconds>(
		       std::chrono::system_clock::now().time_since_epoch())
		.count();
}

bool StoredRow::operator==(const StoredRow &other) const
{
	return id == other.id && member_id == other.member_id &&
	       active_tm == other.active_tm && check_tm == other.check_tm &&
	       process == other.process && title == other.title;
}

std::vector<StoredRow> StoredRows(const std::string &db)
{
	// Fields and rows separated by bytes that no column holds.
	const std::string out = Shell(
		"sqlite3 -separator \"$(printf '\\037')\" -newline "
		"\"$(printf '\\036')\" " + ShellQuote(db) +
		" 'SELECT id, member_id, active_tm, check_tm, process, title "
		"FROM monitor_detail ORDER BY id' 2>/dev/null");
	std::vector<StoredRow> rows;
	for (const std::string &record : Split(out, '\x1e')) {
		const std::vector<std::string> f = Split(record, '\x1f');
		if (f.size() != 6)
			continue;
		StoredRow row;
		row.id = std::stoll(f[0]);
		row.member_id = std::stoll(f[1]);
		row.active_tm = f[2];
		row.check_tm = std::stoll(f[3]);
		row.process = f[4];
		row.title = f[5];
		rows.push_back(row);
	}
	return rows;
}

std::string IntegrityCheck(const std::string &db)
{
	std::string out = Shell("sqlite3 " + ShellQuote(db) +
				" 'PRAGMA integrity_check' 2>&1");
	while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
		out.pop_back();
	return out;
}

Committed ReadCommitted(const std::string &db)
{
	testing_support::TempDir copy;
	const std::string journal = db + "-journal";
	Committed committed;
	committed.hot_journal = !Shell("test -s " + ShellQuote(journal) +
				       " && echo yes").empty();
	const std::string name = db.substr(db.rfind('/') + 1);
	Shell("cp " + ShellQuote(db) + " " + ShellQuote(copy / name) + " 2>/dev/null; "
	      "cp " + ShellQuote(journal) + " " + ShellQuote(copy / (name + "-journal")) +
	      " 2>/dev/null");
	if (!testing_support::Exists(copy / name))
		return committed;
	committed.rows = StoredRows(copy / name);
	committed.integrity = IntegrityCheck(copy / name);
	return committed;
}

std::string Decryptor::operator()(const std::string &base64)
{
	const auto known = cache_.find(base64);
	if (known != cache_.end())
		return known->second;
	const std::string plain = testing_support::OpensslDecrypt(base64, key_);
	cache_[base64] = plain;
	return plain;
}

FolderWatch::FolderWatch(const std::string &folder)
{
	fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
	if (fd_ >= 0)
		inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MODIFY);
}

FolderWatch::~FolderWatch()
{
	if (fd_ >= 0)
		close(fd_);
}

void FolderWatch::Drain()
{
	alignas(inotify_event) char buffer[4096];
	while (fd_ >= 0 && read(fd_, buffer, sizeof(buffer)) > 0) {
	}
}

bool FolderWatch::WaitFor(const std::string &name, bool written, int timeout_ms)
{
	const uint32_t wanted = written ? IN_MODIFY : IN_CREATE;
	const double deadline = Now() + timeout_ms / 1000.0;
	alignas(inotify_event) char buffer[4096];
	while (fd_ >= 0) {
		const int left = static_cast<int>((deadline - Now()) * 1000);
		if (left <= 0)
			return false;
		pollfd p{fd_, POLLIN, 0};
		if (poll(&p, 1, left) <= 0)
			continue;
		const ssize_t n = read(fd_, buffer, sizeof(buffer));
		for (ssize_t at = 0; n > 0 && at < n;) {
			const auto *event = reinterpret_cast<inotify_event *>(buffer + at);
			if ((event->mask & wanted) && event->len > 0 &&
			    name == event->name)
				return true;
			at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
		}
	}
	return false;
}

int CountLines(const std::string &text, const std::string &part)
{
	int count = 0;
	for (const std::string &line : testing_support::SplitLines(text))
		if (line.find(part) != std::string::npos)
			++count;
	return count;
}

size_t RowsBetween(const std::string &db, long long from, long long to)
{
	size_t count = 0;
	for (const StoredRow &row : StoredRows(db))
		count += row.check_tm >= from && row.check_tm < to;
	return count;
}

bool WaitForRows(const std::string &db, size_t count, long long since)
{
	for (int i = 0; i < 300; ++i) {
		if (RowsBetween(db, since, LLONG_MAX) >= count)
			return true;
		Sleep(0.1);
	}
	return false;
}

const char kLockedInsert[] = "InsertTable err_msg:database is locked";
const char kLockedCreate[] = "create table fail msg:database is locked";

namespace {

const char kUnprepared[] = "InsertTable err_msg:Parameter count mismatch";

// Another process (the sqlite3 command) holding the database in a
// transaction begun with `begin` until Release().
class LockHolder {
public:
	LockHolder(const std::string &db, const std::string &begin)
	{
		testing_support::WriteFile(
			dir_ / "hold.sh",
			"touch '" + (dir_ / "locked") + "'\n"
			"while [ ! -e '" + (dir_ / "release") + "' ]; do sleep 0.02; done\n");
		// Its own busy timeout: it waits for a write of the program's
		// that is under way instead of failing to take the lock.
		Shell("sqlite3 '" + db + "' '.timeout 10000' '" + begin +
		      ";' '.shell sh " + (dir_ / "hold.sh") + "' 'COMMIT;' "
		      "'.shell touch " + (dir_ / "done") + "' >/dev/null 2>&1 &");
		held_ = WaitFor("locked");
	}
	~LockHolder() { Release(); }
	bool held() const { return held_; }

	void Release()
	{
		if (!testing_support::Exists(dir_ / "release")) {
			testing_support::WriteFile(dir_ / "release", "");
			WaitFor("done");
		}
	}

private:
	bool WaitFor(const std::string &name)
	{
		for (int i = 0; i < 1500 && !testing_support::Exists(dir_ / name); ++i)
			Sleep(0.01);
		return testing_support::Exists(dir_ / name);
	}

	testing_support::TempDir dir_;
	bool held_ = false;
};

} // namespace

int LockSeconds()
{
	return std::max(EnvCount("VORLIX_STRESS_LOCK_SECONDS", 30), 25);
}

LockedRun RunUnderLock(const testing_support::MonitorProcess &monitor,
		       const std::string &begin, int seconds)
{
	const std::string db = monitor.DbPath();
	const auto lines = [&](const char *part) { return CountLines(monitor.Log(), part); };
	LockedRun run;
	const int unprepared_before = lines(kUnprepared);
	LockHolder lock(db, begin);
	run.held = lock.held();
	if (!run.held)
		return run;
	// The program's clock runs up to a second behind the wall clock: a row
	// sampled just before the lock may carry the lock's first second.
	const long long locked_at = WallSeconds() + 1;
	Sleep(seconds);
	lock.Release();
	const long long released_at = WallSeconds();
	const double release = Now();
	run.resumed = WaitForRows(db, 1, released_at);
	run.resumed_s = Now() - release;
	run.rows_in_lock = RowsBetween(db, locked_at, released_at);
	run.insert_lines = lines(kLockedInsert);
	run.create_lines = lines(kLockedCreate);
	run.unprepared_lines = lines(kUnprepared) - unprepared_before;
	run.dropped = begin == "BEGIN EXCLUSIVE" ? run.create_lines : run.insert_lines / 4;
	return run;
}

} // namespace stress
