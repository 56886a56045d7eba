// Clocks, files, the process snapshot (from /proc), debugger output and
// run-time library loading on Linux. The windows are in x11/.
#include "platform/platform.h"
#include "platform/linux-session.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform-backend.h"
#include "platform/utf16-text.h"

namespace platform {

// CLOCK_BOOTTIME counts the time the machine sleeps, as GetTickCount64
// does; CLOCK_MONOTONIC stops during a suspend, and every later time would
// fall behind by the sleep. The hook library reads the same clock.
uint64_t backend::TickCount64()
{
	return static_cast<uint64_t>(session::BootTickMilliseconds());
}

int64_t WallClockSeconds()
{
	return static_cast<int64_t>(time(nullptr));
}

uint64_t WallClock100ns()
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	return static_cast<uint64_t>(now.tv_sec) * 10000000u +
	       static_cast<uint64_t>(now.tv_nsec) / 100u;
}

bool LocalTime(int64_t seconds, std::tm *out)
{
	const time_t t = static_cast<time_t>(seconds);
	return localtime_r(&t, out) != nullptr;
}

std::string SystemTimeZoneName()
{
	// /etc/localtime links into the zone database on most systems;
	// Debian also names the zone in /etc/timezone.
	char target[PATH_MAX];
	const ssize_t length = readlink("/etc/localtime", target, sizeof(target) - 1);
	if (length > 0) {
		const std::string link(target, static_cast<size_t>(length));
		const size_t at = link.find("zoneinfo/");
		if (at != std::string::npos)
			return link.substr(at + 9);
	}
	std::ifstream file("/etc/timezone");
	std::string name;
	std::getline(file, name);
	return name;
}

void OpenLogStream(std::fstream &stream, const char *path)
{
	stream.open(path, std::ios::in | std::ios::out | std::ios::binary);
}

CreateResult CreateFileExclusively(const char *path)
{
	const int fd = ::open(path, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC,
			      0600);
	if (fd < 0)
		return errno == EEXIST ? CreateResult::Exists
				       : CreateResult::Failed;
	// The umask may take rights away, never add them: 0600 stands.
	::close(fd);
	return CreateResult::Created;
}

CreateResult MakeDirectory(const char *path)
{
	if (::mkdir(path, 0700) == 0)
		return CreateResult::Created;
	return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
}

bool SameFile(const char *a, const char *b)
{
	struct stat first, second;
	return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 &&
	       first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

struct FileLock {
	int fd;
};

FileLock *TryLockFile(const char *path, LockFailure *failure)
{
	const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
	if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
		return new FileLock{fd};
	if (failure) {
		failure->code = errno;
		failure->held = fd >= 0 && errno == EWOULDBLOCK;
	}
	if (fd >= 0)
		::close(fd);
	return nullptr;
}

void ReleaseFileLock(FileLock *lock)
{
	if (!lock)
		return;
	::close(lock->fd);
	delete lock;
}

std::string SystemErrorText(int code)
{
	return std::strerror(code);
}

namespace {

// Checked on the open file, so that the file read is the file checked.
bool PrivateFileRefused(int fd, std::string &error)
{
	struct stat info;
	if (fstat(fd, &info) != 0) {
		error = std::strerror(errno);
		return true;
	}
	if (!S_ISREG(info.st_mode)) {
		error = "not a regular file";
		return true;
	}
	if ((info.st_mode & 077) != 0) {
		char mode[8];
		std::snprintf(mode, sizeof(mode), "%04o",
			      static_cast<unsigned>(info.st_mode & 07777));
		error = std::string("permissions ") + mode +
			" are too open: group and others must have no access "
			"(chmod 600)";
		return true;
	}
	return false;
}

} // namespace

bool ReadPrivateFile(const char *path, size_t limit, std::string &content,
		     std::string &error)
{
	// O_NONBLOCK: opening a FIFO must not wait for a writer.
	const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
	if (fd < 0) {
		error = std::strerror(errno);
		return false;
	}
	bool ok = !PrivateFileRefused(fd, error);
	content.clear();
	while (ok && content.size() < limit) {
		char buffer[512];
		const size_t want = std::min(sizeof(buffer), limit - content.size());
		const ssize_t n = ::read(fd, buffer, want);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			error = std::strerror(errno);
			ok = false;
		}
		if (n <= 0)
			break;
		content.append(buffer, static_cast<size_t>(n));
	}
	::close(fd);
	return ok;
}

std::string UserRuntimeDirectory()
{
	const char *dir = std::getenv("XDG_RUNTIME_DIR");
	return dir ? dir : "";
}

std::string SqliteFullPath(const std::string &path)
{
	if (char *resolved = realpath(path.c_str(), nullptr)) {
		const std::string full = resolved;
		free(resolved);
		return full;
	}
	// A new file: its folder resolved, the name as it will be.
	const size_t slash = path.rfind('/');
	if (slash == std::string::npos || slash == 0)
		return path;
	const std::string folder = SqliteFullPath(path.substr(0, slash));
	return folder + path.substr(slash);
}

// The Unix file layer's longest path (MAX_PATHNAME), less "-journal".
size_t SqlitePathLimit()
{
	return 512 - 8;
}

bool ApplicationDataFolderKnown()
{
	const char *xdg = std::getenv("XDG_CONFIG_HOME");
	if (xdg && !*xdg) {
		unsetenv("XDG_CONFIG_HOME");
		xdg = nullptr;
	}
	const char *home = std::getenv("HOME");
	return xdg || (home && *home);
}

char PathSeparator()
{
	return '/';
}

std::string NativeSeparators(std::string path)
{
	for (char &c : path)
		if (c == '\\')
			c = '/';
	return path;
}

// The snapshot holds the process ids of the moment it was taken; names are
// read while walking, and a process that ended in between is left out, as
// it would be missing from a snapshot taken a moment later.
struct ProcessSnapshot {
	std::vector<uint32_t> pids;
	size_t next = 0;
};

namespace {

bool ParsePid(const char *name, uint32_t &pid)
{
	if (*name < '1' || *name > '9')
		return false;
	char *end = nullptr;
	const unsigned long value = strtoul(name, &end, 10);
	if (*end != '\0' || value > UINT32_MAX)
		return false;
	pid = static_cast<uint32_t>(value);
	return true;
}

std::string BaseName(const std::string &path)
{
	const size_t slash = path.rfind('/');
	return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsWineLoader(const std::string &name)
{
	return name == "wine" || name == "wine64" || name == "wine-preloader" ||
	       name == "wine64-preloader";
}

// The process's arguments, each ended by a NUL (the first 64 KiB); empty
// for a kernel thread or when it cannot be read.
std::string CommandLine(uint32_t pid)
{
	char path[64];
	snprintf(path, sizeof(path), "/proc/%u/cmdline", pid);
	const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return std::string();
	std::string cmdline;
	char buffer[4096];
	ssize_t n;
	while (cmdline.size() < 65536 && (n = read(fd, buffer, sizeof(buffer))) > 0)
		cmdline.append(buffer, static_cast<size_t>(n));
	::close(fd);
	return cmdline;
}

// A program under Wine runs as Wine's loader; its command line names the
// Windows executable ("C:\windows\system32\notepad.exe"), after the
// loader's own path while it starts. The file name of the first argument
// that is no loader, after its last "\" or "/"; empty if there is none.
std::string WindowsExeName(uint32_t pid)
{
	const std::string cmdline = CommandLine(pid);
	for (size_t at = 0; at < cmdline.size();) {
		const size_t end = std::min(cmdline.find('\0', at), cmdline.size());
		const std::string argument = cmdline.substr(at, end - at);
		const size_t cut = argument.find_last_of("\\/");
		const std::string file =
			cut == std::string::npos ? argument : argument.substr(cut + 1);
		if (!file.empty() && !IsWineLoader(file))
			return file;
		at = end + 1;
	}
	return std::string();
}

// The executable's file name from /proc/PID/exe. The kernel marks a file
// deleted since the start with " (deleted)"; the name is the file's.
bool ExeLinkName(uint32_t pid, std::string &name)
{
	char link[64];
	snprintf(link, sizeof(link), "/proc/%u/exe", pid);
	std::string target(PATH_MAX, '\0');
	const ssize_t n = readlink(link, &target[0], target.size());
	if (n <= 0)
		return false;
	target.resize(static_cast<size_t>(n));
	static const std::string kDeleted = " (deleted)";
	if (target.size() > kDeleted.size() &&
	    target.compare(target.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0 &&
	    access(target.c_str(), F_OK) != 0)
		target.resize(target.size() - kDeleted.size());
	name = BaseName(target);
	if (IsWineLoader(name)) {
		const std::string windows_name = WindowsExeName(pid);
		if (!windows_name.empty())
			name = windows_name;
	}
	return !name.empty();
}

// The name the kernel keeps (comm) from /proc/PID/stat: "pid (comm) S ...".
// Used when the executable's link cannot be read (kernel threads, other
// users' processes). A zombie has ended: it is no process any more.
bool CommName(uint32_t pid, std::string &name)
{
	char path[64];
	snprintf(path, sizeof(path), "/proc/%u/stat", pid);
	const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	char buffer[512];
	const ssize_t n = read(fd, buffer, sizeof(buffer));
	::close(fd);
	if (n <= 0)
		return false;
	const std::string stat(buffer, static_cast<size_t>(n));
	const size_t open = stat.find('(');
	const size_t close = stat.rfind(')');
	if (open == std::string::npos || close == std::string::npos ||
	    close < open || close + 2 >= stat.size())
		return false;
	const char state = stat[close + 2];
	if (state == 'Z' || state == 'X')
		return false;
	name = stat.substr(open + 1, close - open - 1);
	return !name.empty();
}

// comm is cut to 15 bytes ("partition-edito"); the first argument, which
// anyone may read, names the program whole when it starts with comm (a
// program that rewrites its arguments gets comm).
bool StatName(uint32_t pid, std::string &name)
{
	if (!CommName(pid, name))
		return false;
	const std::string cmdline = CommandLine(pid);
	const std::string program = BaseName(cmdline.substr(0, cmdline.find('\0')));
	if (program.size() > name.size() && program.compare(0, name.size(), name) == 0)
		name = program;
	return true;
}

} // namespace

ProcessSnapshot *OpenProcessSnapshot()
{
	DIR *proc = opendir("/proc");
	if (!proc)
		return nullptr;
	auto *snapshot = new ProcessSnapshot;
	while (const dirent *entry = readdir(proc)) {
		uint32_t pid;
		if (ParsePid(entry->d_name, pid))
			snapshot->pids.push_back(pid);
	}
	closedir(proc);
	return snapshot;
}

bool FirstProcess(ProcessSnapshot *snapshot, ProcessEntry *entry)
{
	if (!snapshot)
		return false;
	snapshot->next = 0;
	return NextProcess(snapshot, entry);
}

bool NextProcess(ProcessSnapshot *snapshot, ProcessEntry *entry)
{
	if (!snapshot || !entry)
		return false;
	while (snapshot->next < snapshot->pids.size()) {
		const uint32_t pid = snapshot->pids[snapshot->next++];
		std::string name;
		if (!ExeLinkName(pid, name) && !StatName(pid, name))
			continue;
		entry->pid = pid;
		text::CopyTerminated(text::Utf8ToUtf16(name), entry->exe_file,
				     static_cast<int>(sizeof(entry->exe_file) /
						      sizeof(entry->exe_file[0])));
		return true;
	}
	return false;
}

void CloseProcessSnapshot(ProcessSnapshot *snapshot)
{
	delete snapshot;
}

void DebugOutput(const char16_t *text)
{
	if (!text)
		return;
	const std::string utf8 = text::Utf16ToUtf8(text);
	// As few writes as possible, so the text is not torn apart by others.
	size_t done = 0;
	while (done < utf8.size()) {
		const ssize_t n = write(STDERR_FILENO, utf8.data() + done, utf8.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return;
		done += static_cast<size_t>(n);
	}
}

// A bare name is looked for in the program's folder first, as Windows does.
// The program's RUNPATH ($ORIGIN) asks dlopen for the same, but dlopen
// searches the RUNPATH of its caller, and under a sanitizer that caller is
// the sanitizer's interceptor, not the program.
LibraryHandle LoadLibraryByName(const char *file_name)
{
	// dlopen(nullptr) would give the program itself; LoadLibraryA fails.
	if (!file_name || !*file_name)
		return nullptr;
	if (!std::strchr(file_name, '/')) {
		const std::string beside = ExecutableDirectory() + "/" + file_name;
		if (access(beside.c_str(), F_OK) == 0)
			return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
	}
	return dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
}

void *LibrarySymbol(LibraryHandle library, const char *name)
{
	return library && name ? dlsym(library, name) : nullptr;
}

void FreeLibraryHandle(LibraryHandle library)
{
	if (library)
		dlclose(library);
}

const char *HookLibraryName()
{
	return "libvorlix.so";
}

} // namespace platform

namespace platform {

std::string ExecutableDirectory()
{
	char path[4096];
	const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
	if (n <= 0)
		return std::string();
	const std::string exe(path, static_cast<size_t>(n));
	return exe.substr(0, exe.rfind('/'));
}

std::vector<std::string> CommandLineText(int argc, const char *const *argv)
{
	return std::vector<std::string>(argv, argv + argc);
}

} // namespace platform
