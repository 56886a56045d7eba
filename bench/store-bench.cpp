// The cost of one stored row: EncryptText per value, and one WriteActiveInfo
// (open, prepare, two encryptions, insert, close) against a plain insert
// through SQLite's C interface into the same file, kept open, opened with the
// settings Qt's driver uses.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <QCoreApplication>
#include <sqlite3.h>
#include <unistd.h>
#include <util/base.h>

#include "monitor/shared-sample.h"
#include "store/monitor-db.h"
#include "store/value-cipher.h"

namespace {

const std::string kKey = "0123456789abcdef";
std::string dbPath;

void Silent(int, const char *, va_list, void *) {}

void BM_EncryptText(benchmark::State &state)
{
	const std::string input(static_cast<size_t>(state.range(0)), 'p');
	std::string output;
	for (auto _ : state) {
		EncryptText(kKey, kKey, input, output, 1);
		benchmark::DoNotOptimize(output);
	}
	state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EncryptText)->Arg(10)->Arg(11)->Arg(447);

void BM_WriteActiveInfo(benchmark::State &state)
{
	for (auto _ : state)
		WriteActiveInfo();
}
BENCHMARK(BM_WriteActiveInfo)->Unit(benchmark::kMicrosecond);

// Qt's SQLite driver without connection options: read-write, create,
// private cache, no mutex, 5 s busy timeout, extended result codes.
sqlite3 *OpenLikeQt()
{
	sqlite3 *db = nullptr;
	sqlite3_open_v2(dbPath.c_str(), &db,
			SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
				SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_NOMUTEX,
			nullptr);
	sqlite3_busy_timeout(db, 5000);
	sqlite3_extended_result_codes(db, 1);
	return db;
}

void BindText(sqlite3_stmt *statement, const char *name, const std::string &text)
{
	sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, name),
			  text.data(), static_cast<int>(text.size()),
			  SQLITE_TRANSIENT);
}

void BM_Sqlite3Insert(benchmark::State &state)
{
	sqlite3 *db = OpenLikeQt();
	std::string active_tm, process;
	EncryptText(kKey, kKey, "1700000100", active_tm, 1);
	EncryptText(kKey, kKey, "firefox-esr", process, 1);
	for (auto _ : state) {
		sqlite3_stmt *statement = nullptr;
		sqlite3_prepare_v2(db, kInsertSql, -1, &statement, nullptr);
		sqlite3_bind_int(statement,
				 sqlite3_bind_parameter_index(statement, ":mid"), 7);
		BindText(statement, ":atm", active_tm);
		sqlite3_bind_int64(statement,
				   sqlite3_bind_parameter_index(statement, ":ctm"),
				   1700000160);
		BindText(statement, ":p", process);
		BindText(statement, ":t", "Mozilla Firefox");
		if (sqlite3_step(statement) != SQLITE_DONE)
			state.SkipWithError(sqlite3_errmsg(db));
		sqlite3_finalize(statement);
	}
	sqlite3_close(db);
}
BENCHMARK(BM_Sqlite3Insert)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's real and CPU time per iteration (the median when
// the runs are repeated) for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
	// Colours only on a terminal.
	RatioReporter()
	    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular)
	{
	}

	struct Times {
		double real = 0, cpu = 0;
	};

	void ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const auto &run : runs) {
			const bool median = run.run_type == Run::RT_Aggregate &&
					    run.aggregate_name == "median";
			if (run.run_type == Run::RT_Iteration || median)
				times[run.run_name.function_name] = {
					run.GetAdjustedRealTime(),
					run.GetAdjustedCPUTime()};
		}
	}

	void PrintRatio(const char *numerator, const char *denominator)
	{
		const auto a = times.find(numerator), b = times.find(denominator);
		if (a == times.end() || b == times.end())
			return;
		std::printf("%s / %s: %.2f real time, %.2f CPU time\n", numerator,
			    denominator, a->second.real / b->second.real,
			    a->second.cpu / b->second.cpu);
	}

	std::map<std::string, Times> times;
};

void SetUpDatabase()
{
	char home[] = "/tmp/vorlix-bench-XXXXXX";
	if (!mkdtemp(home)) {
		std::perror("mkdtemp");
		std::exit(1);
	}
	setenv("XDG_CONFIG_HOME", home, 1);
	const std::string folder = std::string(home) + "/records";
	std::system(("mkdir -p '" + folder + "'").c_str());
	dbPath = folder + "/12.6.mon.db";

	SharedSample::SetUserInfo(12, 7);
	SharedSample::SetRecordDir("records");
	SharedSample::SetCipherKey(kKey);
	SharedSample::ActiveInfo.active_tm = 1700000100;
	SharedSample::ActiveInfo.check_tm = 1700000160;
	std::copy_n(u"firefox-esr", 12, SharedSample::ActiveInfo.process);
	std::copy_n(u"Mozilla Firefox", 16, SharedSample::ActiveInfo.title);
	WriteActiveInfo(); // creates the file and the table
}

} // namespace

int main(int argc, char **argv)
{
	QCoreApplication app(argc, argv);
	base_set_log_handler(Silent, nullptr);
	benchmark::Initialize(&argc, argv);
	SetUpDatabase();
	std::printf("database: %s\n", dbPath.c_str());

	RatioReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	RemoveMonitorConnection();

	reporter.PrintRatio("BM_WriteActiveInfo", "BM_Sqlite3Insert");
	std::system(("rm -rf '" + dbPath.substr(0, dbPath.rfind("/records")) + "'")
			    .c_str());
	benchmark::Shutdown();
	return 0;
}
