// The monitor database on real SQLite files in a temporary application-data
// folder; rows read back with SQLite's C interface and the encrypted columns
// decrypted with the openssl command.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include <unistd.h>

#include <QSqlDatabase>
#include <util/base.h>

#include "monitor/shared-sample.h"
#include "store/monitor-db.h"
#include "tests/store/store-testing.h"
#include "tests/support/log-capture.h"
#include "tests/support/test-support.h"

using namespace store_testing;
using testing_support::Exists;
using testing_support::ListDir;
using testing_support::LogCapture;
using testing_support::ReadFile;
using testing_support::Shell;
using testing_support::TempConfigHome;
using testing_support::WriteFile;

namespace {

const std::string kKey = "0123456789abcdef";
const std::string kPreparationFailed =
	"InsertTable err_msg:Parameter count mismatch query:INSERT INTO "
	"monitor_detail (member_id, active_tm, check_tm,process,title) VALUES "
	"(:mid, :atm, :ctm, :p, :t)";

bool ConnectionOpen()
{
	return QSqlDatabase::database(kMonitorConnection, false).isOpen();
}

class MonitorDb : public ::testing::Test {
protected:
	void SetUp() override
	{
		InstallQtApplication();
		SharedSample::SetUserInfo(12, 7);
		SharedSample::SetCipherKey(kKey);
		UseRecordDir("a\\b");
		SetSample(1700000100, 1700000160, u"firefox-esr", u"Mozilla Firefox");
	}

	void TearDown() override
	{
		RemoveMonitorConnection();
		EXPECT_FALSE(QSqlDatabase::contains(kMonitorConnection));
		for (const auto &message : qt_.Take())
			EXPECT_EQ(message.find("still in use"), std::string::npos)
				<< message;
	}

	// Sets the record directory and creates its folder, as the monitor's
	// start does. Returns the folder.
	std::string UseRecordDir(const std::string &dir)
	{
		SharedSample::SetRecordDir(dir);
		std::string folder = dir;
		for (char &c : folder)
			if (c == '\\')
				c = '/';
		folder = home_ / folder;
		Shell("mkdir -p '" + folder + "'");
		return folder;
	}

	std::string DbFile(const std::string &folder = "a/b")
	{
		return home_ / folder + "/12.6.mon.db";
	}

	TempConfigHome home_;
	LogCapture logs_;
	QtMessages qt_;
};

} // namespace

TEST_F(MonitorDb, RecordDirectoryNamesFolderAndSubFolder)
{
	EXPECT_EQ(MonitorDbRelativePath("a\\b", 12), "a\\b/12.6.mon.db");
	EXPECT_EQ(MonitorDbPath("a\\b", 12), home_ / "a/b/12.6.mon.db");

	const struct {
		std::string record_dir, folder;
	} cases[] = {{"a\\b", "a/b"}, {"записи\\2024", "записи/2024"}};
	for (const auto &c : cases) {
		UseRecordDir(c.record_dir);
		WriteActiveInfo();
		RemoveMonitorConnection();
		const auto rows = ReadRows(DbFile(c.folder));
		ASSERT_EQ(rows.size(), 1u) << c.folder;
		EXPECT_EQ(rows[0].member_id, 7);
		const std::string parent = c.folder.substr(0, c.folder.find('/'));
		EXPECT_EQ(ListDir(home_ / parent),
			  std::vector<std::string>{c.folder.substr(parent.size() + 1)});
	}
}

TEST_F(MonitorDb, FirstWriteCreatesTableAndSecondWriteLogsNothing)
{
	WriteActiveInfo();
	const auto first = logs_.entries();
	ASSERT_EQ(first.size(), 1u);
	EXPECT_EQ(first[0].level, LOG_ERROR);
	// The statement cannot be prepared without its table, which shows as
	// a parameter count mismatch when it is executed.
	EXPECT_EQ(first[0].text, kPreparationFailed);
	EXPECT_EQ(StoredSchema(DbFile()),
		  "CREATE TABLE monitor_detail(`id` INTEGER PRIMARY KEY "
		  "AUTOINCREMENT,`member_id` INTEGER NOT NULL,`active_tm` "
		  "VARCHAR(64) NOT NULL,`check_tm` INTEGER NOT NULL,`process` "
		  "TEXT NOT NULL,`title` VARCHAR(512) NOT NULL)");
	EXPECT_TRUE(QSqlDatabase::contains(kMonitorConnection));
	EXPECT_FALSE(ConnectionOpen());

	logs_.clear();
	WriteActiveInfo();
	EXPECT_TRUE(logs_.entries().empty());
	EXPECT_FALSE(ConnectionOpen());

	const auto rows = ReadRows(DbFile());
	ASSERT_EQ(rows.size(), 2u);
	EXPECT_EQ(rows[0].id, 1);
	EXPECT_EQ(rows[1].id, 2);
	// A fixed IV: equal samples, equal stored texts.
	EXPECT_EQ(rows[0].active_tm, rows[1].active_tm);
	EXPECT_EQ(rows[0].process, rows[1].process);
}

TEST_F(MonitorDb, ColumnsReadBackAndDecryptIndependently)
{
	const std::u16string long_process(149, u'日');
	std::string long_process_utf8;
	for (int i = 0; i < 149; ++i)
		long_process_utf8 += u8"日";
	std::u16string long_title;
	std::string long_title_utf8;
	for (int i = 0; i < 74; ++i) {
		long_title += u"\U0001F600";
		long_title_utf8 += u8"\U0001F600";
	}
	const struct {
		int64_t active_tm, check_tm;
		std::u16string process, title;
		std::string active_text, process_utf8, title_utf8;
		size_t active_length, process_length;
	} cases[] = {
		{0, 1700000000, u"-", u"-", "0", "-", "-", 24, 24},
		{1700000123, 1700000456, u"firefox-esr", u"Über – 日本語 ✓",
		 "1700000123", "firefox-esr", u8"Über – 日本語 ✓", 24, 24},
		// Lone surrogates: every other character stays.
		{1, 2, u"a", u"ab\xD83D" u"cd abc\xD83D", "1", "a",
		 "ab\xEF\xBF\xBD" "cd abc\xEF\xBF\xBD", 24, 24},
		{INT64_MIN, -1, long_process, long_title, "-9223372036854775808",
		 long_process_utf8, long_title_utf8, 44, 600},
	};
	for (const auto &c : cases) {
		SetSample(c.active_tm, c.check_tm, c.process, c.title);
		WriteActiveInfo();
	}
	const auto rows = ReadRows(DbFile());
	ASSERT_EQ(rows.size(), std::size(cases));
	for (size_t i = 0; i < rows.size(); ++i) {
		const auto &c = cases[i];
		const auto &row = rows[i];
		EXPECT_EQ(row.types, "integer,text,integer,text,text");
		EXPECT_EQ(row.member_id, 7);
		EXPECT_EQ(row.check_tm, c.check_tm);
		EXPECT_EQ(row.title, c.title_utf8);
		EXPECT_EQ(row.active_tm.size(), c.active_length);
		EXPECT_EQ(row.process.size(), c.process_length);
		EXPECT_EQ(OpensslDecrypt(row.active_tm, kKey), c.active_text);
		EXPECT_EQ(OpensslDecrypt(row.process, kKey), c.process_utf8);
	}
}

TEST_F(MonitorDb, FailedEncryptionStoresEmptyTextAndKeepsRow)
{
	SharedSample::SetCipherKey("short");
	WriteActiveInfo();
	logs_.clear();
	WriteActiveInfo();
	EXPECT_EQ(logs_.Texts(LOG_ERROR),
		  (std::vector<std::string>{
			  "EVP_CipherUpdate and EVP_CipherFinal_ex failed, "
			  "cipherText( 1700000100 )",
			  "EVP_CipherUpdate and EVP_CipherFinal_ex failed, "
			  "cipherText( firefox-esr )"}));
	const auto rows = ReadRows(DbFile());
	ASSERT_EQ(rows.size(), 2u);
	EXPECT_EQ(rows[1].active_tm, "");
	EXPECT_EQ(rows[1].process, "");
	EXPECT_EQ(rows[1].title, "Mozilla Firefox");
}

TEST_F(MonitorDb, ThreeFailedOpensLogOneLineAndNextWriteAsksRegistryAgain)
{
	// A regular file where a folder should be: the open fails even for
	// root, whom permission bits would not stop.
	WriteFile(home_ / "blocker", "not a folder");
	SharedSample::SetRecordDir("blocker\\sub");

	const auto start = std::chrono::steady_clock::now();
	WriteActiveInfo();
	EXPECT_GE(std::chrono::steady_clock::now() - start,
		  std::chrono::milliseconds(900));
	EXPECT_EQ(logs_.Texts(LOG_ERROR),
		  std::vector<std::string>{"WriteActiveInfo err:db open fail"});
	EXPECT_TRUE(QSqlDatabase::contains(kMonitorConnection));
	EXPECT_FALSE(ConnectionOpen());

	logs_.clear();
	qt_.Take();
	WriteActiveInfo();
	EXPECT_TRUE(qt_.Contains("unable to open database"));
	EXPECT_EQ(logs_.Texts(LOG_ERROR),
		  std::vector<std::string>{"WriteActiveInfo err:db open fail"});

	// The registered connection keeps its file name: once the folder can
	// be made, the next write lands there.
	Shell("rm '" + (home_ / "blocker") + "'");
	UseRecordDir("blocker\\sub");
	WriteActiveInfo();
	EXPECT_EQ(ReadRows(DbFile("blocker/sub")).size(), 1u);
}

// Three opens, each failure followed by a wait of 300 ms: counted from the
// waits the kernel sees, as the test runs itself again under strace.
TEST_F(MonitorDb, FailingOpenIsTriedThreeTimes)
{
	if (std::getenv("VORLIX_UNDER_STRACE")) {
		WriteFile(home_ / "blocker", "not a folder");
		SharedSample::SetRecordDir("blocker\\sub");
		WriteActiveInfo();
		return;
	}
	char self[4096] = {};
	ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
	const std::string trace = home_ / "trace";
	ASSERT_EQ(Shell("VORLIX_UNDER_STRACE=1 strace -f -e trace=clock_nanosleep,nanosleep -o " +
			trace + " " + testing_support::ShellQuote(self) +
			" --gtest_filter=MonitorDb.FailingOpenIsTriedThreeTimes >/dev/null && echo ok"),
		  "ok\n");
	EXPECT_EQ(Shell("grep -c 'tv_sec=0, tv_nsec=300000000' " + trace), "3\n");
}

TEST_F(MonitorDb, RegisteredConnectionKeepsItsFileUntilRemoved)
{
	WriteActiveInfo();
	UseRecordDir("c");
	WriteActiveInfo();
	EXPECT_EQ(ReadRows(DbFile()).size(), 2u);
	EXPECT_FALSE(Exists(DbFile("c")));

	qt_.Take();
	RemoveMonitorConnection();
	EXPECT_FALSE(QSqlDatabase::contains(kMonitorConnection));
	EXPECT_TRUE(qt_.Take().empty());

	WriteActiveInfo();
	EXPECT_EQ(ReadRows(DbFile("c")).size(), 1u);
}

// Long names are never cut, and the bytes given, UTF-8 or not, are the
// folder the file goes to.
TEST_F(MonitorDb, AnyRecordFolderNameHoldsTheFile)
{
	const std::string cases[] = {
		std::string(120, 'r'), std::string(127, 'r'),
		std::string(200, 'r') + "\\" + std::string(100, 's'),
		"rec\xe9", "50% ?#&=+ \xff\xfe"};
	for (const std::string &dir : cases) {
		EXPECT_EQ(MonitorDbRelativePath(dir, 12), dir + "/12.6.mon.db");
		const std::string folder = UseRecordDir(dir);
		WriteActiveInfo();
		RemoveMonitorConnection();
		EXPECT_EQ(ListDir(folder), std::vector<std::string>{"12.6.mon.db"}) << dir;
		EXPECT_EQ(ReadRows(folder + "/12.6.mon.db").size(), 1u) << dir;
	}
	EXPECT_EQ(logs_.Texts(LOG_ERROR, "WriteActiveInfo").size(), 0u);
}

TEST_F(MonitorDb, OtherInsertFailureIsLoggedTwiceAndRowDropped)
{
	// The table exists but refuses the row: the insert fails, the creation
	// does nothing, the repeated insert fails again.
	Sqlite(DbFile(), "CREATE TABLE monitor_detail(id INTEGER PRIMARY KEY, "
			 "member_id, active_tm, check_tm, process, "
			 "title CHECK (title <> 'Mozilla Firefox'));");
	WriteActiveInfo();
	const std::string refused =
		"InsertTable err_msg:CHECK constraint failed: title <> 'Mozilla "
		"Firefox' Unable to fetch row query:INSERT INTO monitor_detail "
		"(member_id, active_tm, check_tm,process,title) VALUES (:mid, "
		":atm, :ctm, :p, :t)";
	EXPECT_EQ(logs_.Texts(LOG_ERROR), (std::vector<std::string>{refused, refused}));
	EXPECT_EQ(Sqlite(DbFile(), "SELECT count(*) FROM monitor_detail;"), "0");
	EXPECT_FALSE(ConnectionOpen());
}

TEST_F(MonitorDb, FileThatIsNoDatabaseFailsTableCreation)
{
	const std::string junk(4096, 'j');
	WriteFile(DbFile(), junk);
	WriteActiveInfo();
	EXPECT_EQ(logs_.Texts(LOG_ERROR),
		  (std::vector<std::string>{
			  kPreparationFailed,
			  "create table fail msg:file is not a database Unable "
			  "to execute statement"}));
	EXPECT_EQ(ReadFile(DbFile()), junk);
	EXPECT_FALSE(ConnectionOpen());
}

TEST_F(MonitorDb, NoApplicationDataFolderWritesNowhere)
{
	const char *home = std::getenv("HOME");
	const std::string saved_home = home ? home : "";
	unsetenv("HOME");
	setenv("XDG_CONFIG_HOME", "", 1);
	WriteActiveInfo();
	if (home)
		setenv("HOME", saved_home.c_str(), 1);
	setenv("XDG_CONFIG_HOME", home_.path().c_str(), 1);

	EXPECT_EQ(logs_.Texts(LOG_ERROR),
		  std::vector<std::string>{"WriteActiveInfo err:db open fail"});
	EXPECT_FALSE(QSqlDatabase::contains(kMonitorConnection));
}
