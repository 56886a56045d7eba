#include "app/startup.h"

#include <cstdlib>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QStringList>

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

// With no platform plugin that loads and no console window (a start from a
// shortcut or a launcher), Qt on Windows shows a message box that waits for
// a click before its fatal error: look for the plugin first.
bool PlatformPluginFound()
{
	const QString name = qEnvironmentVariable("QT_QPA_PLATFORM").section(':', 0, 0);
	for (const QString &dir : QCoreApplication::libraryPaths()) {
		const QDir platforms(dir + QStringLiteral("/platforms"));
		for (const QString &file : platforms.entryList(QDir::Files)) {
			const QJsonArray keys = QPluginLoader(platforms.filePath(file))
							.metaData()
							.value(QStringLiteral("MetaData"))
							.toObject()
							.value(QStringLiteral("Keys"))
							.toArray();
			for (const QJsonValue &key : keys)
				if (key.toString().compare(name, Qt::CaseInsensitive) == 0)
					return true;
		}
	}
	blog(LOG_ERROR, "Qt cannot go on: no Qt platform plugin \"%s\" below %s",
	     name.toUtf8().constData(),
	     QCoreApplication::libraryPaths().join("; ").toUtf8().constData());
	return false;
}

// Qt is told where to look for plugins before the application object
// exists: the program's own folder, never the current directory, where
// anyone could plant a platform or SQL driver plugin.
void PrepareQt()
{
	const std::string dir = platform::ExecutableDirectory();
	if (!dir.empty())
		QCoreApplication::addLibraryPath(QString::fromUtf8(dir.c_str()));
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
	if (!PlatformPluginFound()) {
		RestoreConsoleHandler();
		std::exit(-1);
	}
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
