#include "tools/records-options.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

TEST(RecordsOptions, ValidCommandLinesFillTheOptions)
{
	const struct {
		Args args;
		std::function<void(const RecordsOptions &)> check;
	} cases[] = {
		{{"list", "f.db", "--key", "0123456789abcdef", "folder"},
		 [](const RecordsOptions &o) {
			 EXPECT_EQ(RecordsCommand::List, o.command);
			 EXPECT_EQ(Args({"f.db", "folder"}), o.files);
			 EXPECT_EQ("0123456789abcdef", o.key);
			 EXPECT_EQ(ListFormat::Table, o.format);
			 EXPECT_EQ(0, o.gap);
			 EXPECT_EQ(180, o.idle);
		 }},
		{{"summary", "--record_dir", "a\\b", "--user_id", "-12",
		  "--key-file", "kf", "--by", "user,day"},
		 [](const RecordsOptions &o) {
			 EXPECT_TRUE(o.by_user && o.by_day);
			 EXPECT_EQ(RecordsCommand::Summary, o.command);
			 EXPECT_TRUE(o.files.empty());
			 EXPECT_EQ("a\\b", o.record_dir);
			 EXPECT_EQ(-12, o.user_id);
			 EXPECT_EQ("kf", o.key_file);
		 }},
		{{"list", "--key=k", "f", "--format=csv", "--process", "a.exe",
		  "--process", "B.EXE", "--since", "100", "--until", "200"},
		 [](const RecordsOptions &o) {
			 EXPECT_EQ(ListFormat::Csv, o.format);
			 EXPECT_EQ(Args({"a.exe", "B.EXE"}), o.processes);
			 EXPECT_TRUE(o.period.has_since && o.period.has_until);
			 EXPECT_EQ(100, o.period.since);
			 EXPECT_EQ(200, o.period.until);
		 }},
		{{"report", "f", "--keys", "kf", "--html", "o.html", "--gap", "30",
		  "--idle", "60", "--categories", "c"},
		 [](const RecordsOptions &o) {
			 EXPECT_EQ("kf", o.keys_file);
			 EXPECT_EQ("c", o.categories_file);
			 EXPECT_EQ("o.html", o.html);
			 EXPECT_EQ(30, o.gap);
			 EXPECT_EQ(60, o.idle);
		 }},
		{{"list", "--format", "jsonl", "f", "--key", ""},
		 [](const RecordsOptions &o) {
			 EXPECT_EQ(ListFormat::JsonLines, o.format);
			 EXPECT_TRUE(o.has_key);
		 }},
		{{"-h"}, [](const RecordsOptions &o) { EXPECT_TRUE(o.help); }},
		{{"list", "f", "--help", "--bogus"},
		 [](const RecordsOptions &o) { EXPECT_TRUE(o.help); }},
	};
	for (const auto &c : cases) {
		RecordsOptions options;
		std::string error;
		EXPECT_TRUE(ParseRecordsOptions(c.args, options, error))
			<< error;
		c.check(options);
	}
}

TEST(RecordsOptions, MisuseIsNamedInOneLine)
{
	const struct {
		Args args;
		const char *error;
	} cases[] = {
		{{}, "no command given"},
		{{"show", "f"}, "unknown command \"show\""},
		{{"list", "--key", "k"}, "no record file given"},
		{{"list", "f"}, "give the key with either --key or --key-file"},
		{{"list", "f", "--key", "k", "--key-file", "x"}, "give the key"},
		{{"list", "f", "--key", "k", "--keys", "x"}, "give the key"},
		{{"summary", "f", "--key", "k", "--by", "week"},
		 "invalid value for --by: \"week\""},
		{{"report", "f", "--key", "k", "--html", "h", "--by", "day"},
		 "--by applies to summary only"},
		{{"list", "f", "--record-dir", "d", "--user-id", "1", "--key", "k"},
		 "give either record files or --record-dir and --user-id"},
		{{"list", "--record-dir", "d", "--key", "k"},
		 "--record-dir and --user-id go together"},
		{{"list", "f", "--key", "k", "--format", "xml"},
		 "invalid value for --format: \"xml\""},
		{{"list", "f", "--key", "k", "--since", "yesterday"},
		 "invalid value for --since"},
		{{"list", "f", "--key", "k", "--since", "100", "--until", "100"},
		 "--since must come before --until"},
		{{"summary", "f", "--key", "k", "--process", "a"},
		 "--process applies to list only"},
		{{"report", "f", "--key", "k", "--html", "h", "--format", "csv"},
		 "--format applies to list and summary only"},
		{{"summary", "f", "--key", "k", "--gap", "0"},
		 "invalid value for --gap: \"0\""},
		{{"summary", "f", "--key", "k", "--idle", "-1"},
		 "invalid value for --idle"},
		{{"report", "f", "--key", "k"}, "report needs --html FILE"},
		{{"list", "f", "--key", "k", "--html", "x"},
		 "--html applies to report only"},
		{{"list", "f", "--key"}, "option --key needs a value"},
		{{"list", "f", "--key", "k", "-v"}, "unknown option -v"},
		{{"list", "f", "--key", "k", "--user-id", "12x"},
		 "invalid value for --user-id"},
		{{"list", "", "--key", "k"}, "empty record file name"},
	};
	for (const auto &c : cases) {
		RecordsOptions options;
		std::string error;
		EXPECT_FALSE(ParseRecordsOptions(c.args, options, error))
			<< c.error;
		EXPECT_EQ(0u, error.find(c.error)) << error;
		EXPECT_EQ(std::string::npos, error.find('\n'));
	}
}

} // namespace
