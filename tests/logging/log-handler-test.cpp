// The file log handler: line splitting, levels, the repeated-entry filter and
// several threads at once, written into a real log file stream.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstdarg>
#include <fstream>
#include <regex>
#include <thread>

#include <sys/resource.h>

#include "logging/log-handler.h"
#include "tests/support/test-support.h"

using testing_support::ReadFile;
using testing_support::SplitLines;
using testing_support::TempDir;

namespace {

struct ConsoleEntry {
	int level;
	std::string text;
};
std::vector<ConsoleEntry> console;

void RecordConsole(int level, const char *format, va_list args, void *)
{
	char text[8192];
	vsnprintf(text, sizeof(text), format, args);
	console.push_back({level, text});
}

// A file stream on a file of its own, opened as the program opens its log.
struct LogFile {
	TempDir dir;
	std::fstream stream{dir / "log.txt", std::ios::in | std::ios::out |
						     std::ios::trunc | std::ios::binary};
	operator std::fstream &() { return stream; }
	std::string str() const { return ReadFile(dir / "log.txt"); }
};

void Log(std::fstream &stream, int level, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	FileLogHandler(level, format, args, &stream);
	va_end(args);
}

// Every line must carry the time prefix; returns the lines without it.
std::vector<std::string> Lines(const std::string &text)
{
	static const std::regex prefix(R"(^\d\d:\d\d:\d\d\.\d\d\d: )");
	std::vector<std::string> lines;
	for (const auto &line : SplitLines(text)) {
		std::smatch m;
		EXPECT_TRUE(std::regex_search(line, m, prefix)) << line;
		lines.push_back(m.suffix());
	}
	return lines;
}

std::vector<std::string> Lines(const LogFile &file)
{
	return Lines(file.str());
}

class LogHandler : public ::testing::Test {
protected:
	void SetUp() override
	{
		savedConsoleHandler = RecordConsole;
		console.clear();
		// End whatever run an earlier test left, on a scratch stream.
		static const char reset[] = "reset %d";
		LogFile scratch;
		Log(scratch, LOG_INFO, reset, ++resets_);
		Log(scratch, LOG_INFO, reset, ++resets_ + 100000);
		console.clear();
	}
	LogFile file;
	static int resets_;
};
int LogHandler::resets_ = 0;

} // namespace

TEST_F(LogHandler, SplitsTextIntoOneLinePerLineFeed)
{
	const struct {
		const char *text;
		std::vector<std::string> lines;
	} cases[] = {
		{"a\r\nb", {"a", "b"}},
		{"\na\nb", {"", "a", "b"}},
		{"a\n", {"a", ""}},
		{"", {""}},
		{"a\rb", {"a\rb"}},
		{"\r\n", {"", ""}},
		{"x\r\r\ny", {"x\r", "y"}},
	};
	for (const auto &c : cases) {
		LogFile out;
		static const char format[] = "%s";
		Log(out, LOG_INFO, format, c.text);
		// a different call site, so the next case is never a repeat
		Log(out, LOG_INFO, "--");
		auto lines = Lines(out);
		lines.pop_back();
		EXPECT_EQ(lines, c.lines) << "input: " << c.text;
	}
}

TEST_F(LogHandler, LinesOfOneEntryShareOnePrefix)
{
	Log(file, LOG_INFO, "%s", "one\ntwo\nthree");
	const auto raw = SplitLines(file.str());
	ASSERT_EQ(raw.size(), 3u);
	EXPECT_EQ(raw[0].substr(0, 14), raw[2].substr(0, 14));
}

TEST_F(LogHandler, LongTextIsCutAtTheFormattingLimit)
{
	const std::string text(5000, 'q');
	Log(file, LOG_INFO, "%s", text.c_str());
	EXPECT_EQ(Lines(file), std::vector<std::string>{std::string(4094, 'q')});
}

TEST_F(LogHandler, LevelsDecideBetweenFileAndConsole)
{
	Log(file, LOG_DEBUG, "debug %d", 1);
	Log(file, LOG_WARNING, "warn %d", 2);
	Log(file, LOG_ERROR, "err %d", 3);
	Log(file, LOG_INFO, "info %d", 4);
	EXPECT_EQ(Lines(file),
		  (std::vector<std::string>{"warn 2", "err 3", "info 4"}));
	ASSERT_EQ(console.size(), 3u);
	EXPECT_EQ(console[0].level, LOG_WARNING);
	EXPECT_EQ(console[0].text, "warn 2");
	EXPECT_EQ(console[1].level, LOG_ERROR);
	EXPECT_EQ(console[2].level, LOG_INFO);
}

TEST_F(LogHandler, DebugEntriesDoNotEndARunOfRepeats)
{
	static const char same[] = "same %d";
	for (int i = 0; i < 35; ++i) {
		Log(file, LOG_INFO, same, 1);
		Log(file, LOG_DEBUG, "noise");
	}
	Log(file, LOG_INFO, "next");
	const auto lines = Lines(file);
	ASSERT_EQ(lines.size(), 33u);
	EXPECT_EQ(lines[31], "Last log entry repeated for 4 more lines");
}

TEST_F(LogHandler, RepeatFilterWritesThirtyOneLinesThenSummarises)
{
	static const char same[] = "tick %d";
	const struct {
		int calls;
		int lines_of_run;
		const char *summary; // nullptr: none
	} cases[] = {
		{31, 31, nullptr},
		{32, 31, "Last log entry repeated for 1 more lines"},
		{40, 31, "Last log entry repeated for 9 more lines"},
		{5, 5, nullptr},
	};
	for (const auto &c : cases) {
		LogFile out;
		console.clear();
		for (int i = 0; i < c.calls; ++i)
			Log(out, LOG_INFO, same, 7);
		Log(out, LOG_INFO, "different %d", c.calls);
		auto lines = Lines(out);
		EXPECT_EQ(lines.back(), "different " + std::to_string(c.calls));
		lines.pop_back();
		if (c.summary) {
			EXPECT_EQ(lines.back(), c.summary);
			lines.pop_back();
		}
		EXPECT_EQ(static_cast<int>(lines.size()), c.lines_of_run)
			<< c.calls << " calls";
		// the console sees every call
		EXPECT_EQ(static_cast<int>(console.size()), c.calls + 1);
	}
}

TEST_F(LogHandler, EqualTextsFromTwoCallSitesAreNotRepeats)
{
	static const char siteA[] = "same text";
	static const char siteB[] = "same text";
	ASSERT_NE(static_cast<const void *>(siteA),
		  static_cast<const void *>(siteB));
	for (int i = 0; i < 40; ++i) {
		Log(file, LOG_INFO, siteA);
		Log(file, LOG_INFO, siteB);
	}
	EXPECT_EQ(Lines(file).size(), 80u);
}

TEST_F(LogHandler, ToleranceIsMeasuredFromTheRunsFirstEntry)
{
	static const char site[] = "%s";
	// byte sums: first entry 0 (empty); each later one adds 'a' (97) per char
	LogFile out;
	Log(out, LOG_INFO, site, "");                    // sum 0, run starts
	for (int i = 0; i < 30; ++i)
		Log(out, LOG_INFO, site, "aaaaaaa");     // 679 < 765: repeats
	Log(out, LOG_INFO, site, "aaaaaaa");             // 32nd: suppressed
	Log(out, LOG_INFO, site, "aaaaaaaa");            // 776 >= 765: new run
	auto lines = Lines(out);
	ASSERT_EQ(lines.size(), 33u);
	EXPECT_EQ(lines[31], "Last log entry repeated for 1 more lines");
	EXPECT_EQ(lines[32], "aaaaaaaa");

	// 764 away still counts as a repeat, 765 does not.
	LogFile edge;
	Log(edge, LOG_INFO, site, "");                    // reference sum 0
	std::string s764(7, 'a');                         // 679
	s764 += std::string(1, static_cast<char>(85));    // + 85 = 764
	std::string s765(7, 'a');
	s765 += std::string(1, static_cast<char>(86));    // 765
	Log(edge, LOG_INFO, site, s764.c_str());
	for (int i = 0; i < 40; ++i)
		Log(edge, LOG_INFO, site, s764.c_str());
	EXPECT_EQ(Lines(edge).size(), 31u); // 764 is within the tolerance
	Log(edge, LOG_INFO, site, s765.c_str());
	lines = Lines(edge);
	ASSERT_EQ(lines.size(), 33u); // 765 is not: summary and the new entry
	EXPECT_EQ(lines[31], "Last log entry repeated for 11 more lines");
}

TEST_F(LogHandler, NegativeBytesCountAsSignedInTheSum)
{
	static const char site[] = "%s";
	// "\xff" is -1 as a signed byte, so its sum is far from 255 * 3.
	Log(file, LOG_INFO, site, "\xff\xff\xff");       // sum -3
	for (int i = 0; i < 35; ++i)
		Log(file, LOG_INFO, site, "\x01\x01\x01"); // sum 3: repeats
	EXPECT_EQ(Lines(file).size(), 31u);
}

TEST_F(LogHandler, ThreadsLoggingAtOnceNeverTearLines)
{
	savedConsoleHandler = nullptr; // the recorder is not thread-safe
	constexpr int kThreads = 4, kEntries = 2000;
	std::atomic<bool> go{false};
	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; ++t)
		threads.emplace_back([&, t] {
			while (!go)
				std::this_thread::yield();
			for (int i = 0; i < kEntries; ++i)
				Log(file, i % 2 ? LOG_WARNING : LOG_INFO,
				    "thread %d entry %05d %s\nsecond line %d", t,
				    i, i % 2 ? "zzzzzzzzzzzz" : "", t);
		});
	go = true;
	for (auto &thread : threads)
		thread.join();

	static const std::regex first(
		R"(thread \d entry \d{5} (zzzzzzzzzzzz)?)");
	static const std::regex second(R"(second line \d)");
	int firsts = 0;
	for (const auto &line : Lines(file)) {
		if (std::regex_match(line, first))
			++firsts;
		else if (!std::regex_match(line, second) &&
			 line.rfind("Last log entry repeated for ", 0) != 0)
			ADD_FAILURE() << "torn line: " << line;
	}
	EXPECT_GT(firsts, kThreads * kEntries / 2);
}

// A file that cannot grow (a full disk; here the process's file size limit,
// which fails the write as a full disk does) puts the stream into its failed
// state. Once the file can grow again, the next entries must be written.
TEST_F(LogHandler, LinesResumeWhenTheFileCanGrowAgain)
{
	TempDir dir;
	const std::string path = dir / "log.txt";
	std::fstream log(path, std::ios::in | std::ios::out | std::ios::trunc |
				       std::ios::binary);
	Log(log, LOG_INFO, "before the disk is full %d", 1);

	const auto saved_signal = std::signal(SIGXFSZ, SIG_IGN);
	rlimit saved{};
	ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
	rlimit full = saved;
	full.rlim_cur = static_cast<rlim_t>(ReadFile(path).size());
	ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
	Log(log, LOG_ERROR, "while the disk is full %d", 2);
	const bool failed = !log.good();
	ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
	std::signal(SIGXFSZ, saved_signal);
	EXPECT_TRUE(failed) << "the full disk did not reach the stream";

	Log(log, LOG_INFO, "after the disk is full %d", 3);
	Log(log, LOG_INFO, "and on %d", 4);
	const std::string written = ReadFile(path);
	const std::vector<std::string> lines = Lines(written);
	ASSERT_GE(lines.size(), 3u) << written;
	EXPECT_EQ(lines.front(), "before the disk is full 1");
	EXPECT_EQ(lines[lines.size() - 2], "after the disk is full 3");
	EXPECT_EQ(lines.back(), "and on 4");
}

// The local time of day, against the date command in the same zone: five
// hours and 45 minutes east of UTC, so that UTC or a whole-hour slip shows.
TEST(LogTimeString, HasTheLocalTimeOfDayWithMilliseconds)
{
	const std::string zone = "XST-5:45";
	const std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
	setenv("TZ", zone.c_str(), 1);
	tzset();
	const std::string date = "TZ=" + zone + " date +%H:%M:%S.%3N";
	const std::string before = SplitLines(testing_support::Shell(date))[0];
	const std::string ours = LogTimeString();
	const std::string after = SplitLines(testing_support::Shell(date))[0];
	saved.empty() ? unsetenv("TZ") : setenv("TZ", saved.c_str(), 1);
	tzset();
	ASSERT_LE(before, after) << "midnight passed";
	EXPECT_LE(before, ours);
	EXPECT_LE(ours, after);
	EXPECT_EQ(ours.size(), 12u) << ours;
}
