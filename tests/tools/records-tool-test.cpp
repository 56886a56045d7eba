#include <fstream>
#include <functional>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test-support.h"
#include "tests/tools/records-fixture.h"

namespace {

using records_fixture::kKey;
using records_fixture::Row;
using records_fixture::RunTool;
using testing_support::TempDir;

constexpr int64_t kBase = 1714550400; // 2024-05-01 08:00:00 UTC

std::vector<Row> SmallRows()
{
	return {{7, "1714550395", kBase, "chrome.exe", "Inbox - Mail"},
		{7, "0", kBase + 10, "code", "main.cpp \xe2\x80\x94 vorlix"},
		{8, "1714550200", kBase + 20, "-", "-"}};
}

class RecordsTool : public ::testing::Test {
protected:
	std::string MakeFile(const std::vector<Row> &rows,
			     const std::string &name = "1.6.mon.db")
	{
		const std::string path = dir_ / name;
		records_fixture::WriteRecordFile(path, kKey, rows);
		return path;
	}
	TempDir dir_;
};

TEST_F(RecordsTool, ListFormatsGiveExactOutputForSmallFile)
{
	const std::string file = MakeFile(SmallRows());
	const std::string f = "," + file + "\r\n";
	const std::string j = ",\"file\":\"" + file + "\"}\n";
	const struct {
		const char *format;
		std::string expected;
	} cases[] = {
		{"table",
		 "user_id  id  member_id    check_tm  check_time                  "
		 "active_tm  active_time                idle  seconds  process     title\n"
		 "      1   1          7  1714550400  2024-05-01 08:00:00+00:00  "
		 "1714550395  2024-05-01 07:59:55+00:00     5       10  chrome.exe  "
		 "Inbox - Mail\n"
		 "      1   2          7  1714550410  2024-05-01 08:00:10+00:00  "
		 "         0                                        10  code        "
		 "main.cpp \xe2\x80\x94 vorlix\n"
		 "      1   3          8  1714550420  2024-05-01 08:00:20+00:00  "
		 "1714550200  2024-05-01 07:56:40+00:00   220       10  -           -\n"},
		{"csv",
		 "id,member_id,check_tm,check_time,active_tm,active_time,idle,"
		 "process,title,user_id,seconds,file\r\n"
		 "1,7,1714550400,2024-05-01 08:00:00+00:00,1714550395,"
		 "2024-05-01 07:59:55+00:00,5,chrome.exe,Inbox - Mail,1,10" + f +
		 "2,7,1714550410,2024-05-01 08:00:10+00:00,0,,,code,"
		 "main.cpp \xe2\x80\x94 vorlix,1,10" + f +
		 "3,8,1714550420,2024-05-01 08:00:20+00:00,1714550200,"
		 "2024-05-01 07:56:40+00:00,220,-,-,1,10" + f},
		{"jsonl",
		 "{\"id\":1,\"member_id\":7,\"check_tm\":1714550400,"
		 "\"check_time\":\"2024-05-01 08:00:00+00:00\",\"active_tm\":1714550395,"
		 "\"active_time\":\"2024-05-01 07:59:55+00:00\",\"idle\":5,"
		 "\"process\":\"chrome.exe\",\"title\":\"Inbox - Mail\",\"user_id\":1,"
		 "\"seconds\":10" + j +
		 "{\"id\":2,\"member_id\":7,\"check_tm\":1714550410,"
		 "\"check_time\":\"2024-05-01 08:00:10+00:00\",\"active_tm\":0,"
		 "\"active_time\":null,\"idle\":null,"
		 "\"process\":\"code\",\"title\":\"main.cpp \\u2014 vorlix\",\"user_id\":1,"
		 "\"seconds\":10" + j +
		 "{\"id\":3,\"member_id\":8,\"check_tm\":1714550420,"
		 "\"check_time\":\"2024-05-01 08:00:20+00:00\",\"active_tm\":1714550200,"
		 "\"active_time\":\"2024-05-01 07:56:40+00:00\",\"idle\":220,"
		 "\"process\":\"-\",\"title\":\"-\",\"user_id\":1,"
		 "\"seconds\":10" + j},
	};
	for (const auto &c : cases) {
		const auto result =
			RunTool({"list", file, "--key", kKey, "--format", c.format});
		EXPECT_EQ(0, result.status) << c.format << ": " << result.err;
		EXPECT_EQ("", result.err);
		EXPECT_EQ(c.expected, result.out) << c.format;
	}
}

std::vector<Row> RowsWithTitles(const std::vector<std::string> &titles)
{
	std::vector<Row> rows;
	for (size_t i = 0; i < titles.size(); ++i)
		rows.push_back({7, std::to_string(kBase + 10 * i - 1),
				kBase + 10 * static_cast<int64_t>(i), "app.exe",
				titles[i]});
	return rows;
}

std::vector<std::string> HexLines(const std::vector<std::string> &texts)
{
	std::vector<std::string> lines;
	for (const std::string &text : texts)
		lines.push_back(records_fixture::Hex(text));
	return lines;
}

// Python's csv module reads the titles back byte for byte.
TEST_F(RecordsTool, CsvQuotesTitlesWithCommasQuotesAndLineBreaks)
{
	const std::vector<std::string> titles = {
		"a, b", "say \"hi\"", "two\nlines", "crlf\r\nend",
		"\"quoted, and\nbroken\"", "plain", "", "trailing \""};
	const std::string file = MakeFile(RowsWithTitles(titles));
	const auto result =
		RunTool({"list", file, "--key", kKey, "--format", "csv"});
	ASSERT_EQ(0, result.status) << result.err;
	testing_support::WriteFile(dir_ / "out.csv", result.out);
	const std::string read_back = testing_support::Shell(
		"python3 -c 'import csv,sys\n"
		"rows = list(csv.reader(open(sys.argv[1], newline=\"\", "
		"encoding=\"utf-8\"), strict=True))\n"
		"assert all(len(r) == 12 for r in rows), rows\n"
		"for r in rows[1:]: print(r[8].encode().hex())' " +
		dir_ / "out.csv");
	EXPECT_EQ(HexLines(titles), testing_support::SplitLines(read_back));
}

// Python's json module: every line parses, the title reads back byte for
// byte, and its escaped form is exactly json.dumps's ASCII form.
TEST_F(RecordsTool, JsonLinesEscapeNonAsciiAndControlCharacters)
{
	const std::vector<std::string> titles = {
		"caf\xc3\xa9", "\xe4\xb8\xad\xe6\x96\x87\xe6\xa0\x87\xe9\xa2\x98",
		"emoji \xf0\x9f\x98\x80", "ctl \x01\x1f\x7f",
		"tab\tnl\ncr\r", "quote\" back\\ slash/",
		"bell\x07 esc\x1b[0m", "sep \xe2\x80\xa8"};
	const std::string file = MakeFile(RowsWithTitles(titles));
	const auto result =
		RunTool({"list", file, "--key", kKey, "--format", "jsonl"});
	ASSERT_EQ(0, result.status) << result.err;
	for (unsigned char c : result.out)
		ASSERT_LT(c, 0x80) << "output is not ASCII";
	testing_support::WriteFile(dir_ / "out.jsonl", result.out);
	const std::string read_back = testing_support::Shell(
		"python3 -c 'import json,sys\n"
		"for line in open(sys.argv[1], encoding=\"ascii\"):\n"
		"    t = json.loads(line)[\"title\"]\n"
		"    assert (\"\\\"title\\\":\" + json.dumps(t) + \",\") in line, line\n"
		"    print(t.encode().hex())' " +
		dir_ / "out.jsonl");
	EXPECT_EQ(HexLines(titles), testing_support::SplitLines(read_back));
}

TEST_F(RecordsTool, FiltersChooseRowsByTimeAndExecutable)
{
	const std::string file = MakeFile(SmallRows());
	const struct {
		std::vector<std::string> filter;
		std::vector<int64_t> ids;
	} cases[] = {
		{{}, {1, 2, 3}},
		{{"--since", "2024-05-01 08:00:10"}, {2, 3}},
		{{"--until", "1714550420"}, {1, 2}},
		{{"--since", "2024-05-01T08:00:05", "--until", "2024-05-01 08:00:15"},
		 {2}},
		{{"--since", "2024-05-02"}, {}},
		{{"--process", "CHROME.EXE"}, {1}},
		{{"--process", "code", "--process", "-"}, {2, 3}},
		{{"--process", "chrome"}, {}},
	};
	for (const auto &c : cases) {
		std::vector<std::string> args = {"list", file, "--key", kKey,
						 "--format", "csv"};
		args.insert(args.end(), c.filter.begin(), c.filter.end());
		const auto result = RunTool(args);
		EXPECT_EQ(0, result.status) << result.err;
		std::vector<int64_t> ids;
		const auto records = records_fixture::ParseCsv(result.out);
		for (size_t i = 1; i < records.size(); ++i)
			ids.push_back(std::stoll(records[i][0]));
		EXPECT_EQ(c.ids, ids) << (c.filter.empty() ? "" : c.filter[0]);
	}
}

// The rows of the in-process arithmetic test, now through a real file:
// intervals 10 (six times), 140, 12 and 8; the median 10 and the cap 20.
TEST_F(RecordsTool, SummaryOfHandMadeFileWithGapsAndIdleRows)
{
	auto row = [](int64_t offset, const char *process, const char *title,
		      int64_t idle) {
		return Row{7, idle < 0 ? "0" : std::to_string(kBase + offset - idle),
			   kBase + offset, process, title};
	};
	const std::string file = MakeFile(
		{row(0, "a.exe", "A1", 5), row(10, "a.exe", "A1", 5),
		 row(20, "a.exe", "A2", 3), row(30, "b.exe", "B", 0),
		 row(40, "b.exe", "B", 200), row(50, "b.exe", "B", 210),
		 row(60, "a.exe", "A1", 1), row(200, "b.exe", "B", -1),
		 row(212, "a.exe", "A2", 2), row(220, "a.exe", "A2", 4)});
	const auto result = RunTool({"summary", file, "--key", kKey});
	EXPECT_EQ(0, result.status) << result.err;
	EXPECT_EQ("Rows 10 from 2024-05-01 08:00:00+00:00 to "
		  "2024-05-01 08:03:40+00:00 in 2 runs\n"
		  "Median interval 10 s, gap cap 20 s, idle from 180 s\n"
		  "Time zone UTC (TZ)\n"
		  "\n"
		  "Executable  Seconds     Time   Share\n"
		  "a.exe            58  0:00:58   58.0%\n"
		  "b.exe            22  0:00:22   22.0%\n"
		  "(idle)           20  0:00:20   20.0%\n"
		  "Total           100  0:01:40  100.0%\n"
		  "\n"
		  "Seconds     Time  Share  Executable  Title\n"
		  "     30  0:00:30  30.0%  a.exe       A1\n"
		  "     28  0:00:28  28.0%  a.exe       A2\n"
		  "     22  0:00:22  22.0%  b.exe       B\n",
		  result.out);

	const auto capped = RunTool({"summary", file, "--key", kKey, "--gap",
				     "150", "--idle", "205"});
	EXPECT_EQ(0, capped.status) << capped.err;
	EXPECT_NE(std::string::npos,
		  capped.out.find("in 1 run\nMedian interval 10 s, gap cap 150 s,"
				  " idle from 205 s\nTime zone UTC (TZ)\n"));
	EXPECT_NE(std::string::npos,
		  capped.out.find("a.exe           188  0:03:08   81.7%\n"))
		<< capped.out;
	EXPECT_NE(std::string::npos,
		  capped.out.find("(idle)           10  0:00:10    4.3%\n"));
}

struct BadInput {
	const char *name;
	// Prepares the case in `dir`; returns the record file's path.
	std::function<std::string(const TempDir &dir)> setup;
	std::vector<std::string> args; // after "list FILE"; default --key kKey
	const char *message;
	int status;
};

std::string Sqlite(const std::string &path, const std::string &sql)
{
	return testing_support::Shell("sqlite3 '" + path + "' '" + sql + "'");
}

TEST_F(RecordsTool, BadInputGivesOneLineAndLeavesTheFileUnchanged)
{
	const auto good = [](const TempDir &dir) {
		records_fixture::WriteRecordFile(dir / "r.db", kKey, SmallRows());
		return dir / "r.db";
	};
	const BadInput cases[] = {
		{"missing file", [](const TempDir &d) { return d / "none.db"; }, {},
		 "no such file: ", 1},
		{"not SQLite",
		 [](const TempDir &d) {
			 testing_support::WriteFile(
				 d / "t.db", std::string(200, 'x') + "\nnot a database\n");
			 return d / "t.db";
		 },
		 {}, " is not an SQLite database", 1},
		{"empty file",
		 [](const TempDir &d) {
			 testing_support::WriteFile(d / "e.db", "");
			 return d / "e.db";
		 },
		 {}, " has no table monitor_detail", 1},
		{"no monitor_detail",
		 [](const TempDir &d) {
			 Sqlite(d / "o.db", "CREATE TABLE other(x);");
			 return d / "o.db";
		 },
		 {}, " has no table monitor_detail", 1},
		{"other columns",
		 [](const TempDir &d) {
			 Sqlite(d / "c.db", "CREATE TABLE monitor_detail(x); "
					    "INSERT INTO monitor_detail VALUES (1);");
			 return d / "c.db";
		 },
		 {}, ": table monitor_detail lacks the expected columns (", 1},
		{"a folder without record files",
		 [](const TempDir &d) {
			 testing_support::Shell("mkdir '" + d / "folder.db" + "'");
			 return d / "folder.db";
		 },
		 {}, "no record file (*.6.mon.db) below ", 1},
		{"key of 15 bytes", good, {"--key", "0123456789abcde"},
		 "the key must be 16 bytes long, not 15", 1},
		{"key of 17 bytes", good, {"--key", "0123456789abcdefg"},
		 "the key must be 16 bytes long, not 17", 1},
		{"wrong key", good, {"--key", "fedcba9876543210"},
		 "wrong key: the records in ", 1},
		{"missing key file", good, {"--key-file", "/nonexistent/key"},
		 "cannot read key file /nonexistent/key: ", 1},
		{"report over the record file", good,
		 {"--key", kKey, "--html", "SELF"},
		 "refusing to write the report over the record file ", 2},
	};
	for (const BadInput &c : cases) {
		TempDir dir;
		const std::string path = c.setup(dir);
		const bool report = !c.args.empty() && c.args.back() == "SELF";
		std::vector<std::string> args = {report ? "report" : "list", path};
		for (const std::string &arg : c.args)
			args.push_back(arg == "SELF" ? path : arg);
		if (c.args.empty())
			args.insert(args.end(), {"--key", kKey});
		const auto before = records_fixture::SnapshotFile(path);
		const auto result = RunTool(args);
		EXPECT_EQ(c.status, result.status) << c.name;
		EXPECT_EQ("", result.out) << c.name;
		const auto lines = testing_support::SplitLines(result.err);
		ASSERT_EQ(1u, lines.size()) << c.name << ": " << result.err;
		EXPECT_EQ(0u, lines[0].find("vorlix-records: ")) << c.name;
		EXPECT_NE(std::string::npos, lines[0].find(c.message))
			<< c.name << ": " << lines[0];
		EXPECT_TRUE(before == records_fixture::SnapshotFile(path))
			<< c.name << ": the file or its folder changed";
	}
}

TEST_F(RecordsTool, EveryCommandRefusesWrongKeyBeforeWritingAnything)
{
	const std::string file = MakeFile(SmallRows());
	const std::vector<std::string> extra[] = {
		{"list"}, {"summary"}, {"report", "--html", dir_ / "out.html"}};
	for (const auto &command : extra) {
		std::vector<std::string> args = command;
		args.insert(args.end(), {file, "--key", "fedcba9876543210"});
		const auto result = RunTool(args);
		EXPECT_EQ(1, result.status) << command[0];
		EXPECT_EQ("", result.out) << command[0];
		EXPECT_NE(std::string::npos, result.err.find("wrong key"))
			<< result.err;
	}
	EXPECT_FALSE(testing_support::Exists(dir_ / "out.html"));
}

// Values that cannot be base64, have no whole block, or were encrypted under
// another key: the row shows "?" there, the others are shown, and one
// warning line counts the rows.
TEST_F(RecordsTool, DamagedRowsShowQuestionMarksAndAWarning)
{
	std::vector<Row> rows = SmallRows();
	rows[1].active_tm = "AAAA";
	rows[1].raw_active = true;
	rows[2].process = "not base64!";
	rows[2].raw_process = true;
	Row other_key = {7, "1714550420", kBase + 30, "", "other key"};
	other_key.process =
		records_fixture::OpensslEncrypt("fedcba9876543210", "x.exe");
	other_key.raw_process = true;
	rows.push_back(other_key);
	const std::string file = MakeFile(rows);

	const auto list = RunTool({"list", file, "--key", kKey, "--format", "csv"});
	EXPECT_EQ(3, list.status);
	EXPECT_EQ("vorlix-records: warning: 3 of 4 rows hold a value that does "
		  "not decrypt (shown as \"?\")\n",
		  list.err);
	const auto records = records_fixture::ParseCsv(list.out);
	ASSERT_EQ(5u, records.size()) << list.out;
	EXPECT_EQ("chrome.exe", records[1][7]);
	EXPECT_EQ(std::vector<std::string>({"?", "?", "?", "code"}),
		  std::vector<std::string>(records[2].begin() + 4,
					   records[2].begin() + 8));
	EXPECT_EQ("1714550200", records[3][4]);
	EXPECT_EQ("?", records[3][7]);
	EXPECT_EQ("?", records[4][7]);
	EXPECT_EQ("other key", records[4][8]);

	const auto json = RunTool({"list", file, "--key", kKey, "--format", "jsonl"});
	EXPECT_NE(std::string::npos,
		  json.out.find("\"active_tm\":null,\"active_time\":null,"
				"\"idle\":null,\"process\":\"code\""));

	const auto summary = RunTool({"summary", file, "--key", kKey});
	EXPECT_EQ(3, summary.status);
	EXPECT_NE(std::string::npos, summary.out.find("\n?    "))
		<< summary.out;
}

TEST_F(RecordsTool, RecordDirAndUserIdResolveAsTheMonitorDoes)
{
	TempDir config, home;
	testing_support::Shell("mkdir -p '" + config / "rec/sub" + "' '" + home /
	      ".config/rec/sub" + "'");
	records_fixture::WriteRecordFile(config / "rec/sub/12.6.mon.db", kKey,
					 SmallRows());
	records_fixture::WriteRecordFile(home / ".config/rec/sub/-3.6.mon.db",
					 kKey, {SmallRows()[0]});
	const struct {
		std::vector<std::string> env;
		const char *user_id;
		size_t rows;
	} cases[] = {
		{{"XDG_CONFIG_HOME=" + config.path()}, "12", 3},
		// An empty XDG_CONFIG_HOME counts as unset: HOME/.config.
		{{"XDG_CONFIG_HOME=", "HOME=" + home.path()}, "-3", 1},
	};
	for (const auto &c : cases) {
		const auto result = RunTool({"list", "--record-dir", "rec\\sub",
					     "--user-id", c.user_id, "--key", kKey,
					     "--format", "jsonl"},
					    c.env);
		EXPECT_EQ(0, result.status) << result.err;
		EXPECT_EQ(c.rows, testing_support::SplitLines(result.out).size());
	}
	const auto missing = RunTool({"summary", "--record_dir", "none\\x",
				      "--user_id", "5", "--key", kKey},
				     {"XDG_CONFIG_HOME=" + config.path()});
	EXPECT_EQ(1, missing.status);
	EXPECT_EQ("vorlix-records: no such file: " + config.path() +
			  "/none/x/5.6.mon.db\n",
		  missing.err);
	EXPECT_FALSE(testing_support::Exists(config / "none"));
}

// SQLite takes the name ":memory:" for a new empty database of its own.
TEST_F(RecordsTool, FileNamedMemoryIsReadAsAFile)
{
	const std::string plain = MakeFile(SmallRows());
	// Neither name carries a user id, so the two lists are alike.
	ASSERT_EQ(0, link(plain.c_str(), (dir_ / ":memory:").c_str()));
	ASSERT_EQ(0, link(plain.c_str(), (dir_ / "copy.db").c_str()));
	const auto list = [&](const std::string &name) {
		return testing_support::Run({"/usr/bin/env", "-C", dir_.path(), "TZ=UTC",
					     testing_support::BinPath("vorlix-records"), "list",
					     name, "--key", kKey});
	};
	const auto result = list(":memory:");
	EXPECT_EQ(0, result.status) << result.err;
	EXPECT_EQ(list("copy.db").out, result.out);
	EXPECT_NE(std::string::npos, result.out.find("Inbox - Mail"));
}

TEST_F(RecordsTool, KeyFileLosesOneTrailingLineBreak)
{
	const std::string file = MakeFile(SmallRows());
	const struct {
		std::string content;
		int status;
	} cases[] = {
		{kKey, 0},
		{std::string(kKey) + "\n", 0},
		{std::string(kKey) + "\r\n", 0},
		{std::string(kKey) + "\n\n", 1},
		{std::string(kKey) + " ", 1},
	};
	for (const auto &c : cases) {
		testing_support::WriteFile(dir_ / "key", c.content);
		const auto result =
			RunTool({"list", file, "--key-file", dir_ / "key"});
		EXPECT_EQ(c.status, result.status)
			<< records_fixture::Hex(c.content) << ": " << result.err;
	}
	EXPECT_EQ(3u, records_fixture::ListWithTool(file, kKey).size());
}

// A folder and a file, under two keys: a file that is no database and one
// under another key than the keys file gives are named and left out.
TEST_F(RecordsTool, ManyFilesUnderTwoKeysLeaveOutTheDamagedAndTheWrongKeyed)
{
	records_fixture::WriteTeamFiles(dir_.path());
	const std::string team = dir_ / "team";
	testing_support::WriteFile(team + "/14.6.mon.db", std::string(200, 'x'));
	const std::string wrong = MakeFile(SmallRows(), "15.6.mon.db");
	testing_support::WriteFile(dir_ / "keys",
				   std::string("# user key\n12 ") + kKey + "\n13 " +
					   records_fixture::kOtherKey + "\n14 " +
					   kKey + "\r\n15 fedcba9876543210\n");
	const auto result = RunTool({"list", team, wrong, "--keys", dir_ / "keys",
				     "--format", "csv"});
	EXPECT_EQ(3, result.status);
	EXPECT_EQ("vorlix-records: " + team + "/14.6.mon.db is not an SQLite "
		  "database\n"
		  "vorlix-records: wrong key: the records in " + wrong +
			  " do not decrypt with it\n"
		  "vorlix-records: warning: 2 of 4 record files were left out\n",
		  result.err);
	std::vector<std::string> users_and_ids;
	for (const auto &record : records_fixture::ParseCsv(result.out))
		users_and_ids.push_back(record[9] + ":" + record[0]);
	EXPECT_EQ(std::vector<std::string>({"user_id:id", "12:1", "12:2", "12:3",
					    "12:4", "12:5", "13:1", "13:2"}),
		  users_and_ids);
}

// Worked by hand (records-fixture.cpp): user 12's row at 23:59:55 ends
// exactly at midnight and the next starts on it; user 13's row at 23:59:55
// counts 10 s, 5 on each day. Chrome's "Mail" matches Mail and Browser.
TEST_F(RecordsTool, SummaryByUserAndDaySplitsAtLocalMidnightWithFirstCategory)
{
	records_fixture::WriteTeamFiles(dir_.path());
	const auto summary = RunTool(
		{"summary", dir_ / "team", "--keys", dir_ / "keys", "--categories",
		 dir_ / "categories", "--by", "user,day"},
		{records_fixture::kTeamZone});
	EXPECT_EQ(0, summary.status) << summary.err;
	for (const char *part :
	     {"Category       Seconds     Time   Share\n"
	      "Coding              35  0:00:35   50.0%\n"
	      "Browser             10  0:00:10   14.3%\n"
	      "Uncategorized       10  0:00:10   14.3%\n"
	      "Mail                 5  0:00:05    7.1%\n"
	      "(idle)              10  0:00:10   14.3%\n",
	      "User  Day         At work     Idle    Total\n"
	      "12    2024-05-01  0:00:30  0:00:00  0:00:30\n"
	      "12    2024-05-02  0:00:10  0:00:10  0:00:20\n"
	      "13    2024-05-01  0:00:05  0:00:00  0:00:05\n"
	      "13    2024-05-02  0:00:15  0:00:00  0:00:15\n",
	      "User 13, day 2024-05-02\nExecutable  Seconds     Time   Share\n"
	      "-                10  0:00:10   66.7%\n"
	      "code              5  0:00:05   33.3%\n"})
		EXPECT_NE(std::string::npos, summary.out.find(part))
			<< part << "\nin:\n" << summary.out;

	testing_support::WriteFile(dir_ / "categories", "A\tok\n\nB\t(open\n");
	const auto bad = RunTool({"summary", dir_ / "team", "--keys",
				  dir_ / "keys", "--categories", dir_ / "categories"});
	EXPECT_EQ(1, bad.status);
	EXPECT_EQ(0u, bad.err.find("vorlix-records: " + dir_ / "categories" +
				   " line 3: bad regular expression: "))
		<< bad.err;
}

// A damaged page halfway through a file: sqlite3 itself reads its first
// rows and then fails. No format shows any row of it; the exit status says
// whether another file was read (3) or none (1).
TEST_F(RecordsTool, FileThatCannotBeReadWholeGivesNoRowInAnyFormat)
{
	std::vector<Row> rows;
	for (int64_t i = 0; i < 600; ++i)
		rows.push_back({7, "0", kBase + 10 * i, "app",
				"row " + std::to_string(i) + " " + std::string(400, 'x')});
	const std::string damaged = MakeFile(rows, "2.6.mon.db");
	records_fixture::DamageMiddlePage(damaged);
	const auto direct = testing_support::Run(
		{"/usr/bin/sqlite3", damaged, "SELECT id FROM monitor_detail ORDER BY id"});
	ASSERT_NE(0, direct.status);
	ASSERT_EQ(0u, direct.out.find("1\n2\n3\n")) << "no first rows to leave out";
	EXPECT_NE(std::string::npos, direct.err.find("malformed")) << direct.err;

	const std::string good = MakeFile(SmallRows());
	for (const char *format : {"table", "csv", "jsonl"}) {
		const auto both = RunTool(
			{"list", damaged, good, "--key", kKey, "--format", format});
		EXPECT_EQ(3, both.status) << format;
		EXPECT_EQ(std::string::npos, both.out.find("row 0 ")) << format;
		// The good file's three rows, after a header line but in jsonl.
		EXPECT_EQ(format == std::string("jsonl") ? 3u : 4u,
			  testing_support::SplitLines(both.out).size())
			<< format << ":\n" << both.out;
		EXPECT_EQ(0u, both.err.find("vorlix-records: cannot read " + damaged))
			<< both.err;

		const auto alone =
			RunTool({"list", damaged, "--key", kKey, "--format", format});
		EXPECT_EQ(1, alone.status) << format;
		EXPECT_EQ("", alone.out) << format;
	}
	const auto summary = RunTool({"summary", damaged, good, "--key", kKey});
	EXPECT_EQ(3, summary.status);
	EXPECT_EQ(0u, summary.out.find("Rows 3 from ")) << summary.out;
}

// New York falls back at 06:00 UTC on 2026-11-01: 01:00 and 01:30 come
// twice, first at -04:00, then at -05:00 (by hand). Python's datetime
// places every listed time back on its check_tm, and a listed time given
// to --since picks its own row.
TEST_F(RecordsTool, FallBackHourShowsEachTimeWithItsOffset)
{
	constexpr int64_t k0500Utc = 1793509200; // 2026-11-01 05:00:00 UTC
	std::vector<Row> rows;
	for (int64_t i = 0; i < 4; ++i)
		rows.push_back({7, std::to_string(k0500Utc + 1800 * i - 60),
				k0500Utc + 1800 * i, "app", "fall back"});
	const std::string file = MakeFile(rows);
	const std::vector<std::string> new_york = {"TZ=America/New_York"};
	const auto list = RunTool({"list", file, "--key", kKey, "--format", "csv"},
				  new_york);
	ASSERT_EQ(0, list.status) << list.err;
	std::vector<std::string> check_times;
	for (const auto &record : records_fixture::ParseCsv(list.out))
		check_times.push_back(record[3]);
	EXPECT_EQ(std::vector<std::string>(
			  {"check_time", "2026-11-01 01:00:00-04:00",
			   "2026-11-01 01:30:00-04:00", "2026-11-01 01:00:00-05:00",
			   "2026-11-01 01:30:00-05:00"}),
		  check_times);
	// The third row's last input, a minute before it, came before the
	// change: its clock reads later than the row's own.
	EXPECT_NE(std::string::npos,
		  list.out.find(",2026-11-01 01:00:00-05:00,1793512740,"
				"2026-11-01 01:59:00-04:00,60,"));

	testing_support::WriteFile(dir_ / "rows.csv", list.out);
	EXPECT_EQ("4 rows placed\n",
		  testing_support::Shell(
			  "python3 -c 'import csv,sys,datetime\n"
			  "rows = list(csv.DictReader(open(sys.argv[1], newline=\"\")))\n"
			  "for r in rows:\n"
			  "    for t, tm in ((r[\"check_time\"], r[\"check_tm\"]),"
			  " (r[\"active_time\"], r[\"active_tm\"])):\n"
			  "        assert datetime.datetime.fromisoformat(t).timestamp()"
			  " == int(tm), r\n"
			  "print(len(rows), \"rows placed\")' " + dir_ / "rows.csv"));

	const auto since = RunTool({"list", file, "--key", kKey, "--format", "csv",
				    "--since", "2026-11-01 01:30:00-05:00"},
				   new_york);
	EXPECT_EQ(2u, records_fixture::ParseCsv(since.out).size()) << since.out;
	EXPECT_EQ("4", records_fixture::ParseCsv(since.out).back()[0]);

	const auto summary = RunTool({"summary", file, "--key", kKey}, new_york);
	EXPECT_EQ(0u, summary.out.find("Rows 4 from 2026-11-01 01:00:00-04:00 to "
				       "2026-11-01 01:30:00-05:00 in 1 run\n"))
		<< summary.out;
	EXPECT_NE(std::string::npos,
		  summary.out.find("\nTime zone America/New_York (TZ)\n"));
}

// The team of records-fixture.cpp, worked by hand: user 12's rows count
// 10, 15, 5, 10 and, idle, 10 s; user 13's 10 and 10. sqlite3 sums the
// list's seconds as the README does and reads summary's CSV: both give
// the hand-made figures.
TEST_F(RecordsTool, ListSecondsSumToSummaryFiguresInSqlite)
{
	records_fixture::WriteTeamFiles(dir_.path());
	const std::vector<std::string> team = {dir_ / "team", "--keys", dir_ / "keys",
					       "--categories", dir_ / "categories"};
	auto run = [&](std::vector<std::string> args) {
		args.insert(args.begin() + 1, team.begin(), team.end());
		const auto result = RunTool(args, {records_fixture::kTeamZone});
		EXPECT_EQ(0, result.status) << result.err;
		return result.out;
	};
	testing_support::WriteFile(dir_ / "rows.csv",
				   run({"list", "--format", "csv"}));
	testing_support::WriteFile(
		dir_ / "sums.csv", run({"summary", "--by", "user", "--format", "csv"}));
	const std::string sql =
		"CREATE TABLE rows(id INTEGER, member_id INTEGER, check_tm INTEGER,"
		" check_time TEXT, active_tm INTEGER, active_time TEXT, idle INTEGER,"
		" process TEXT, title TEXT, user_id INTEGER, seconds INTEGER,"
		" file TEXT, category TEXT);\n"
		".import --csv --skip 1 " + dir_ / "rows.csv" + " rows\n"
		".import --csv " + dir_ / "sums.csv" + " sums\n"
		"SELECT 'list', category, sum(seconds) FROM rows"
		" WHERE idle = '' OR idle < 180 GROUP BY category ORDER BY 3 DESC, 2;\n"
		"SELECT 'list', user_id, sum(seconds) FROM rows GROUP BY user_id;\n"
		"SELECT 'summary', name, seconds FROM sums"
		" WHERE \"group\" = 'all' AND kind = 'category';\n"
		"SELECT 'summary', user_id, seconds FROM sums"
		" WHERE \"group\" = 'user' AND kind = 'total';\n";
	testing_support::WriteFile(dir_ / "sums.sql", sql);
	const std::string figures[] = {"Coding|35", "Browser|10",
				       "Uncategorized|10", "Mail|5", "12|50", "13|20"};
	std::vector<std::string> expected;
	for (const char *source : {"list|", "summary|"})
		for (const std::string &figure : figures)
			expected.push_back(source + figure);
	EXPECT_EQ(expected, testing_support::SplitLines(testing_support::Shell(
				    "sqlite3 :memory: < '" + dir_ / "sums.sql" + "'")));

	const auto json = run({"summary", "--by", "user,day", "--format", "jsonl"});
	EXPECT_NE(std::string::npos,
		  json.find("{\"group\":\"user,day\",\"user_id\":13,\"day\":\"2024-05-02\","
			    "\"kind\":\"executable\",\"name\":\"-\",\"title\":null,"
			    "\"seconds\":10}\n"))
		<< json;
}

// A Chinese Windows editor saves GBK (made here by Python's codec): the
// line is refused by number. A byte-order mark is no part of the first
// name; a file without a category line is an error.
TEST_F(RecordsTool, CategoriesFileMustBeUtf8WithoutItsByteOrderMark)
{
	records_fixture::WriteTeamFiles(dir_.path());
	const std::string categories = dir_ / "categories";
	auto summary = [&]() {
		return RunTool({"summary", dir_ / "team", "--keys", dir_ / "keys",
				"--categories", categories, "--format", "csv"},
			       {records_fixture::kTeamZone});
	};
	testing_support::Shell(
		"python3 -c 'import sys\n"
		"text = \"Mail\\ttitle:Mail\\n\\u6587\\u6863\\ttitle:\\u6587\\u6863\\n\"\n"
		"open(sys.argv[1], \"wb\").write(text.encode(\"gbk\"))' " + categories);
	const auto gbk = summary();
	EXPECT_EQ(1, gbk.status);
	EXPECT_EQ("vorlix-records: " + categories +
			  " line 2: not UTF-8 text; save the file as UTF-8\n",
		  gbk.err);
	EXPECT_EQ("", gbk.out);

	const std::string fixture = "Mail\ttitle:Mail\nBrowser\texe:chrome\n";
	testing_support::WriteFile(categories, "\xef\xbb\xbf" + fixture);
	const auto bom = summary();
	EXPECT_EQ(0, bom.status) << bom.err;
	EXPECT_NE(std::string::npos, bom.out.find("\r\nall,,,category,Mail,,5\r\n"))
		<< bom.out;

	for (const char *empty : {"", "\xef\xbb\xbf", "# kinds of work\n\n"}) {
		testing_support::WriteFile(categories, empty);
		const auto none = summary();
		EXPECT_EQ(1, none.status) << records_fixture::Hex(empty);
		EXPECT_EQ("vorlix-records: categories file " + categories +
				  " holds no category line (NAME<TAB>REGULAR EXPRESSION)\n",
			  none.err);
	}
}

// A sqlite3 command reading its statements from a pipe, as a second
// connection that the test drives step by step.
class SqliteSession {
public:
	explicit SqliteSession(const std::string &file)
	{
		int fds[2];
		if (pipe(fds) != 0)
			return;
		pid_ = fork();
		if (pid_ == 0) {
			dup2(fds[0], 0);
			const int null = open("/dev/null", O_WRONLY);
			dup2(null, 1);
			dup2(null, 2);
			close(fds[1]);
			execlp("sqlite3", "sqlite3", file.c_str(), nullptr);
			_exit(127);
		}
		close(fds[0]);
		input_ = fds[1];
	}
	~SqliteSession() { Finish(); }
	void Send(const std::string &sql)
	{
		EXPECT_EQ(static_cast<ssize_t>(sql.size()),
			  write(input_, sql.data(), sql.size()));
	}
	// Ends the input and waits for the command to end.
	void Finish()
	{
		if (input_ >= 0)
			close(input_);
		input_ = -1;
		if (pid_ > 0)
			waitpid(pid_, nullptr, 0);
		pid_ = -1;
	}

private:
	pid_t pid_ = -1;
	int input_ = -1;
};

// Another connection holds an open write (as the monitor does during an
// insert): the tool still reads, sees only committed rows, and the writer
// commits afterwards.
TEST_F(RecordsTool, ReadsWhileAnotherConnectionWrites)
{
	const std::string file = MakeFile(SmallRows());
	SqliteSession writer(file);
	writer.Send("BEGIN IMMEDIATE;\n"
		    "INSERT INTO monitor_detail (member_id, active_tm, check_tm, "
		    "process, title) VALUES (7, 'x', 1, 'y', 'uncommitted');\n");
	// The open write shows as its rollback journal.
	for (int i = 0; i < 200 && !testing_support::Exists(file + "-journal");
	     ++i)
		usleep(50 * 1000);
	ASSERT_TRUE(testing_support::Exists(file + "-journal"));

	EXPECT_EQ(3u, records_fixture::ListWithTool(file, kKey).size());

	writer.Send("COMMIT;\n");
	writer.Finish();
	EXPECT_EQ("4\n", testing_support::Shell(
				 "sqlite3 '" + file +
				 "' 'SELECT count(*) FROM monitor_detail'"));
}

} // namespace
