#include "app/monitor-app.h"

#include <QCoreApplication>

#include <util/base.h>

#include "monitor/window-monitor.h"

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

} // namespace

bool MonitorApp::startMonitor(LaunchOptions options)
{
	const QString path =
		QCoreApplication::applicationDirPath() + "/lockfile.lock";
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
