#include "app/startup.h"

#include <cstdlib>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

#include <util/base.h>

#include "app/monitor-app.h"
#include "logging/log-handler.h"
#include "platform/platform.h"

namespace {

QtMessageHandler qtHandler = nullptr;

// Qt ends the process on a fatal error (no platform plugin that loads, for
// one), on Windows through a message box that waits for a click. A program
// without a window says why on the console and in the log instead, and its
// start ends with -1. Other messages go where they always went.
void EndOnQtFatal(QtMsgType type, const QMessageLogContext &context,
		  const QString &message)
{
	if (type != QtFatalMsg) {
		if (qtHandler)
			qtHandler(type, context, message);
		return;
	}
	blog(LOG_ERROR, "Qt cannot go on: %s", message.toUtf8().constData());
	RestoreConsoleHandler();
	std::_Exit(-1);
}

// Qt is told where to look for plugins before the application object
// exists: the program's own folder, never the current directory, where
// anyone could plant a platform or SQL driver plugin.
void PrepareQt()
{
	const std::string dir = platform::ExecutableDirectory();
	if (!dir.empty())
		QCoreApplication::addLibraryPath(QFile::decodeName(dir.c_str()));
	QCoreApplication::setAttribute(Qt::AA_PluginApplication, true);
	qtHandler = qInstallMessageHandler(EndOnQtFatal);
	// The program shows no window: Qt needs no display of its own.
	if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
		qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace

int RunApplication(int &argc, char **argv, const LaunchOptions &options,
		   std::fstream &log_stream)
{
	PrepareQt();
	// Never destroyed: the lock is released only by the end of the process.
	auto *app = new MonitorApp(argc, argv);
	if (!app->startMonitor(options)) {
		blog(LOG_ERROR, "monitor thread start fail");
		RestoreConsoleHandler();
		std::exit(-1);
	}
	QObject::connect(app, SIGNAL(aboutToQuit()), app, SLOT(stopMonitor()));
	InstallSignalHandler(app);

	const int result = app->exec();
	RestoreConsoleHandler();
	log_stream.close();
	return result;
}
