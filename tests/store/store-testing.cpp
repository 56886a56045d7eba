#include "tests/store/store-testing.h"

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QString>
#include <sqlite3.h>

#include "monitor/shared-sample.h"
#include "tests/support/test-support.h"

namespace store_testing {

namespace {

std::vector<std::string> qtMessages;
QtMessageHandler savedQtHandler = nullptr;

void RecordQtMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
	qtMessages.push_back(text.toStdString());
}

template <size_t N> void CopyField(char16_t (&field)[N], const std::u16string &text)
{
	std::fill(std::begin(field), std::end(field), u'\0');
	std::copy_n(text.begin(), std::min(text.size(), N - 1), field);
}

std::string Column(sqlite3_stmt *statement, int column)
{
	const auto *text = sqlite3_column_text(statement, column);
	return text ? std::string(reinterpret_cast<const char *>(text),
				  sqlite3_column_bytes(statement, column))
		    : std::string();
}

} // namespace

void InstallQtApplication()
{
	static int argc = 1;
	static char name[] = "store-test";
	static char *argv[] = {name, nullptr};
	if (!QCoreApplication::instance())
		new QCoreApplication(argc, argv);
}

QtMessages::QtMessages()
{
	qtMessages.clear();
	savedQtHandler = qInstallMessageHandler(RecordQtMessage);
}

QtMessages::~QtMessages()
{
	qInstallMessageHandler(savedQtHandler);
}

std::vector<std::string> QtMessages::Take()
{
	std::vector<std::string> taken;
	taken.swap(qtMessages);
	return taken;
}

bool QtMessages::Contains(const std::string &part) const
{
	return std::any_of(qtMessages.begin(), qtMessages.end(),
			   [&](const std::string &m) {
				   return m.find(part) != std::string::npos;
			   });
}

void SetSample(int64_t active_tm, int64_t check_tm, const std::u16string &process,
	       const std::u16string &title)
{
	SharedSample::ActiveInfo.active_tm = active_tm;
	SharedSample::ActiveInfo.check_tm = check_tm;
	CopyField(SharedSample::ActiveInfo.process, process);
	CopyField(SharedSample::ActiveInfo.title, title);
}

std::vector<Row> ReadRows(const std::string &db_path)
{
	std::vector<Row> rows;
	sqlite3 *db = nullptr;
	sqlite3_stmt *statement = nullptr;
	if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
		    SQLITE_OK &&
	    sqlite3_prepare_v2(
		    db,
		    "SELECT id, member_id, active_tm, check_tm, process, title,"
		    " typeof(member_id) || ',' || typeof(active_tm) || ',' ||"
		    " typeof(check_tm) || ',' || typeof(process) || ',' ||"
		    " typeof(title) FROM monitor_detail ORDER BY id",
		    -1, &statement, nullptr) == SQLITE_OK) {
		while (sqlite3_step(statement) == SQLITE_ROW)
			rows.push_back({sqlite3_column_int64(statement, 0),
					sqlite3_column_int64(statement, 1),
					Column(statement, 2),
					sqlite3_column_int64(statement, 3),
					Column(statement, 4), Column(statement, 5),
					Column(statement, 6)});
	}
	sqlite3_finalize(statement);
	sqlite3_close(db);
	return rows;
}

std::string StoredSchema(const std::string &db_path)
{
	return Sqlite(db_path,
		      "SELECT sql FROM sqlite_master WHERE name='monitor_detail';");
}

std::string Sqlite(const std::string &db_path, const std::string &sql)
{
	std::string out = testing_support::Shell("sqlite3 '" + db_path + "' \"" +
						 sql + "\" 2>&1");
	while (!out.empty() && out.back() == '\n')
		out.pop_back();
	return out;
}

std::string OpensslDecrypt(const std::string &base64_text, const std::string &key)
{
	// base64 holds no quote, so single quotes carry it through the shell.
	return testing_support::Shell("printf '%s' '" + base64_text +
				      "' | openssl enc -d -aes-128-cbc -K " +
				      Hex(key) + " -iv " + Hex(key) +
				      " -base64 -A 2>&1");
}

} // namespace store_testing
