// What sampling the desktop costs on X11: one enumeration of the top-level
// windows with the foreground test for each (a tick whose foreground window
// is unchanged), the same with the title, pid and process-snapshot lookup of
// the foreground window (a tick after a change), for 10, 100 and 500
// windows; and one read of the active window's title and pid against
// `xdotool getactivewindow getwindowname getwindowpid`.
//
//   scripts/with-xsession build/bin/vorlix-bench-desktop
//
// Windows come from vorlix-test-windows; openbox manages them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include "platform/platform.h"
#include "tests/support/test-windows-client.h"

extern char **environ;

namespace {

using platform::WindowHandle;

std::unique_ptr<testing_support::TestWindows> client;
std::vector<uint32_t> windows;

// The X window id of a handle (its low 32 bits; the rest is a generation).
uint32_t WindowId(WindowHandle handle)
{
	return static_cast<uint32_t>(handle);
}

// Brings the number of open windows to `count` and the newest to the front.
bool PrepareWindows(size_t count)
{
	if (windows.size() > count) {
		client.reset(); // its windows go with it
		windows.clear();
	}
	if (!client)
		client = std::make_unique<testing_support::TestWindows>();
	if (windows.size() < count) {
		const std::vector<uint32_t> more =
			client->OpenMany(static_cast<int>(count - windows.size()), "bench");
		windows.insert(windows.end(), more.begin(), more.end());
	}
	if (windows.size() != count || !client->Activate(windows.back()))
		return false;
	for (int i = 0; i < 1000 && WindowId(platform::ForegroundWindow()) != windows.back(); ++i)
		usleep(10000);
	return WindowId(platform::ForegroundWindow()) == windows.back();
}

struct Sample {
	bool read_texts;
	int listed = 0;
	int found = 0;
};

bool LookUpProcess(uint32_t pid, char16_t *name)
{
	platform::ProcessSnapshot *snapshot = platform::OpenProcessSnapshot();
	platform::ProcessEntry entry{};
	bool found = false;
	for (bool more = platform::FirstProcess(snapshot, &entry); more && !found;
	     more = platform::NextProcess(snapshot, &entry)) {
		if (entry.pid == pid) {
			std::copy(entry.exe_file, entry.exe_file + 149, name);
			found = true;
		}
	}
	platform::CloseProcessSnapshot(snapshot);
	return found;
}

// Shaped as the sampler's enumeration callback.
bool SampleWindow(WindowHandle window, std::intptr_t user)
{
	auto *sample = reinterpret_cast<Sample *>(user);
	++sample->listed;
	if (window != platform::ForegroundWindow())
		return true;
	if (sample->read_texts) {
		char16_t title[150] = {}, process[150] = {};
		platform::WindowTitle(window, title, 149);
		const uint32_t pid = platform::WindowProcessId(window);
		if (pid && LookUpProcess(pid, process))
			++sample->found;
	} else {
		++sample->found;
	}
	return true;
}

void Tick(benchmark::State &state, bool read_texts)
{
	if (!PrepareWindows(static_cast<size_t>(state.range(0)))) {
		state.SkipWithError("windows could not be opened and activated");
		return;
	}
	Sample sample{read_texts};
	for (auto _ : state) {
		sample = Sample{read_texts};
		platform::EnumTopLevelWindows(SampleWindow, reinterpret_cast<std::intptr_t>(&sample));
	}
	state.counters["windows"] = sample.listed;
	if (sample.found != 1)
		state.SkipWithError("the foreground window was not sampled");
}

void BM_TickUnchangedForeground(benchmark::State &state)
{
	Tick(state, false);
}

void BM_TickNewForeground(benchmark::State &state)
{
	Tick(state, true);
}

void BM_ActiveTitleAndPid_Layer(benchmark::State &state)
{
	if (!PrepareWindows(10)) {
		state.SkipWithError("no active window");
		return;
	}
	for (auto _ : state) {
		char16_t title[150] = {};
		const WindowHandle active = platform::ForegroundWindow();
		benchmark::DoNotOptimize(platform::WindowTitle(active, title, 149));
		benchmark::DoNotOptimize(platform::WindowProcessId(active));
	}
}

void BM_ActiveTitleAndPid_Xdotool(benchmark::State &state)
{
	if (!PrepareWindows(10)) {
		state.SkipWithError("no active window");
		return;
	}
	char *argv[] = {const_cast<char *>("xdotool"), const_cast<char *>("getactivewindow"),
			const_cast<char *>("getwindowname"), const_cast<char *>("getwindowpid"),
			nullptr};
	posix_spawn_file_actions_t quiet;
	posix_spawn_file_actions_init(&quiet);
	posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
	for (auto _ : state) {
		pid_t pid;
		int status = -1;
		if (posix_spawnp(&pid, "xdotool", &quiet, nullptr, argv, environ) != 0 ||
		    waitpid(pid, &status, 0) != pid || status != 0) {
			state.SkipWithError("xdotool failed");
			break;
		}
	}
	posix_spawn_file_actions_destroy(&quiet);
}

BENCHMARK(BM_TickUnchangedForeground)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickNewForeground)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ActiveTitleAndPid_Layer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ActiveTitleAndPid_Xdotool)->Unit(benchmark::kMicrosecond);

// Prints as usual and keeps each benchmark's real time per iteration.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
	RecordingReporter()
		: ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular)
	{
	}

	void ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run &run : runs)
			if (!run.error_occurred)
				times[run.benchmark_name()] = run.GetAdjustedRealTime();
	}
	std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	RecordingReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	const auto layer = reporter.times.find("BM_ActiveTitleAndPid_Layer");
	const auto xdotool = reporter.times.find("BM_ActiveTitleAndPid_Xdotool");
	if (layer != reporter.times.end() && xdotool != reporter.times.end() && layer->second > 0)
		std::printf("\nactive window title and pid: xdotool takes %.0f times as long "
			    "(%.1f us against %.1f us)\n",
			    xdotool->second / layer->second, xdotool->second, layer->second);
	client.reset();
	benchmark::Shutdown();
	return 0;
}
