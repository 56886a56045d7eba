#include "tests/support/test-windows-client.h"

#include <cerrno>
#include <csignal>
#include <sstream>
#include <stdexcept>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test-support.h"

namespace testing_support {

TestWindows::TestWindows(const std::vector<std::string> &launcher)
	: TestWindows(launcher, BinPath("vorlix-test-windows"))
{
}

TestWindows::TestWindows(const std::string &program)
	: TestWindows(std::vector<std::string>{}, program)
{
}

TestWindows::TestWindows(std::vector<std::string> command, const std::string &program)
{
	int in[2], out[2];
	if (pipe(in) != 0 || pipe(out) != 0)
		throw std::runtime_error("pipe failed");
	command.push_back(program);
	std::vector<char *> argv;
	for (std::string &argument : command)
		argv.push_back(&argument[0]);
	argv.push_back(nullptr);
	pid_ = fork();
	if (pid_ == 0) {
		dup2(in[0], 0);
		dup2(out[1], 1);
		close(in[1]);
		close(out[0]);
		execvp(argv[0], argv.data());
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	to_child_ = in[1];
	from_child_ = out[0];
	std::string line;
	if (!ReadLine(line, 30000) || line.rfind("ready ", 0) != 0)
		throw std::runtime_error("vorlix-test-windows did not start: " + line);
}

TestWindows::~TestWindows()
{
	if (pid_ > 0) {
		Command("quit");
		close(to_child_);
		close(from_child_);
		waitpid(pid_, nullptr, 0);
	}
}

bool TestWindows::ReadLine(std::string &line, int timeout_ms)
{
	for (;;) {
		const size_t newline = buffered_.find('\n');
		if (newline != std::string::npos) {
			line = buffered_.substr(0, newline);
			buffered_.erase(0, newline + 1);
			return true;
		}
		pollfd fd{from_child_, POLLIN, 0};
		const int ready = poll(&fd, 1, timeout_ms);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready <= 0)
			return false;
		char chunk[4096];
		const ssize_t n = read(from_child_, chunk, sizeof(chunk));
		if (n <= 0)
			return false;
		buffered_.append(chunk, static_cast<size_t>(n));
	}
}

std::string TestWindows::Command(const std::string &line)
{
	if (pid_ <= 0)
		return "";
	const std::string text = line + "\n";
	if (write(to_child_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
		return "";
	if (line == "quit")
		return "";
	std::string answer;
	return ReadLine(answer, 60000) ? answer : "";
}

uint32_t TestWindows::OpenWith(const std::string &verb, const std::string &arguments)
{
	const std::string answer = Command(verb + " " + arguments);
	if (answer.rfind("window ", 0) != 0)
		return 0;
	return static_cast<uint32_t>(std::stoul(answer.substr(7)));
}

uint32_t TestWindows::Open(const std::string &title)
{
	return OpenWith("open", title);
}

std::vector<uint32_t> TestWindows::OpenMany(int count, const std::string &prefix)
{
	std::istringstream answer(Command("many " + std::to_string(count) + " " + prefix));
	std::string word;
	std::vector<uint32_t> windows;
	answer >> word;
	if (word != "windows")
		return windows;
	uint32_t id;
	while (answer >> id)
		windows.push_back(id);
	return windows;
}

bool TestWindows::Activate(uint32_t window)
{
	return Command("activate " + std::to_string(window)) ==
	       "active " + std::to_string(window);
}

void TestWindows::Close(uint32_t window)
{
	Command("close " + std::to_string(window));
}

void TestWindows::Kill()
{
	if (pid_ <= 0)
		return;
	kill(pid_, SIGKILL);
	waitpid(pid_, nullptr, 0);
	close(to_child_);
	close(from_child_);
	pid_ = -1;
}

} // namespace testing_support
