// The real sampling path driven back to back: the enumeration of the
// top-level windows with CheckActiveWindow, which samples the foreground
// window and writes its row with WriteActiveInfo, 100,000 times on an X
// server with a few windows. Every 1,000th sample follows a change of the
// foreground window, so the title and the process snapshot are read anew.
// Prints the resident set size (and the open descriptors) at the start, after
// 10,000 samples and at the end, and the cost of one sample as percentiles.
//
//   scripts/with-xsession build/bin/vorlix-soak [samples] [record folder]
//
// The record file goes below the given folder (by default /dev/shm, a tmpfs:
// on a disk each write waits for its fsyncs, about 14 ms here, which would
// stretch the run to half an hour and measure the disk, not the path).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <dirent.h>
#include <sqlite3.h>
#include <unistd.h>
#include <util/base.h>

#include "monitor/window-monitor.h"
#include "store/monitor-db.h"
#include "tests/support/test-windows-client.h"

namespace {

int errorLines = 0;

void CountErrors(int level, const char *, va_list, void *)
{
	if (level == LOG_ERROR)
		++errorLines;
}

// VmRSS or VmHWM of this process in KiB.
long StatusKib(const char *field)
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind(field, 0) == 0)
			return std::atol(line.c_str() + std::string(field).size() + 1);
	return -1;
}

// Open file descriptors: a connection or file left open per write would
// show here long before it showed in the memory.
int OpenDescriptors()
{
	int count = 0;
	if (DIR *fds = opendir("/proc/self/fd")) {
		while (dirent *entry = readdir(fds))
			count += entry->d_name[0] != '.';
		closedir(fds);
	}
	return count - 1; // the listing's own
}

void PrintRss(const char *when, long samples)
{
	std::printf("rss %-18s %8ld KiB (after %ld samples), %d descriptors open\n",
		    when, StatusKib("VmRSS"), samples, OpenDescriptors());
	std::fflush(stdout);
}

double Percentile(std::vector<double> sorted, double p)
{
	if (sorted.empty())
		return 0;
	std::sort(sorted.begin(), sorted.end());
	const size_t at = static_cast<size_t>(p / 100 * (sorted.size() - 1) + 0.5);
	return sorted[std::min(at, sorted.size() - 1)];
}

void PrintCost(const char *what, const std::vector<double> &us)
{
	std::printf("sample cost %-22s n=%-6zu p50 %7.1f us  p90 %7.1f us  "
		    "p99 %7.1f us  p99.9 %8.1f us  max %8.1f us\n",
		    what, us.size(), Percentile(us, 50), Percentile(us, 90),
		    Percentile(us, 99), Percentile(us, 99.9), Percentile(us, 100));
}

long long CountRows(const std::string &path)
{
	sqlite3 *db = nullptr;
	long long rows = -1;
	sqlite3_stmt *count = nullptr;
	if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
		    SQLITE_OK &&
	    sqlite3_prepare_v2(db, "SELECT count(*) FROM monitor_detail", -1,
			       &count, nullptr) == SQLITE_OK &&
	    sqlite3_step(count) == SQLITE_ROW)
		rows = sqlite3_column_int64(count, 0);
	sqlite3_finalize(count);
	sqlite3_close(db);
	return rows;
}

// A temporary application-data folder below `parent` with the record
// folder in it, and the settings a run of the program would give; empty on
// failure.
std::string PrepareRecords(const std::string &parent)
{
	std::string home = parent + "/vorlix-soak-XXXXXX";
	if (!mkdtemp(&home[0])) {
		std::perror("mkdtemp");
		return std::string();
	}
	setenv("XDG_CONFIG_HOME", home.c_str(), 1);
	std::system(("mkdir -p '" + home + "/records'").c_str());
	SharedSample::SetUserInfo(12, 7);
	SharedSample::SetRecordDir("records");
	SharedSample::SetCipherKey("soak-key-16bytes");
	return home;
}

struct Costs {
	std::vector<double> steady, changed; // microseconds
};

// Samples `samples` times back to back; before every 1,000th sample the
// foreground moves to the next window. The costs' storage is written through
// before the first sample, so that filling it does not show as growth of
// the resident set.
Costs Drive(testing_support::TestWindows &client,
	    const std::vector<uint32_t> &windows, long samples)
{
	std::vector<double> costs(static_cast<size_t>(samples), 0.0);
	PrintRss("before", 0);
	for (long i = 0; i < samples; ++i) {
		if (i > 0 && i % 1000 == 0)
			client.Activate(windows[static_cast<size_t>(i / 1000) % windows.size()]);
		SharedSample::ActiveInfo.check_tm = 1700000000 + i;
		SharedSample::ActiveInfo.active_tm = 1700000000 + i - 3;
		const auto start = std::chrono::steady_clock::now();
		platform::EnumTopLevelWindows(CheckActiveWindow, 0);
		const std::chrono::duration<double, std::micro> took =
			std::chrono::steady_clock::now() - start;
		costs[static_cast<size_t>(i)] = took.count();
		if (i == 0)
			PrintRss("start", 1);
		if (i + 1 == 10000)
			PrintRss("after 10,000", 10000);
	}
	PrintRss("end", samples);
	Costs split;
	for (size_t i = 0; i < costs.size(); ++i)
		(i > 0 && i % 1000 == 0 ? split.changed : split.steady).push_back(costs[i]);
	return split;
}

} // namespace

int main(int argc, char **argv)
{
	const long samples = argc > 1 ? std::atol(argv[1]) : 100000;
	const std::string parent = argc > 2 ? argv[2] : "/dev/shm";
	QCoreApplication app(argc, argv);
	base_set_log_handler(CountErrors, nullptr);
	const std::string home = PrepareRecords(parent);
	testing_support::TestWindows client;
	const std::vector<uint32_t> windows = client.OpenMany(5, "soak");
	if (home.empty() || windows.size() != 5 || !client.Activate(windows[0])) {
		std::fprintf(stderr, "soak: the records or windows could not be prepared\n");
		return 1;
	}

	const auto began = std::chrono::steady_clock::now();
	const Costs costs = Drive(client, windows, samples);
	const double seconds = std::chrono::duration<double>(
		std::chrono::steady_clock::now() - began).count();
	RemoveMonitorConnection();

	std::printf("rss peak %ld KiB; %ld samples in %.1f s; rows stored %lld; "
		    "error lines %d; record file on %s\n",
		    StatusKib("VmHWM"), samples, seconds,
		    CountRows(home + "/records/12.6.mon.db"), errorLines, parent.c_str());
	PrintCost("(unchanged foreground)", costs.steady);
	PrintCost("(after a change)", costs.changed);
	std::system(("rm -rf '" + home + "'").c_str());
	return 0;
}
