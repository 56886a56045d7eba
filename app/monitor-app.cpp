#include "app/monitor-app.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>

#include <util/base.h>

#include "monitor/window-monitor.h"
#include "platform/platform.h"

MonitorApp::MonitorApp(int &argc, char **argv) : QApplication(argc, argv) {}

MonitorApp::~MonitorApp()
{
	delete monitor.data();
	delete lock_file;
}

namespace {

const char *LockErrorText(QLockFile::LockError error)
{
	switch (error) {
	case QLockFile::PermissionError:
		return "the file cannot be created (permission denied)";
	case QLockFile::UnknownError:
		return "the file cannot be created";
	default:
		return "unknown reason";
	}
}

// The lock beside the program, so one instance runs per program folder.
// An installed program's folder is root's: there each user takes a lock of
// their own in their runtime folder, named for the program's folder, so
// that each user runs one instance and no user's keeps out another's.
QString LockFilePath()
{
	const QString folder = QCoreApplication::applicationDirPath();
	const QString runtime =
		QString::fromStdString(platform::UserRuntimeDirectory());
	if (runtime.isEmpty() || QFileInfo(folder).isWritable())
		return folder + "/lockfile.lock";
	// Percent-encoding keeps every folder's name apart ("/" and "%"
	// included); a name too long for the file system is hashed.
	QByteArray name = folder.toUtf8().toPercentEncoding();
	if (name.size() > 200)
		name = QCryptographicHash::hash(folder.toUtf8(),
						QCryptographicHash::Sha256)
			       .toHex();
	return runtime + "/lockfile-" + QString::fromLatin1(name) + ".lock";
}

} // namespace

bool MonitorApp::startMonitor(LaunchOptions options)
{
	const QString path = LockFilePath();
	lock_file = new QLockFile(path);
	lock_file->setStaleLockTime(1000);
	if (!lock_file->tryLock(1000)) {
		if (lock_file->error() == QLockFile::LockFailedError)
			blog(LOG_ERROR, "duplicate application");
		else
			blog(LOG_ERROR, "lock file %s cannot be taken: %s",
			     path.toUtf8().constData(),
			     LockErrorText(lock_file->error()));
		return false;
	}

	monitor = new WindowMonitor();
	WindowMonitor::SetUserInfo(options.user_id, options.member_id);
	WindowMonitor::SetRecordDir(options.record_dir);
	WindowMonitor::SetCipherKey(options.cipher_key);
	if (options.landing_server_time > 0)
		WindowMonitor::SetLandingServerTime(options.landing_server_time);
	if (options.check_interval > 0)
		monitor->SetCheckInterval(options.check_interval);
	return monitor->WindowMonitorStart();
}

void MonitorApp::stopMonitor()
{
	if (monitor) {
		monitor->WindowMonitorStop();
		delete monitor.data();
		monitor.clear();
	}
	blog(LOG_INFO, "stopMonitor end!!!");
}
