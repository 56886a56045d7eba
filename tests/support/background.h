#pragma once
// Programs a test starts beside the one under test, and waiting for what
// they do.
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

// True once `check` holds, tried every 100 ms for at most `seconds`.
template <typename Check> bool WaitFor(Check check, int seconds = 30)
{
	for (int i = 0; i < seconds * 10; ++i) {
		if (check())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
	}
	return false;
}

// A shell command in a process group of its own, ended with all it started.
class Background {
public:
	explicit Background(const std::string &command) : pid_(fork())
	{
		if (pid_ == 0) {
			setsid();
			const std::string line = "exec " + command + " >/dev/null 2>&1";
			execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr));
			_exit(127);
		}
	}
	~Background()
	{
		if (pid_ <= 0)
			return;
		kill(-pid_, SIGTERM);
		waitpid(pid_, nullptr, 0);
	}
	Background(const Background &) = delete;
	Background &operator=(const Background &) = delete;

private:
	pid_t pid_;
};

} // namespace testing_support
