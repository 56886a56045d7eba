#pragma once
// Runs the real vorlix-monitor from a program folder of its own (so that
// tests running at once do not share the single-instance lock), with a
// temporary application-data folder, and reads back what it wrote.
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/test-support.h"

namespace testing_support {

extern const char kTestKey[]; // 16 bytes

struct Row {
	long long id = 0;
	long long member_id = 0;
	std::string active_tm; // decrypted
	long long check_tm = 0;
	std::string process;   // decrypted
	std::string title;
};

class MonitorProcess {
public:
	// `hook_library`: the file copied beside the program as libvorlix.so
	// (the real one by default); empty: no hook library at all.
	explicit MonitorProcess(std::string hook_library = BinPath("libvorlix.so"));
	// A second program started from the program folder of `first`.
	explicit MonitorProcess(const MonitorProcess &first, int);
	~MonitorProcess();

	// Arguments for a normal run: ids 12/7, the test key, record folder
	// "rec", log folder "logs", plus `extra`.
	static std::vector<std::string> Arguments(
		const std::vector<std::string> &extra = {});

	void Start(const std::vector<std::string> &args);
	// Sends the signal; SIGINT and SIGTERM only once the program handles
	// them (see the source), so that a quit request is never lost to
	// start-up.
	void Signal(int signal_number);
	// Waits for the end; returns the status (0..255, or 128 + signal).
	int Wait(int timeout_s = 30);
	bool Running();
	pid_t Pid() const { return pid; }

	// The one log file's text (empty if none).
	std::string Log() const;
	// Waits until the log holds `text`; false after `timeout_s`.
	bool WaitForLog(const std::string &text, double timeout_s = 20) const;
	// Count of occurrences of `text` in the log.
	int CountInLog(const std::string &text) const;

	std::string DbPath() const { return config / "rec/12.6.mon.db"; }
	// Every row, encrypted columns decrypted with the openssl command.
	std::vector<Row> Rows() const;

	const std::string &ProgramDir() const { return dir_; }
	// Command put in front of the program (e.g. valgrind and its options).
	std::vector<std::string> launcher;
	TempConfigHome config;
	std::string out_file, err_file;

private:
	TempDir program_dir;
	std::string dir_;
	pid_t pid = -1;
	int status = -1;
};

// Decrypts one stored value with the openssl command (independently of the
// program's own cipher code).
std::string OpensslDecrypt(const std::string &base64, const std::string &key);

// Runs an SQL statement with the sqlite3 command; returns its output.
std::string Sqlite(const std::string &db, const std::string &sql);

} // namespace testing_support
