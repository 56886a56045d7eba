#pragma once
// Shared helpers of the tests: temporary folders, running the real
// executable, reading files back.
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory below /tmp, removed with everything in it at the end.
class TempDir {
public:
	TempDir();
	~TempDir();
	TempDir(const TempDir &) = delete;
	TempDir &operator=(const TempDir &) = delete;
	const std::string &path() const { return path_; }
	std::string operator/(const std::string &name) const
	{
		return path_ + "/" + name;
	}

private:
	std::string path_;
};

// Points XDG_CONFIG_HOME at a new temporary folder for the life of the
// object, so nothing is written into the user's own application-data folder.
class TempConfigHome {
public:
	TempConfigHome();
	~TempConfigHome();
	const std::string &path() const { return dir_.path(); }
	std::string operator/(const std::string &name) const
	{
		return dir_ / name;
	}

private:
	TempDir dir_;
	std::string saved_;
	bool had_saved_ = false;
};

struct RunResult {
	int status = -1;     // exit status 0..255, or 128 + signal
	std::string out;     // standard output
	std::string err;     // standard error
};

// Runs `argv` (argv[0] is the program path) with `env_extra` ("NAME=value")
// added to the environment, waits at most `timeout_s` seconds.
RunResult Run(const std::vector<std::string> &argv,
	      const std::vector<std::string> &env_extra = {},
	      int timeout_s = 60);

// Path of a built program or library in the build's bin folder, or in
// $VORLIX_BIN_DIR when that is set.
std::string BinPath(const std::string &name);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
std::vector<std::string> ListDir(const std::string &path); // sorted, no dot entries
std::vector<std::string> SplitLines(const std::string &text);
bool Exists(const std::string &path);

// Lower-case hexadecimal digits of `bytes` (as the openssl command takes keys).
std::string Hex(const std::string &bytes);

// `text` quoted for /bin/sh, whatever it holds.
std::string ShellQuote(const std::string &text);

// Runs a shell command and returns its standard output.
std::string Shell(const std::string &command);

} // namespace testing_support
