// The option scan and start-up, run against the real executable with a
// temporary application-data folder.
#include <gtest/gtest.h>

#include <regex>

#include <sys/stat.h>

#include "app/launch-options.h"
#include "tests/support/test-support.h"

using namespace testing_support;

namespace {

const char kKey[] = "0123456789abcdef";

const std::string kHelp =
	"--user_id: login user's id.\n\n"
	"--member_id: login member id.\n\n"
	"--cipher_key: title encrypto key.(length must be 16) \n\n"
	"--record_dir: direct to save monitor record, default "
	"%AppData%/Ambrel/vorlixes.\n\n"
	"--log_dir: direct to save system log.\n\n"
	"--landing_server_time: server time on login.\n\n"
	"--check_interval: active check interval.\n\n"
	"\n";

struct StartupRun {
	RunResult result;
	std::vector<std::string> log_lines; // the one log file, prefixes removed
	int log_files = 0;
};

std::string StripPrefix(const std::string &line)
{
	static const std::regex prefix(R"(^\d\d:\d\d:\d\d\.\d\d\d: )");
	std::smatch m;
	if (std::regex_search(line, m, prefix))
		return m.suffix();
	return "<no prefix>" + line;
}

StartupRun RunMonitor(const TempConfigHome &home,
		      std::vector<std::string> args,
		      std::vector<std::string> env = {})
{
	args.insert(args.begin(), BinPath("vorlix-monitor"));
	StartupRun run;
	// Without a display the hook cannot be installed, so a run that passes
	// start-up ends right after it instead of sampling.
	env.push_back("XDG_CONFIG_HOME=" + home.path());
	env.push_back("DISPLAY=");
	run.result = Run(args, env);
	const std::string logs = home / "logs";
	for (const auto &name : ListDir(logs)) {
		++run.log_files;
		for (const auto &line : SplitLines(ReadFile(logs + "/" + name)))
			run.log_lines.push_back(StripPrefix(line));
	}
	return run;
}

std::vector<std::string> Valid()
{
	return {"--user_id",  "5",  "--member_id", "7",   "--cipher_key",
		kKey,         "--record_dir", "rec", "--log_dir", "logs"};
}

std::vector<std::string> With(std::vector<std::string> args,
			      const std::vector<std::string> &more)
{
	args.insert(args.end(), more.begin(), more.end());
	return args;
}

} // namespace

TEST(ParseInt32, FollowsAtoiAndClampsTo32Bits)
{
	const struct {
		const char *text;
		int32_t value;
	} cases[] = {
		{"42", 42},           {"  \t\n-17x", -17},
		{"+8", 8},            {"abc", 0},
		{"", 0},              {"- 5", 0},
		{"2147483647", 2147483647},
		{"2147483648", 2147483647},
		{"-2147483648", INT32_MIN},
		{"-2147483649", INT32_MIN},
		{"99999999999999999999999999", 2147483647},
		{"-99999999999999999999999999", INT32_MIN},
		{"0012", 12},         {"12.9", 12},
	};
	for (const auto &c : cases)
		EXPECT_EQ(ParseInt32(c.text), c.value) << "input: " << c.text;
}

TEST(Startup, ScanEndsTheProcessWithTheRightStatusAndOutput)
{
	const struct {
		const char *name;
		std::vector<std::string> args;
		int status;
		std::string out;
		bool log_dir_created;
	} cases[] = {
		{"no arguments", {}, 255, "input log dir!!\n", false},
		{"log dir without value", {"--user_id", "5", "--log_dir"}, 255,
		 "input log dir!!\n", false},
		{"help after valid options", With(Valid(), {"-h"}), 0, kHelp,
		 false},
		{"--help alone", {"--help"}, 0, kHelp, false},
		{"unrecognised before help", {"--bogus", "--help"}, 0, "", false},
		{"upper-case option", {"--USER_ID", "5"}, 0, "", false},
		{"equals form", {"--user_id=5"}, 0, "", false},
		{"bare value", {"5"}, 0, "", false},
		{"unrecognised after valid options", With(Valid(), {"x"}), 0,
		 "", false},
	};
	for (const auto &c : cases) {
		TempConfigHome home;
		const StartupRun run = RunMonitor(home, c.args);
		EXPECT_EQ(run.result.status, c.status) << c.name;
		EXPECT_EQ(run.result.out, c.out) << c.name;
		EXPECT_EQ(Exists(home / "logs"), c.log_dir_created) << c.name;
	}
}

TEST(Startup, FailedChecksAreLoggedToTheFileAndExitWithMinusOne)
{
	const struct {
		const char *name;
		std::vector<std::string> extra;
		const char *message;
	} cases[] = {
		{"user id abc", {"--user_id", "abc"}, "init user info error!"},
		{"user id 0", {"--user_id", "0"}, "init user info error!"},
		{"negative member", {"--member_id", "-1"},
		 "init user info error!"},
		{"15-byte key", {"--cipher_key", "0123456789abcde"},
		 "invalid cipher key!"},
		{"17-byte key", {"--cipher_key", "0123456789abcdefg"},
		 "invalid cipher key!"},
		// eight two-byte characters: 16 bytes, accepted
		{"non-ASCII key of 8 characters", {"--cipher_key",
		  "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"},
		 nullptr},
		{"non-ASCII key of 16 characters", {"--cipher_key",
		  "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"
		  "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"},
		 "invalid cipher key!"},
		{"record dir of one byte", {"--record_dir", "a"},
		 "init record_dir error!"},
		{"record dir of two bytes", {"--record_dir", "ab"}, nullptr},
		{"negative user id, member 0",
		 {"--user_id", "-4", "--member_id", "0"}, nullptr},
		{"log dir named -h", {"--log_dir", "-h"}, nullptr},
	};
	for (const auto &c : cases) {
		TempConfigHome home;
		std::vector<std::string> args = With(Valid(), c.extra);
		const StartupRun run = RunMonitor(home, args);
		if (std::string(c.extra[0]) == "--log_dir") {
			EXPECT_TRUE(Exists(home / "-h")) << c.name;
			EXPECT_EQ(run.result.out.find("--user_id: login"),
				  std::string::npos);
			continue;
		}
		ASSERT_EQ(run.log_files, 1) << c.name;
		if (c.message) {
			EXPECT_EQ(run.result.status, 255) << c.name;
			EXPECT_EQ(run.log_lines, std::vector<std::string>{c.message})
				<< c.name;
			EXPECT_NE(run.result.err.find(std::string("error: ") +
						      c.message),
				  std::string::npos)
				<< c.name;
		} else {
			// start-up passed: the application run takes over
			ASSERT_GE(run.log_lines.size(), 2u) << c.name;
			EXPECT_EQ(run.log_lines[0].rfind(
					  "Command Line Arguments: ", 0),
				  0u)
				<< c.name;
			EXPECT_EQ(run.log_lines.back(), "monitor thread start fail")
				<< c.name;
		}
	}
}

TEST(Startup, MissingKeyOrRecordDirFailsInCheckOrder)
{
	TempConfigHome home;
	StartupRun run = RunMonitor(home, {"--user_id", "0", "--log_dir", "logs"});
	EXPECT_EQ(run.log_lines, std::vector<std::string>{"init user info error!"});
	TempConfigHome home2;
	run = RunMonitor(home2, {"--user_id", "3", "--log_dir", "logs"});
	EXPECT_EQ(run.log_lines, std::vector<std::string>{"invalid cipher key!"});
	TempConfigHome home3;
	run = RunMonitor(home3, {"--user_id", "3", "--cipher_key", kKey,
				 "--log_dir", "logs"});
	EXPECT_EQ(run.log_lines,
		  std::vector<std::string>{"init record_dir error!"});
	EXPECT_EQ(run.result.status, 255);
}

TEST(Startup, KeyNeverReachesTheLog)
{
	const std::vector<std::vector<std::string>> cases = {
		Valid(),
		{"--cipher_key", kKey, "--user_id", "5", "--record_dir", "rec",
		 "--log_dir", "logs"},
		{"--user_id", "5", "--record_dir", "rec", "--log_dir", "logs",
		 "--cipher_key", "AAAAAAAAAAAAAAAA", "--cipher_key", kKey},
		// "--cipher_key" taken as the record directory, then the real key
		{"--user_id", "5", "--log_dir", "logs", "--record_dir",
		 "--cipher_key", "--cipher_key", kKey},
	};
	for (const auto &args : cases) {
		TempConfigHome home;
		const StartupRun run = RunMonitor(home, args);
		const std::string all = run.result.out + run.result.err +
					ReadFile(home / "logs/" +
						 ListDir(home / "logs").at(0));
		EXPECT_EQ(all.find(kKey), std::string::npos) << all;
		EXPECT_EQ(all.find("AAAAAAAAAAAAAAAA"), std::string::npos);
		EXPECT_NE(all.find("Command Line Arguments: "),
			  std::string::npos);
	}
}

// A key file is used only when nobody but its owner can reach it, as ssh
// uses a private key; one line break at its end is an editor's.
TEST(Startup, KeyFileMustBePrivateAndHoldSixteenBytes)
{
	const std::string refused =
		" are too open: group and others must have no access (chmod 600)";
	const struct {
		const char *name;
		const char *content; // nullptr: no file
		mode_t mode;
		std::string message; // "" : start-up passes; "FILE" stands for the path
	} cases[] = {
		{"owner read-write, LF", "0123456789abcdef\n", 0600, ""},
		{"owner read only, CRLF", "0123456789abcdef\r\n", 0400, ""},
		{"group may read", "0123456789abcdef", 0640,
		 "cipher key file FILE cannot be used: permissions 0640" + refused},
		{"others may only write", "0123456789abcdef", 0602,
		 "cipher key file FILE cannot be used: permissions 0602" + refused},
		{"17 bytes", "0123456789abcdefg", 0600, "invalid cipher key!"},
		{"two line breaks", "0123456789abcdef\n\n", 0600, "invalid cipher key!"},
		{"no such file", nullptr, 0600,
		 "cipher key file FILE cannot be used: No such file or directory"},
	};
	for (const auto &c : cases) {
		TempConfigHome home;
		const std::string file = home / "key";
		if (c.content) {
			WriteFile(file, c.content);
			ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
		}
		const StartupRun run = RunMonitor(
			home, {"--user_id", "5", "--cipher_key_file", file,
			       "--record_dir", "rec", "--log_dir", "logs"});
		if (c.message.empty()) {
			ASSERT_GE(run.log_lines.size(), 2u) << c.name;
			EXPECT_EQ(run.log_lines[0],
				  "Command Line Arguments: --user_id 5 --cipher_key_file " +
					  file + " --record_dir rec --log_dir logs")
				<< c.name;
			EXPECT_EQ(run.log_lines.back(), "monitor thread start fail") << c.name;
			continue;
		}
		std::string message = c.message;
		const size_t at = message.find("FILE");
		if (at != std::string::npos)
			message.replace(at, 4, file);
		EXPECT_EQ(run.result.status, 255) << c.name;
		EXPECT_EQ(run.log_lines, std::vector<std::string>{message}) << c.name;
	}
}

TEST(Startup, KeyFromStandardInputAndNeverTwoKeys)
{
	TempConfigHome home;
	const std::string command =
		"XDG_CONFIG_HOME=" + ShellQuote(home.path()) + " DISPLAY= " +
		ShellQuote(BinPath("vorlix-monitor")) +
		" --user_id 5 --record_dir rec --log_dir logs --cipher_key_file - ";
	// Start-up passes with the piped key and ends only for want of a display.
	std::string out = Shell("printf '0123456789abcdef\\n' | " + command +
				">/dev/null 2>&1; echo $?");
	EXPECT_EQ(out, "255\n");
	std::string log = ReadFile(home / "logs/" + ListDir(home / "logs").at(0));
	EXPECT_NE(log.find("monitor thread start fail"), std::string::npos) << log;
	EXPECT_EQ(log.find("invalid cipher key!"), std::string::npos) << log;

	TempConfigHome both;
	const StartupRun run = RunMonitor(
		both, With(Valid(), {"--cipher_key_file", "-"}));
	EXPECT_EQ(run.result.status, 255);
	EXPECT_EQ(run.log_lines,
		  std::vector<std::string>{"give the cipher key once: --cipher_key "
					   "or --cipher_key_file, not both"});
}

TEST(Startup, EchoJoinsTheArgumentsWithoutTheKey)
{
	TempConfigHome home;
	const StartupRun run = RunMonitor(
		home, {"--user_id", "7", "--cipher_key", kKey, "--member_id",
		       "1", "--record_dir", "r  x", "--log_dir", "logs",
		       "--check_interval", "-3"});
	ASSERT_FALSE(run.log_lines.empty());
	EXPECT_EQ(run.log_lines[0],
		  "Command Line Arguments: --user_id 7 --member_id 1 "
		  "--record_dir r  x --log_dir logs --check_interval -3");
	EXPECT_NE(run.result.out.find("info: Command Line Arguments: "),
		  std::string::npos);
}

// The application object adopts the user's locale, whose time format may be
// a 12-hour one ("10:16:46 AM"); the lines written after it must not change.
TEST(Startup, TimePrefixStaysOnA24HourClockInAnyLocale)
{
	TempDir locales;
	Shell("localedef -i en_US -f UTF-8 " + ShellQuote(locales / "en_US.UTF-8"));
	const std::vector<std::string> env = {"LOCPATH=" + locales.path(),
					      "LC_ALL=en_US.UTF-8"};
	const std::string clock = Shell("env " + ShellQuote(env[0]) + " " +
					ShellQuote(env[1]) + " date +%X");
	ASSERT_TRUE(std::regex_search(clock, std::regex("[AP]M"))) << clock;

	TempConfigHome home;
	const StartupRun run = RunMonitor(home, Valid(), env);
	ASSERT_GE(run.log_lines.size(), 2u);
	for (const auto &line : run.log_lines)
		EXPECT_EQ(line.rfind("<no prefix>", 0), std::string::npos) << line;
}

TEST(Startup, LogDirectoryIsCreatedBelowTheApplicationDataFolder)
{
	TempConfigHome home;
	// "\" separates folders, and an absolute-looking name stays relative.
	const StartupRun run = RunMonitor(
		home, {"--user_id", "1", "--cipher_key", kKey, "--record_dir",
		       "rec", "--log_dir", "/abs\\deep\\logs"});
	const std::string dir = home.path() + "//abs/deep/logs";
	EXPECT_EQ(ListDir(dir).size(), 1u);
	EXPECT_NE(run.result.out.find("info: logDir " + dir + " not exist"),
		  std::string::npos)
		<< run.result.out;
}

TEST(Startup, LogDirectoryThatCannotBeMadeEndsStartup)
{
	TempConfigHome home;
	WriteFile(home / "blocker", "a file where a folder should be");
	const StartupRun run = RunMonitor(
		home, {"--user_id", "1", "--cipher_key", kKey, "--record_dir",
		       "rec", "--log_dir", "blocker/logs"});
	EXPECT_EQ(run.result.status, 255);
	EXPECT_EQ(run.result.out,
		  "info: logDir " + home.path() + "/blocker/logs not exist\n"
		  "make log dir fail\n");
	EXPECT_NE(run.result.err.find("error: mkdir logDir " + home.path() +
				      "/blocker/logs fail"),
		  std::string::npos);
}

TEST(Startup, EmptyXdgConfigHomeFallsBackToHome)
{
	TempDir home;
	RunResult result = testing_support::Run({BinPath("vorlix-monitor"), "--user_id", "1",
				"--cipher_key", kKey, "--record_dir", "rec",
				"--log_dir", "logs"},
			       {"XDG_CONFIG_HOME=", "HOME=" + home.path(),
				"DISPLAY="});
	EXPECT_EQ(ListDir(home / ".config/logs").size(), 1u);
}
