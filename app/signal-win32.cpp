// Interrupt and termination signals on Windows. A console interrupt runs the
// handler on a thread of its own: the logging and the quit request are
// queued to the main thread, where the application lives.
#include "app/monitor-app.h"

#include <csignal>

#include <QMetaObject>

#include <util/base.h>
#include <util/bmem.h>

namespace {

QCoreApplication *application = nullptr;

void SignalHandler(int signal_number)
{
	// The runtime resets the handler before calling it.
	std::signal(signal_number, SignalHandler);
	QMetaObject::invokeMethod(
		application,
		[signal_number] {
			QCoreApplication::quit();
			blog(LOG_INFO,
			     "app quit with signal:%d Number of memory leaks: %ld",
			     signal_number, bnum_allocs());
		},
		Qt::QueuedConnection);
}

} // namespace

void InstallSignalHandler(QCoreApplication *app)
{
	application = app;
	std::signal(SIGINT, SignalHandler);
	std::signal(SIGTERM, SignalHandler);
}
