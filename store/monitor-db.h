#pragma once
// The per-user activity database: one row per sample in monitor_detail.
#include <string>

#include <QSqlDatabase>
#include <QSqlError>

#include "store/record-path.h"

// Name of the one Qt SQL connection of the program.
extern const char *const kMonitorConnection; // "monitor_connection"
extern const char *const kCreateTableSql;
extern const char *const kInsertSql;

// False, with a line naming SQLite's limit, when the full path of the
// user's record file is longer than SQLite opens: no row could ever be
// written to it. Its folder must exist, so that links in it can be resolved.
bool MonitorDbPathFits(const std::string &record_dir, int user_id);

// True when Qt can load its SQLite driver; otherwise logs one error line
// naming the driver and the folders it was looked for in. Without it every
// write would fail with nothing but "db open fail".
bool DatabaseDriverAvailable();

// Writes WindowMonitor::ActiveInfo as one row; logs why when it cannot.
void WriteActiveInfo();

// Inserts the current sample through `db`; returns the insert's error.
QSqlError InsertTable(QSqlDatabase &db);

// Removes the registered connection (the monitor's stop).
void RemoveMonitorConnection();
