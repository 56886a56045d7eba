// Rows per second of vorlix-records over a large record file: the file is
// made through the store's own table, insert statement and cipher, then
// each command reads all of it. Prints figures; fails on nothing but a
// command that does not succeed.
//
//   records-bench [ROWS]                  one file, in this process
//   records-bench --team BIN [FILES DAYS] a team's month: FILES users (100)
//       with DAYS (30) working days of 8 hours at a 10 s interval each;
//       the program BIN (vorlix-records) runs summary over one file, a
//       tenth of them and all of them, and report over all of them (into
//       team-report.html here): rows per second and peak memory
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/monitor-db.h"
#include "store/value-cipher.h"
#include "tools/records-command.h"

namespace {

const std::string kKey = "0123456789abcdef";
const char *const kProcesses[] = {
	"chrome.exe", "code.exe",  "explorer.exe", "WINWORD.EXE",
	"EXCEL.EXE",  "Teams.exe", "outlook.exe",  "cmd.exe",
	"slack.exe",  "firefox.exe", "notepad.exe", "-"};
constexpr int kProcessCount = sizeof(kProcesses) / sizeof(kProcesses[0]);

double Seconds(std::chrono::steady_clock::time_point since)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() -
					     since)
		.count();
}

std::string Encrypted(const std::string &plain)
{
	std::string text;
	EncryptText(kKey, kKey, plain, text, 1);
	return text;
}

void BindText(sqlite3_stmt *insert, const char *name, const std::string &text)
{
	sqlite3_bind_text(insert, sqlite3_bind_parameter_index(insert, name),
			  text.c_str(), static_cast<int>(text.size()),
			  SQLITE_TRANSIENT);
}

// Row `i` of a working day's pattern: the foreground executable changing
// every few minutes, a few hundred titles, an idle stretch now and then.
void InsertRow(sqlite3_stmt *insert, int64_t i, int64_t check_tm,
	       const std::vector<std::string> &process_texts)
{
	const int64_t idle = (i / 50) % 17 == 0 ? 200 + i % 60 : i % 9;
	const int process = static_cast<int>((i / 20) % kProcessCount);
	const std::string title = std::string(kProcesses[process]) +
				  " - document " + std::to_string((i / 7) % 400);
	sqlite3_bind_int(insert, sqlite3_bind_parameter_index(insert, ":mid"), 7);
	sqlite3_bind_int64(insert, sqlite3_bind_parameter_index(insert, ":ctm"),
			   check_tm);
	BindText(insert, ":atm", Encrypted(std::to_string(check_tm - idle)));
	BindText(insert, ":p", process_texts[process]);
	BindText(insert, ":t", title);
	sqlite3_step(insert);
	sqlite3_reset(insert);
}

// `rows` rows whose check_tm `time_of` gives by their number.
bool MakeFile(const std::string &path, int64_t rows,
	      const std::function<int64_t(int64_t)> &time_of)
{
	sqlite3 *db = nullptr;
	sqlite3_stmt *insert = nullptr;
	bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
		  sqlite3_exec(db, kCreateTableSql, nullptr, nullptr, nullptr) ==
			  SQLITE_OK &&
		  sqlite3_prepare_v2(db, kInsertSql, -1, &insert, nullptr) ==
			  SQLITE_OK;
	if (ok) {
		// Names repeat, and equal names encrypt alike: once each.
		std::vector<std::string> process_texts;
		for (const char *name : kProcesses)
			process_texts.push_back(Encrypted(name));
		sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
		for (int64_t i = 0; i < rows; ++i)
			InsertRow(insert, i, time_of(i), process_texts);
		ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) ==
		     SQLITE_OK;
	}
	sqlite3_finalize(insert);
	sqlite3_close(db);
	return ok;
}

// A sample every 10 s, a new monitor start (an hour's gap) every 2,000.
int64_t RunsOfSamples(int64_t i)
{
	const int64_t gaps = i / 2000 + 1;
	return 1714550400 + 3600 * gaps + 10 * (i + 1 - gaps);
}

// One user's working days: 8 hours from 08:00 (UTC) at a 10 s interval.
constexpr int64_t kDayRows = 8 * 360;
int64_t WorkingDays(int64_t i)
{
	return 1714550400 + i / kDayRows * 86400 + i % kDayRows * 10;
}

struct Usage {
	double seconds = 0; // wall time
	double cpu = 0;	    // user and system time of all its threads
	long peak_kib = 0;  // peak resident set
};

double CpuSeconds(const struct rusage &usage)
{
	return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
	       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `args` as a process; the machine is shared, so its CPU time is
// given beside the wall time.
bool RunProgram(const std::vector<std::string> &args, Usage &used)
{
	std::vector<char *> argv;
	for (const std::string &arg : args)
		argv.push_back(const_cast<char *>(arg.c_str()));
	argv.push_back(nullptr);
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
	const auto start = std::chrono::steady_clock::now();
	pid_t pid = 0;
	const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr,
					 argv.data(), environ) == 0;
	posix_spawn_file_actions_destroy(&actions);
	int status = 0;
	struct rusage usage {};
	if (!spawned || wait4(pid, &status, 0, &usage) != pid)
		return false;
	used.seconds = Seconds(start);
	used.cpu = CpuSeconds(usage);
	used.peak_kib = usage.ru_maxrss;
	return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Team(const std::string &program, int files, int days)
{
	char folder[] = "/tmp/records-team-XXXXXX";
	if (files <= 0 || days <= 0 || !mkdtemp(folder)) {
		std::fprintf(stderr, "records-bench --team BIN [FILES DAYS]\n");
		return 2;
	}
	const std::string first = std::string(folder) + "/1.6.mon.db";
	const auto start = std::chrono::steady_clock::now();
	bool ok = MakeFile(first, days * kDayRows, WorkingDays);
	std::filesystem::create_directory(std::string(folder) + "/tenth");
	for (int user = 2; ok && user <= files; ++user)
		std::filesystem::copy_file(
			first, std::string(folder) + (user <= files / 10 ? "/tenth/" : "/") +
				       std::to_string(user) + ".6.mon.db");
	if (files >= 10)
		std::filesystem::rename(first, std::string(folder) + "/tenth/1.6.mon.db");
	const int64_t per_file = days * kDayRows;
	std::printf("%d files of %lld rows (%d days of 8 hours at 10 s) made in "
		    "%.1f s\n",
		    files, static_cast<long long>(per_file), days, Seconds(start));
	const std::string tenth = std::string(folder) + "/tenth";
	// In the working folder, so that the page outlives the run for a look.
	const std::string html = "team-report.html";
	const struct {
		const char *label;
		std::string path;
		int files;
	} runs[] = {{"summary, 1 file", tenth + "/1.6.mon.db", 1},
		    {"summary, a tenth of the files", tenth, files / 10},
		    {"summary, all files", folder, files},
		    {"summary --by user,day, all files", folder, files},
		    {"report, all files", folder, files}};
	std::printf("%-34s %9s %8s %11s %8s %13s %11s\n", "", "rows", "wall s",
		    "rows/s", "CPU s", "rows/CPU s", "peak RSS");
	for (const auto &run : runs) {
		const bool report = run.label[0] == 'r';
		std::vector<std::string> args = {program, report ? "report" : "summary",
						 run.path, "--key", kKey};
		if (run.label[8] == '-')
			args.insert(args.end(), {"--by", "user,day"});
		if (report)
			args.insert(args.end(), {"--html", html});
		Usage used;
		ok = ok && RunProgram(args, used);
		const double rows = static_cast<double>(per_file * run.files);
		std::printf("%-34s %9.0f %8.2f %11.0f %8.2f %13.0f %7ld KiB\n",
			    run.label, rows, used.seconds, rows / used.seconds,
			    used.cpu, rows / used.cpu, used.peak_kib);
	}
	std::error_code size_error;
	std::printf("report page %.1f MB: %s\n",
		    std::filesystem::file_size(html, size_error) / 1e6, html.c_str());
	double load[1] = {0};
	if (getloadavg(load, 1) == 1)
		std::printf("load average %.1f on %ld cores\n", load[0],
			    sysconf(_SC_NPROCESSORS_ONLN));
	std::filesystem::remove_all(folder);
	return ok ? 0 : 1;
}

bool Measure(const char *label, const std::vector<std::string> &args,
	     int64_t rows)
{
	FILE *sink = std::fopen("/dev/null", "w");
	const auto start = std::chrono::steady_clock::now();
	const int status = RunRecords(args, sink, stderr);
	const double elapsed = Seconds(start);
	std::fclose(sink);
	std::printf("%-24s %8.2f s  %10.0f rows/s\n", label, elapsed,
		    static_cast<double>(rows) / elapsed);
	return status == 0;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc > 2 && std::string(argv[1]) == "--team")
		return Team(argv[2], argc > 3 ? std::atoi(argv[3]) : 100,
			    argc > 4 ? std::atoi(argv[4]) : 30);
	const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
	char folder[] = "/tmp/records-bench-XXXXXX";
	if (rows <= 0 || !mkdtemp(folder)) {
		std::fprintf(stderr, "usage: records-bench [ROWS > 0]\n");
		return 2;
	}
	const std::string file = std::string(folder) + "/7.6.mon.db";
	const std::string html = std::string(folder) + "/report.html";

	auto start = std::chrono::steady_clock::now();
	bool ok = MakeFile(file, rows, RunsOfSamples);
	std::printf("%lld rows written through the store's statements in "
		    "%.2f s\n",
		    static_cast<long long>(rows), Seconds(start));
	const std::vector<std::string> key = {"--key", kKey};
	auto command = [&](std::vector<std::string> args) {
		args.insert(args.begin() + 1, file);
		args.insert(args.end(), key.begin(), key.end());
		return args;
	};
	ok = ok && Measure("summary", command({"summary"}), rows);
	ok = ok && Measure("list --format csv",
			   command({"list", "--format", "csv"}), rows);
	ok = ok && Measure("list --format jsonl",
			   command({"list", "--format", "jsonl"}), rows);
	ok = ok && Measure("list (table, 2 passes)", command({"list"}), rows);
	ok = ok && Measure("report --html",
			   command({"report", "--html", html}), rows);
	unlink(html.c_str());
	unlink(file.c_str());
	rmdir(folder);
	return ok ? 0 : 1;
}
