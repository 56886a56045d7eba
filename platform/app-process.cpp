// Which process runs a Wayland window that is known only by its app_id:
// looked for among this user's processes, by the app_id itself and by the
// program its desktop entry starts. Only what really runs is named, and
// only when the name is beyond doubt.
#include "platform/app-process.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct UserProcess {
	uint32_t pid;
	std::string exe; // the executable's file name
};

std::string BaseName(const std::string &path)
{
	const size_t slash = path.rfind('/');
	return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameLetters(const std::string &a, const std::string &b)
{
	if (a.size() != b.size())
		return false;
	const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
	for (size_t i = 0; i < a.size(); ++i)
		if (fold(a[i]) != fold(b[i]))
			return false;
	return true;
}

// The executable's file name of a process, as /proc/PID/exe links to it;
// the kernel marks a file deleted since the start with " (deleted)".
bool ExeName(const std::string &pid, std::string *name)
{
	char target[PATH_MAX];
	const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof(target));
	if (n <= 0 || n == static_cast<ssize_t>(sizeof(target)))
		return false;
	std::string path(target, static_cast<size_t>(n));
	static const std::string kDeleted = " (deleted)";
	if (path.size() > kDeleted.size() &&
	    path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
		path.resize(path.size() - kDeleted.size());
	*name = BaseName(path);
	return !name->empty();
}

// The processes of this user (their owner is ours) whose executable can be
// read: kernel threads and zombies have none.
std::vector<UserProcess> UserProcesses()
{
	std::vector<UserProcess> processes;
	DIR *proc = opendir("/proc");
	if (!proc)
		return processes;
	const uid_t user = geteuid();
	while (const dirent *entry = readdir(proc)) {
		const std::string pid = entry->d_name;
		if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
			continue;
		struct stat owner;
		std::string exe;
		if (stat(("/proc/" + pid).c_str(), &owner) != 0 || owner.st_uid != user ||
		    !ExeName(pid, &exe))
			continue;
		processes.push_back({static_cast<uint32_t>(std::strtoul(pid.c_str(), nullptr, 10)),
				     std::move(exe)});
	}
	closedir(proc);
	return processes;
}

// The first of the processes that `matches` takes, when all it takes run
// executables of one name; else 0.
template <typename Match>
uint32_t OneProgram(const std::vector<UserProcess> &processes, Match matches)
{
	const UserProcess *found = nullptr;
	for (const UserProcess &process : processes) {
		if (!matches(process.exe))
			continue;
		if (found && found->exe != process.exe)
			return 0;
		if (!found)
			found = &process;
	}
	return found ? found->pid : 0;
}

// The folders that hold applications/ with desktop entries, the most
// important first (XDG Base Directory: relative paths are ignored).
std::vector<std::string> DataFolders()
{
	std::vector<std::string> folders;
	const char *home = std::getenv("XDG_DATA_HOME");
	const char *user_home = std::getenv("HOME");
	if (home && home[0] == '/')
		folders.push_back(home);
	else if (user_home && user_home[0] == '/')
		folders.push_back(std::string(user_home) + "/.local/share");
	const char *dirs = std::getenv("XDG_DATA_DIRS");
	std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
	for (size_t at = 0; at <= list.size();) {
		const size_t end = std::min(list.find(':', at), list.size());
		const std::string folder = list.substr(at, end - at);
		if (!folder.empty() && folder[0] == '/')
			folders.push_back(folder);
		at = end + 1;
	}
	return folders;
}

// A key file's value with its escapes (\s \n \t \r \\) resolved.
std::string Unescape(const std::string &value)
{
	std::string out;
	for (size_t i = 0; i < value.size(); ++i) {
		if (value[i] != '\\' || i + 1 == value.size()) {
			out += value[i];
			continue;
		}
		const char c = value[++i];
		out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
	}
	return out;
}

// The Exec value of the [Desktop Entry] group; false without one, or when
// the entry is hidden (deleted by the user).
bool ReadExec(const std::string &path, std::string *exec)
{
	std::ifstream file(path);
	std::string line;
	bool in_entry = false, found = false;
	while (std::getline(file, line)) {
		if (!line.empty() && line[0] == '[') {
			in_entry = line == "[Desktop Entry]";
			continue;
		}
		const size_t equals = line.find('=');
		if (!in_entry || equals == std::string::npos)
			continue;
		// Spaces around "=" do not count.
		std::string key = line.substr(0, equals);
		key.erase(key.find_last_not_of(' ') + 1);
		const size_t start = line.find_first_not_of(' ', equals + 1);
		const std::string value =
			Unescape(start == std::string::npos ? "" : line.substr(start));
		if (key == "Hidden" && value == "true")
			return false;
		if (key == "Exec" && !found) {
			*exec = value;
			found = true;
		}
	}
	return found;
}

// The words of an Exec value: spaces separate them; a word may be quoted
// in "", where \ escapes " ` $ and \. Field codes (%f, %U...) are left out.
std::vector<std::string> ExecWords(const std::string &exec)
{
	std::vector<std::string> words;
	std::string word;
	bool quoted = false, any = false;
	const auto end_word = [&] {
		const bool field_code = word.size() == 2 && word[0] == '%' && word[1] != '%';
		if (any && !field_code)
			words.push_back(word);
		word.clear();
		any = false;
	};
	for (size_t i = 0; i < exec.size(); ++i) {
		const char c = exec[i];
		if (quoted && c == '\\' && i + 1 < exec.size()) {
			word += exec[++i];
		} else if (c == '"') {
			quoted = !quoted;
			any = true;
		} else if (!quoted && (c == ' ' || c == '\t')) {
			end_word();
		} else if (!quoted && c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
			word += '%';
			++i;
			any = true;
		} else {
			word += c;
			any = true;
		}
	}
	end_word();
	return words;
}

// The program an Exec line starts; empty when it cannot be told.
// `sandboxed` when it runs inside a Flatpak sandbox, where the host's
// files are not its.
std::string ExecProgram(const std::vector<std::string> &words, bool *sandboxed)
{
	*sandboxed = false;
	size_t at = 0;
	if (at < words.size() && BaseName(words[at]) == "env") {
		for (++at; at < words.size() && words[at].find('=') != std::string::npos; ++at) {
		}
		if (at < words.size() && words[at][0] == '-')
			return ""; // env's own options
	}
	if (at >= words.size())
		return "";
	const std::string program = BaseName(words[at]);
	if (program == "flatpak" && at + 1 < words.size() && words[at + 1] == "run") {
		*sandboxed = true;
		for (size_t i = at + 2; i < words.size(); ++i) {
			if (words[i].rfind("--command=", 0) == 0)
				return words[i].substr(10);
			if (words[i] == "--command" && i + 1 < words.size())
				return words[i + 1];
		}
		return ""; // the app's own command, in Flatpak's files
	}
	static const std::set<std::string> kShells = {"sh",  "bash", "dash", "zsh",
						      "ksh", "fish", "csh",  "tcsh"};
	return kShells.count(program) ? "" : words[at];
}

// The file names a program may run under: its own, and that of the file it
// leads to (/usr/bin/firefox -> /usr/lib/firefox/firefox), found through
// PATH when it names no folder.
std::set<std::string> ProgramNames(const std::string &program)
{
	std::set<std::string> names = {BaseName(program)};
	std::string path = program;
	if (program.find('/') == std::string::npos) {
		const char *search = std::getenv("PATH");
		const std::string list = search ? search : "/usr/local/bin:/usr/bin:/bin";
		path.clear();
		for (size_t at = 0; at <= list.size() && path.empty();) {
			const size_t end = std::min(list.find(':', at), list.size());
			const std::string candidate = list.substr(at, end - at) + "/" + program;
			if (end > at && access(candidate.c_str(), X_OK) == 0)
				path = candidate;
			at = end + 1;
		}
	}
	char resolved[PATH_MAX];
	if (!path.empty() && realpath(path.c_str(), resolved))
		names.insert(BaseName(resolved));
	return names;
}

// The file names the program of the desktop entry <app_id>.desktop may run
// under; none without one.
std::set<std::string> DesktopEntryProgram(const std::string &app_id)
{
	for (const std::string &folder : DataFolders()) {
		const std::string path = folder + "/applications/" + app_id + ".desktop";
		std::string exec;
		if (access(path.c_str(), R_OK) != 0)
			continue;
		// The first entry found hides the others, even when it is hidden.
		bool sandboxed = false;
		const std::string program =
			ReadExec(path, &exec) ? ExecProgram(ExecWords(exec), &sandboxed) : "";
		if (program.empty())
			return {};
		return sandboxed ? std::set<std::string>{BaseName(program)} : ProgramNames(program);
	}
	return {};
}

} // namespace

uint32_t ApplicationProcess(const std::string &app_id)
{
	// An id that could lead out of the applications/ folder names nothing.
	if (app_id.empty() || app_id.size() > 255 || app_id.find('/') != std::string::npos ||
	    app_id == "." || app_id == "..")
		return 0;
	const std::vector<UserProcess> processes = UserProcesses();
	if (const uint32_t pid = OneProgram(
		    processes, [&](const std::string &exe) { return SameLetters(exe, app_id); }))
		return pid;
	const std::set<std::string> names = DesktopEntryProgram(app_id);
	return OneProgram(processes, [&](const std::string &exe) { return names.count(exe) > 0; });
}

bool UserRunsProgram(const std::string &file_name)
{
	for (const UserProcess &process : UserProcesses())
		if (process.exe == file_name)
			return true;
	return false;
}

} // namespace platform
