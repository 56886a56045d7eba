// Log file names, their keys, the clean-up of old log files and the opening
// of the log file, on real folders below a temporary application-data folder.
#include <gtest/gtest.h>

#include <regex>

#include <sys/stat.h>

#include "logging/log-file.h"
#include "logging/log-handler.h"
#include "tests/support/test-support.h"

using namespace testing_support;

TEST(LogFileNameKey, ReadsTheSixDigitRunsOfADateAndTime)
{
	const struct {
		const char *name;
		uint64_t key;
	} cases[] = {
		{"2026-12-07 06-49-47.txt", 20261207064947u},
		{"2026-12-07 06-49-47 (2).txt", 20261207064947u},
		{"2026 - 12 - 07 06 - 49 - 47.txt", 20261207064947u},
		{"2026-12-07\t06-49-47", 20261207064947u},
		{"2024-1-2 3-4-5.log", 202412345u},
		{"1844-6744-0737 0955-16-15.txt", 18446744073709551615u},
		// not log files
		{"1844-6744-0737 0955-16-16.txt", 0},
		{"99999-99999-99999 99999-99999-99999.txt", 0},
		{"2026-12-0706-49-47.txt", 0},
		{"0-0-0 0-0-0.txt", 0},
		{"notes.txt", 0},
		{"2026-12-07 06-49.txt", 0},
		{"2026_12-07 06-49-47.txt", 0},
		{"x2026-12-07 06-49-47.txt", 0},
		{"", 0},
	};
	for (const auto &c : cases)
		EXPECT_EQ(LogFileNameKey(c.name), c.key) << c.name;
}

TEST(MakeLogFileName, IsTheLocalDateAndTimeOfNow)
{
	const std::string name = MakeLogFileName();
	EXPECT_TRUE(std::regex_match(
		name, std::regex(R"(\d{4}-\d\d-\d\d \d\d-\d\d-\d\d\.txt)")))
		<< name;
	const std::string date = Shell("date +%Y-%m-%d");
	EXPECT_EQ(name.substr(0, 10), date.substr(0, 10));
	EXPECT_EQ(LogFileNameKey(name.c_str()) / 1000000,
		  std::stoull(Shell("date +%Y%m%d")));
}

namespace {

class LogFiles : public ::testing::Test {
protected:
	void SetUp() override { mkdir((home / "logs").c_str(), 0755); }
	void Make(const std::string &name)
	{
		WriteFile(home / "logs/" + name, "x");
	}
	std::vector<std::string> Left() { return ListDir(home / "logs"); }
	TempConfigHome home;
};

const char kNew[] = "2026-12-07 10-00-00.txt";

} // namespace

TEST_F(LogFiles, FourthFileDeletesTheOldest)
{
	for (const char *n : {"2026-01-02 08-00-00.txt", "2026-01-01 08-00-00.txt",
			      "2026-01-03 08-00-00.txt", kNew})
		Make(n);
	PruneLogFiles("logs", kNew);
	EXPECT_EQ(Left(), (std::vector<std::string>{"2026-01-02 08-00-00.txt",
						    "2026-01-03 08-00-00.txt",
						    kNew}));
}

TEST_F(LogFiles, TenFilesLoseOnlyTheOldest)
{
	for (int day = 10; day < 19; ++day)
		Make("2026-01-" + std::to_string(day) + " 08-00-00.txt");
	Make(kNew);
	PruneLogFiles("logs", kNew);
	const auto left = Left();
	EXPECT_EQ(left.size(), 9u);
	EXPECT_EQ(left.front(), "2026-01-11 08-00-00.txt");
}

TEST_F(LogFiles, ThreeOrFewerAreKept)
{
	Make("2026-01-01 08-00-00.txt");
	Make("2026-01-02 08-00-00.txt");
	Make(kNew);
	PruneLogFiles("logs", kNew);
	EXPECT_EQ(Left().size(), 3u);
}

TEST_F(LogFiles, OnlyLogFilesAreCountedOrDeleted)
{
	Make("notes.txt");
	Make(".1999-01-01 00-00-00.txt");
	mkdir((home / "logs/1999-01-01 00-00-01.txt").c_str(), 0755);
	Make("2026-01-02 08-00-00.txt");
	Make("2026-01-03 08-00-00.txt");
	Make(kNew);
	PruneLogFiles("logs", kNew);
	EXPECT_EQ(Left().size(), 5u); // three log files: nothing to delete
	Make("2026-01-04 08-00-00.txt");
	PruneLogFiles("logs", kNew);
	EXPECT_EQ(Left(), (std::vector<std::string>{
				  "1999-01-01 00-00-01.txt",
				  "2026-01-03 08-00-00.txt",
				  "2026-01-04 08-00-00.txt", kNew,
				  "notes.txt"}));
	EXPECT_TRUE(Exists(home / "logs/.1999-01-01 00-00-00.txt"));
}

TEST_F(LogFiles, NineDigitKeyGoesFirst)
{
	Make("2024-1-2 3-4-5.log");
	Make("2026-01-02 08-00-00.txt");
	Make("2026-01-03 08-00-00.txt");
	Make(kNew);
	PruneLogFiles("logs", kNew);
	EXPECT_FALSE(Exists(home / "logs/2024-1-2 3-4-5.log"));
	EXPECT_EQ(Left().size(), 3u);
}

TEST_F(LogFiles, FileOpenAsTheLogIsNeverDeleted)
{
	// After the clock was set back the new file holds the smallest key.
	Make("2099-01-01 08-00-00.txt");
	Make("2099-01-02 08-00-00.txt");
	Make("2099-01-03 08-00-00.txt");
	Make(kNew);
	PruneLogFiles("logs", kNew);
	EXPECT_EQ(Left().size(), 4u);
	EXPECT_TRUE(Exists(home / "logs/" + kNew));
}

TEST_F(LogFiles, MissingDirectoryIsLeftAlone)
{
	PruneLogFiles("no-such-folder", kNew);
	EXPECT_FALSE(Exists(home / "no-such-folder"));
}

TEST_F(LogFiles, OpenLogFileNeverTruncatesAnExistingLog)
{
	SaveConsoleHandler();
	std::string base;
	std::fstream stream;
	// Retry if the second changes between naming and opening.
	for (int attempt = 0; attempt < 5; ++attempt) {
		base = MakeLogFileName();
		WriteFile(home / "logs/" + base, "running instance's log\n");
		OpenLogFile(stream, "logs");
		if (MakeLogFileName() == base)
			break;
		RestoreConsoleHandler();
		stream.close();
		Shell("rm -f '" + home.path() + "/logs/'*");
	}
	ASSERT_TRUE(stream.is_open());
	blog(LOG_INFO, "second instance line");
	RestoreConsoleHandler();

	const std::string second =
		base.substr(0, base.size() - 4) + " (2).txt";
	EXPECT_EQ(ReadFile(home / "logs/" + base), "running instance's log\n");
	EXPECT_NE(ReadFile(home / "logs/" + second).find(
			  ": second instance line\n"),
		  std::string::npos);
	EXPECT_EQ(LogFileNameKey(second.c_str()),
		  LogFileNameKey(base.c_str()));
}

TEST_F(LogFiles, OpenLogFileReportsAFolderItCannotWrite)
{
	SaveConsoleHandler();
	std::fstream stream;
	testing::internal::CaptureStderr();
	OpenLogFile(stream, "missing-folder");
	const std::string err = testing::internal::GetCapturedStderr();
	EXPECT_FALSE(stream.is_open());
	EXPECT_EQ(err, "error: Failed to open log file\n");
}
