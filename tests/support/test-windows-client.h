#pragma once
// Drives vorlix-test-windows (tests/desktop/test-windows.cpp), a separate
// X client that opens, names, activates and destroys top-level windows on
// the test's display.
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testing_support {

class TestWindows {
public:
	// Starts the client from the build's bin folder, through `launcher`
	// when one is given (e.g. {"env", "DISPLAY=:1.1"}), and waits until it
	// is connected; throws std::runtime_error if it cannot start.
	explicit TestWindows(const std::vector<std::string> &launcher = {});
	// The same from a copy of the client at `program`.
	explicit TestWindows(const std::string &program);
	// Asks it to quit (its windows go with it) and reaps it.
	~TestWindows();
	TestWindows(const TestWindows &) = delete;
	TestWindows &operator=(const TestWindows &) = delete;

	// Sends one command line and returns the answer line; "" after 60 s
	// without one or when the client has gone.
	std::string Command(const std::string &line);

	// "open TITLE" and its variants ("open-nopid", "open-latin1", ...):
	// the new window's id, 0 on failure.
	uint32_t Open(const std::string &title);
	uint32_t OpenWith(const std::string &verb, const std::string &arguments);
	std::vector<uint32_t> OpenMany(int count, const std::string &prefix);
	bool Activate(uint32_t window);
	void Close(uint32_t window);

	// Kills the client outright and reaps it: its windows vanish with it.
	void Kill();

	pid_t pid() const { return pid_; }

private:
	// Runs `command` followed by `program`.
	TestWindows(std::vector<std::string> command, const std::string &program);
	bool ReadLine(std::string &line, int timeout_ms);

	pid_t pid_ = -1;
	int to_child_ = -1;
	int from_child_ = -1;
	std::string buffered_;
};

} // namespace testing_support
