#include "store/monitor-db.h"

#include <cstdio>
#include <string>

#include <QCoreApplication>
#include <QSqlQuery>
#include <QStringList>
#include <QString>
#include <QVariant>
#include <util/base.h>
#include <util/platform.h>

#include "monitor/shared-sample.h"
#include "platform/platform.h"
#include "platform/utf16-text.h"
#include "store/value-cipher.h"

const char *const kMonitorConnection = "monitor_connection";
const char *const kCreateTableSql =
	"CREATE TABLE IF NOT EXISTS monitor_detail"
	"(`id` INTEGER PRIMARY KEY AUTOINCREMENT,"
	"`member_id` INTEGER NOT NULL,"
	"`active_tm` VARCHAR(64) NOT NULL,"
	"`check_tm` INTEGER NOT NULL,"
	"`process` TEXT NOT NULL,"
	"`title` VARCHAR(512) NOT NULL)";
const char *const kInsertSql =
	"INSERT INTO monitor_detail (member_id, active_tm, check_tm,process,title) "
	"VALUES (:mid, :atm, :ctm, :p, :t)";

namespace {

constexpr int kOpenAttempts = 3;
constexpr int kLockedRetries = 3;
constexpr int kWaitMs = 300;

// The UTF-8 text of a fixed UTF-16 field up to its terminator, never past
// the field even when the terminator is missing. A lone surrogate (a title
// cut inside a pair by its program) becomes U+FFFD here: handed on as
// UTF-16, SQLite would pair it with the next unit, losing a character, or
// store bytes that are not UTF-8.
template <size_t N> std::string FieldUtf8(const char16_t (&field)[N])
{
	size_t length = 0;
	while (length < N && field[length] != u'\0')
		++length;
	return platform::text::Utf16ToUtf8(std::u16string_view(field, length));
}

// The base64 text of the encrypted value; empty when the encryption failed
// (EncryptText has logged why), so that the row is still written.
QString EncryptedValue(const std::string &plain)
{
	const std::string &key = SharedSample::cipher_key;
	std::string encrypted;
	EncryptText(key, key, plain, encrypted, 1);
	return QString::fromLatin1(encrypted.data(),
				   static_cast<int>(encrypted.size()));
}

bool IsLocked(const QSqlError &error)
{
	return error.type() != QSqlError::NoError &&
	       error.text().contains(QLatin1String("database is locked"));
}

// Bytes that may stand for themselves in a file: URI.
bool IsUriSafe(unsigned char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
	       (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '.' ||
	       c == '_' || c == '~';
}

// Names the file to the connection so that SQLite opens exactly the bytes of
// `path`. The SQLite driver hands SQLite the name's UTF-8, which is the path
// itself when the path is valid UTF-8. Any other bytes (a record folder
// given in another encoding) would be replaced on the way and name another
// folder; those paths go as a file: URI, in which every byte is written
// out as %XX.
void SetDatabaseFile(QSqlDatabase &db, const std::string &path)
{
	const QByteArray bytes = QByteArray::fromStdString(path);
	const QString name = QString::fromUtf8(bytes);
	if (name.toUtf8() == bytes) {
		db.setDatabaseName(name);
		return;
	}
	QString uri = QStringLiteral("file:");
	for (const char byte : path) {
		const auto c = static_cast<unsigned char>(byte);
		if (IsUriSafe(c))
			uri += QLatin1Char(byte);
		else
			uri += QString::asprintf("%%%02X", c);
	}
	db.setDatabaseName(uri);
	db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
}

// The bytes of the file name of the registered connection.
std::string registeredFile;

// Steps 1 and 2 of a write: the registered connection, opened by the
// registry if it can, or a new one named after the user's database file.
QSqlDatabase MonitorConnection(const std::string &path)
{
	if (QSqlDatabase::contains(kMonitorConnection))
		return QSqlDatabase::database(kMonitorConnection, true);
	QSqlDatabase db =
		QSqlDatabase::addDatabase("QSQLITE", kMonitorConnection);
	SetDatabaseFile(db, path);
	registeredFile = path;
	return db;
}

bool OpenWithRetries(QSqlDatabase &db)
{
	if (db.isOpen())
		return true;
	for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
		if (db.open())
			return true;
		os_sleep_ms(kWaitMs);
	}
	return false;
}

// Another connection holds the database: try again a few times, each after a
// short wait, with whatever error the attempts meet.
QSqlError RetryWhileLocked(QSqlDatabase &db, QSqlError result)
{
	for (int retry = 0; retry < kLockedRetries; ++retry) {
		os_sleep_ms(kWaitMs);
		result = InsertTable(db);
		if (result.type() == QSqlError::NoError)
			break;
	}
	return result;
}

// An insert that failed for another reason than a lock is taken to mean that
// the table is missing (a new file): create it and insert once more.
void CreateTableAndInsert(QSqlDatabase &db)
{
	{
		QSqlQuery create(db);
		if (!create.exec(kCreateTableSql)) {
			blog(LOG_ERROR, "create table fail msg:%s",
			     create.lastError().text().toUtf8().constData());
			return;
		}
	}
	const QSqlError result = InsertTable(db);
	if (IsLocked(result))
		RetryWhileLocked(db, result);
}

} // namespace

bool MonitorDbPathFits(const std::string &record_dir, int user_id)
{
	const std::string path =
		platform::SqliteFullPath(MonitorDbPath(record_dir, user_id));
	const size_t limit = platform::SqlitePathLimit();
	if (path.size() <= limit)
		return true;
	// Numbers as text: the Windows C library's printf knows no %zu.
	blog(LOG_ERROR,
	     "record file path is %s bytes long, SQLite opens at most %s: %s",
	     std::to_string(path.size()).c_str(), std::to_string(limit).c_str(),
	     path.c_str());
	return false;
}

QSqlError InsertTable(QSqlDatabase &db)
{
	const ActiveInfoRecord &info = SharedSample::ActiveInfo;
	QSqlQuery query(db);
	// A failed preparation (no table yet) shows as a failed exec below.
	query.prepare(kInsertSql);

	char active_tm[32] = {};
	std::snprintf(active_tm, sizeof(active_tm), "%lld",
		      static_cast<long long>(info.active_tm));
	const std::string process = FieldUtf8(info.process);

	query.bindValue(":mid", QVariant(static_cast<qint32>(info.member_id)),
			QSql::In);
	query.bindValue(":ctm", QVariant(static_cast<qint64>(info.check_tm)),
			QSql::In);
	query.bindValue(":atm", EncryptedValue(active_tm), QSql::In);
	query.bindValue(":p", EncryptedValue(process), QSql::In);
	query.bindValue(":t", QString::fromStdString(FieldUtf8(info.title)), QSql::In);

	if (!query.exec()) {
		blog(LOG_ERROR, "InsertTable err_msg:%s query:%s",
		     query.lastError().text().toUtf8().constData(),
		     query.executedQuery().toUtf8().constData());
	}
	return query.lastError();
}

bool DatabaseDriverAvailable()
{
	if (QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
		return true;
	const QString folders =
		QCoreApplication::libraryPaths().join(QStringLiteral("; "));
	blog(LOG_ERROR,
	     "SQLite driver QSQLITE cannot be loaded: no sqldrivers plugin for it "
	     "below %s",
	     folders.toUtf8().constData());
	return false;
}

void WriteActiveInfo()
{
	const bool registered = QSqlDatabase::contains(kMonitorConnection);
	const std::string path =
		registered ? std::string()
			   : MonitorDbPath(SharedSample::record_dir,
					   SharedSample::ActiveInfo.user_id);
	// Without an application-data folder the name would be empty, and
	// SQLite would take that for a private temporary database that
	// vanishes on close: every row would be lost without a word.
	if (!registered && path.empty()) {
		blog(LOG_ERROR, "WriteActiveInfo err:db open fail");
		return;
	}

	// SQLite would make a new file readable by every user; it takes an empty
	// file for an empty database, so a private one is put there first.
	platform::CreateFileExclusively((registered ? registeredFile : path).c_str());
	QSqlDatabase db = MonitorConnection(path);
	if (!OpenWithRetries(db)) {
		blog(LOG_ERROR, "WriteActiveInfo err:db open fail");
		return;
	}

	const QSqlError result = InsertTable(db);
	if (IsLocked(result))
		RetryWhileLocked(db, result);
	else if (result.type() != QSqlError::NoError)
		CreateTableAndInsert(db);
	db.close();
}

void RemoveMonitorConnection()
{
	// No QSqlDatabase or QSqlQuery of the connection outlives a write, so
	// none is in use here.
	if (QSqlDatabase::contains(kMonitorConnection))
		QSqlDatabase::removeDatabase(kMonitorConnection);
}
