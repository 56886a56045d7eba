#include "tests/support/monitor-process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

const char kTestKey[] = "k3y-0f-16-bytes!";

namespace {

} // namespace

std::string OpensslDecrypt(const std::string &base64, const std::string &key)
{
	if (base64.empty())
		return std::string();
	return Shell("printf '%s' " + ShellQuote(base64) +
		     " | openssl enc -d -aes-128-cbc -base64 -A -K " + Hex(key) +
		     " -iv " + Hex(key) + " 2>/dev/null");
}

std::string Sqlite(const std::string &db, const std::string &sql)
{
	return Shell("sqlite3 " + ShellQuote(db) + " " + ShellQuote(sql) + " 2>&1");
}

MonitorProcess::MonitorProcess(const MonitorProcess &first, int)
	: dir_(first.dir_)
{
	out_file = program_dir / "stdout.txt";
	err_file = program_dir / "stderr.txt";
}

MonitorProcess::MonitorProcess(std::string hook_library)
	: dir_(program_dir.path())
{
	// As installed: the program with its Wayland desktops' library.
	Shell("cp " + ShellQuote(BinPath("vorlix-monitor")) + " " +
	      ShellQuote(BinPath("libvorlix-wayland.so")) + " " + ShellQuote(program_dir.path()));
	if (!hook_library.empty())
		Shell("cp " + ShellQuote(hook_library) + " " +
		      ShellQuote(program_dir / "libvorlix.so"));
	out_file = program_dir / "stdout.txt";
	err_file = program_dir / "stderr.txt";
}

MonitorProcess::~MonitorProcess()
{
	if (Running()) {
		kill(pid, SIGKILL);
		Wait();
	}
}

std::vector<std::string> MonitorProcess::Arguments(
	const std::vector<std::string> &extra)
{
	std::vector<std::string> args = {
		"--user_id",    "12",  "--member_id", "7",    "--cipher_key",
		kTestKey,       "--record_dir", "rec", "--log_dir", "logs"};
	args.insert(args.end(), extra.begin(), extra.end());
	return args;
}

void MonitorProcess::Start(const std::vector<std::string> &args)
{
	const std::string exe = dir_ + "/vorlix-monitor";
	pid = fork();
	if (pid == 0) {
		const int out = open(out_file.c_str(),
				     O_WRONLY | O_CREAT | O_TRUNC, 0644);
		const int err = open(err_file.c_str(),
				     O_WRONLY | O_CREAT | O_TRUNC, 0644);
		dup2(out, 1);
		dup2(err, 2);
		setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
		std::vector<char *> argv;
		for (const auto &l : launcher)
			argv.push_back(const_cast<char *>(l.c_str()));
		argv.push_back(const_cast<char *>(exe.c_str()));
		for (const auto &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		execvp(argv[0], argv.data());
		_exit(127);
	}
}

namespace {

// Whether /proc/PID/status lists a handler for the signal (SigCgt).
bool HandlesSignal(pid_t pid, int signal_number)
{
	const std::string status =
		ReadFile("/proc/" + std::to_string(pid) + "/status");
	const size_t at = status.find("SigCgt:\t");
	if (at == std::string::npos)
		return false;
	const unsigned long long caught =
		std::strtoull(status.c_str() + at + 8, nullptr, 16);
	return (caught >> (signal_number - 1)) & 1;
}

} // namespace

void MonitorProcess::Signal(int signal_number)
{
	// The program installs its interrupt and termination handling only
	// once its monitor has started; a request sent before meets the
	// disposition it inherited, and a background job of a non-interactive
	// shell (as under scripts/with-xsession) inherits SIGINT ignored. So
	// these two wait, up to 30 s, until the program handles them.
	if (signal_number == SIGINT || signal_number == SIGTERM)
		for (int i = 0; i < 3000 && Running() && !HandlesSignal(pid, signal_number); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
	if (pid > 0)
		kill(pid, signal_number);
}

bool MonitorProcess::Running()
{
	if (pid <= 0)
		return false;
	int raw = 0;
	const pid_t done = waitpid(pid, &raw, WNOHANG);
	if (done == pid) {
		status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
		pid = -1;
		return false;
	}
	return true;
}

int MonitorProcess::Wait(int timeout_s)
{
	const auto deadline = std::chrono::steady_clock::now() +
			      std::chrono::seconds(timeout_s);
	while (Running()) {
		if (std::chrono::steady_clock::now() > deadline) {
			kill(pid, SIGKILL);
			int raw = 0;
			waitpid(pid, &raw, 0);
			pid = -1;
			return status = -2; // hung
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	return status;
}

std::string MonitorProcess::Log() const
{
	const auto names = ListDir(config / "logs");
	return names.empty() ? std::string()
			     : ReadFile(config / "logs/" + names.front());
}

bool MonitorProcess::WaitForLog(const std::string &text, double timeout_s) const
{
	const auto deadline =
		std::chrono::steady_clock::now() +
		std::chrono::milliseconds(static_cast<int>(timeout_s * 1000));
	while (std::chrono::steady_clock::now() < deadline) {
		if (Log().find(text) != std::string::npos)
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(50));
	}
	return false;
}

int MonitorProcess::CountInLog(const std::string &text) const
{
	const std::string log = Log();
	int count = 0;
	for (size_t at = log.find(text); at != std::string::npos;
	     at = log.find(text, at + 1))
		++count;
	return count;
}

std::vector<Row> MonitorProcess::Rows() const
{
	// Fields and rows separated by bytes that no column holds.
	const std::string out = Shell(
		"sqlite3 -separator \"$(printf '\\037')\" -newline "
		"\"$(printf '\\036')\" " +
		ShellQuote(DbPath()) +
		" 'SELECT id, member_id, active_tm, check_tm, process, title "
		"FROM monitor_detail ORDER BY id' 2>/dev/null");
	std::vector<Row> rows;
	std::stringstream records(out);
	std::string record;
	while (std::getline(records, record, '\x1e')) {
		std::vector<std::string> f;
		std::stringstream fields(record);
		std::string field;
		while (std::getline(fields, field, '\x1f'))
			f.push_back(field);
		if (f.size() != 6)
			continue;
		Row row;
		row.id = std::stoll(f[0]);
		row.member_id = std::stoll(f[1]);
		row.active_tm = OpensslDecrypt(f[2], kTestKey);
		row.check_tm = std::stoll(f[3]);
		row.process = OpensslDecrypt(f[4], kTestKey);
		row.title = f[5];
		rows.push_back(row);
	}
	return rows;
}

} // namespace testing_support
