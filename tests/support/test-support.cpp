#include "tests/support/test-support.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testing_support {

TempDir::TempDir()
{
	char pattern[] = "/tmp/vorlix-test-XXXXXX";
	if (!mkdtemp(pattern))
		throw std::runtime_error("mkdtemp failed");
	path_ = pattern;
}

TempDir::~TempDir()
{
	Shell("rm -rf '" + path_ + "'");
}

TempConfigHome::TempConfigHome()
{
	if (const char *old = std::getenv("XDG_CONFIG_HOME")) {
		saved_ = old;
		had_saved_ = true;
	}
	setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
}

TempConfigHome::~TempConfigHome()
{
	if (had_saved_)
		setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
	else
		unsetenv("XDG_CONFIG_HOME");
}

namespace {

void DrainInto(int fd, std::string &sink, bool &open)
{
	char buffer[4096];
	const ssize_t n = read(fd, buffer, sizeof(buffer));
	if (n > 0)
		sink.append(buffer, static_cast<size_t>(n));
	else if (n == 0 || (errno != EINTR && errno != EAGAIN))
		open = false;
}

} // namespace

RunResult Run(const std::vector<std::string> &argv,
	      const std::vector<std::string> &env_extra, int timeout_s)
{
	int out_pipe[2], err_pipe[2];
	if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
		throw std::runtime_error("pipe failed");

	std::vector<std::string> env;
	for (char **e = environ; *e; ++e)
		env.emplace_back(*e);
	for (const auto &extra : env_extra) {
		const std::string key = extra.substr(0, extra.find('=') + 1);
		env.erase(std::remove_if(env.begin(), env.end(),
					 [&](const std::string &v) {
						 return v.compare(0, key.size(),
								  key) == 0;
					 }),
			  env.end());
		env.push_back(extra);
	}

	const pid_t pid = fork();
	if (pid == 0) {
		dup2(out_pipe[1], 1);
		dup2(err_pipe[1], 2);
		close(out_pipe[0]);
		close(err_pipe[0]);
		std::vector<char *> args, envp;
		for (const auto &a : argv)
			args.push_back(const_cast<char *>(a.c_str()));
		args.push_back(nullptr);
		for (const auto &e : env)
			envp.push_back(const_cast<char *>(e.c_str()));
		envp.push_back(nullptr);
		execve(args[0], args.data(), envp.data());
		_exit(127);
	}
	close(out_pipe[1]);
	close(err_pipe[1]);

	RunResult result;
	bool out_open = true, err_open = true;
	const auto deadline = std::chrono::steady_clock::now() +
			      std::chrono::seconds(timeout_s);
	while (out_open || err_open) {
		pollfd fds[2] = {{out_pipe[0], POLLIN, 0},
				 {err_pipe[0], POLLIN, 0}};
		const int ready = poll(fds, 2, 100);
		if (ready > 0) {
			if (out_open && fds[0].revents)
				DrainInto(out_pipe[0], result.out, out_open);
			if (err_open && fds[1].revents)
				DrainInto(err_pipe[0], result.err, err_open);
		}
		if (std::chrono::steady_clock::now() > deadline) {
			kill(pid, SIGKILL);
			break;
		}
	}
	close(out_pipe[0]);
	close(err_pipe[0]);
	int status = 0;
	waitpid(pid, &status, 0);
	result.status = WIFEXITED(status) ? WEXITSTATUS(status)
					  : 128 + WTERMSIG(status);
	return result;
}

std::string BinPath(const std::string &name)
{
	// A test run from a copy of the programs (as another user) says where.
	const char *moved = std::getenv("VORLIX_BIN_DIR");
	return std::string(moved && *moved ? moved : VORLIX_BIN_DIR) + "/" + name;
}

std::string ReadFile(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream text;
	text << in.rdbuf();
	return text.str();
}

void WriteFile(const std::string &path, const std::string &content)
{
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << content;
}

std::vector<std::string> ListDir(const std::string &path)
{
	std::vector<std::string> names;
	if (DIR *dir = opendir(path.c_str())) {
		while (dirent *entry = readdir(dir))
			if (entry->d_name[0] != '.')
				names.emplace_back(entry->d_name);
		closedir(dir);
	}
	std::sort(names.begin(), names.end());
	return names;
}

std::vector<std::string> SplitLines(const std::string &text)
{
	std::vector<std::string> lines;
	std::string line;
	std::istringstream in(text);
	while (std::getline(in, line))
		lines.push_back(line);
	return lines;
}

bool Exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

std::string Hex(const std::string &bytes)
{
	static const char digits[] = "0123456789abcdef";
	std::string hex;
	for (unsigned char c : bytes) {
		hex += digits[c >> 4];
		hex += digits[c & 15];
	}
	return hex;
}

std::string ShellQuote(const std::string &text)
{
	std::string quoted = "'";
	for (char c : text)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return quoted + "'";
}

std::string Shell(const std::string &command)
{
	std::string output;
	if (FILE *pipe = popen(command.c_str(), "r")) {
		char buffer[4096];
		size_t n;
		while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
			output.append(buffer, n);
		pclose(pipe);
	}
	return output;
}

} // namespace testing_support
