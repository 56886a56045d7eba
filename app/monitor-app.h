#pragma once
// The application object: the single-instance lock and the monitor's owner.
#include <QApplication>
#include <QLockFile>
#include <QPointer>

#include "app/launch-options.h"

class WindowMonitor;

class MonitorApp : public QApplication {
	Q_OBJECT

public:
	MonitorApp(int &argc, char **argv);
	~MonitorApp() override;

	// Takes the lock "lockfile.lock" in the program's directory (where that
	// cannot be written, a lock of the user's own in the runtime folder),
	// creates, configures and starts the monitor. False on any failure
	// (logged).
	bool startMonitor(LaunchOptions options);

public slots:
	void stopMonitor();

private:
	QPointer<WindowMonitor> monitor;
	QLockFile *lock_file = nullptr;
};

// Installs the SIGINT/SIGTERM handling: the handler only queues the signal
// number; the main thread logs it and asks the application to quit.
void InstallSignalHandler(QCoreApplication *app);
