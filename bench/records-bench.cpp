// Rows per second of vorlix-records over a large record file: the file is
// made through the store's own table, insert statement and cipher, then
// each command reads all of it. Prints figures; fails on nothing but a
// command that does not succeed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <sqlite3.h>
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

// A working day's pattern, repeated: a sample every 10 s, the foreground
// executable changing every few minutes, a few hundred titles, an idle
// stretch now and then, and a new monitor start (a gap) every 2,000 rows.
void InsertRow(sqlite3_stmt *insert, int64_t i, int64_t &check_tm,
	       const std::vector<std::string> &process_texts)
{
	check_tm += i % 2000 == 0 ? 3600 : 10;
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

bool MakeFile(const std::string &path, int64_t rows)
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
		int64_t check_tm = 1714550400;
		sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
		for (int64_t i = 0; i < rows; ++i)
			InsertRow(insert, i, check_tm, process_texts);
		ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) ==
		     SQLITE_OK;
	}
	sqlite3_finalize(insert);
	sqlite3_close(db);
	return ok;
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
	const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
	char folder[] = "/tmp/records-bench-XXXXXX";
	if (rows <= 0 || !mkdtemp(folder)) {
		std::fprintf(stderr, "usage: records-bench [ROWS > 0]\n");
		return 2;
	}
	const std::string file = std::string(folder) + "/7.6.mon.db";
	const std::string html = std::string(folder) + "/report.html";

	auto start = std::chrono::steady_clock::now();
	bool ok = MakeFile(file, rows);
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
