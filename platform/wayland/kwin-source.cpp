// The window in front on KDE Plasma: KWin gives ordinary clients no window
// list, but runs scripts loaded through its D-Bus scripting interface, and
// a script sees every window, native and XWayland alike. Ours reports the
// active window's id, pid and caption to this process's own bus name when
// a window is activated and when the active window's caption changes; it
// carries no other window's data. Calls that do not come from KWin are
// refused. The script is unloaded when the source ends; should the program
// be killed, it stays in KWin, calling a bus name no one holds, until KWin
// restarts.
#include "platform/wayland/sources.h"

#include <unordered_map>

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QString>

namespace platform::wayland {

namespace {

const char kKWin[] = "org.kde.KWin";
const char kPath[] = "/org/vorlix/Monitor/Foreground";
const char kInterface[] = "org.vorlix.Monitor.Foreground1";

// KWin 5 names the window "client" (clientActivated, activeClient), KWin 6
// "window" (windowActivated, activeWindow). Ids are QUuids, sent as text.
const char kScript[] = R"JS((function () {
var service = "@SERVICE@", path = "@PATH@", iface = "@INTERFACE@";
var current = null;
function report() {
    var w = current;
    callDBus(service, path, iface, "Activated",
             w ? String(w.internalId) : "", w ? (Number(w.pid) || 0) : 0,
             w ? String(w.caption || "") : "");
}
function follow(w) {
    if (current) {
        try { current.captionChanged.disconnect(report); } catch (e) {}
    }
    current = w || null;
    if (current)
        current.captionChanged.connect(report);
    report();
}
var activated = workspace.windowActivated || workspace.clientActivated;
activated.connect(follow);
follow(workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient);
})();
)JS";

class KWinSource : public ForegroundSource, public QDBusVirtualObject {
public:
	explicit KWinSource(const QDBusConnection &bus) : bus_(bus) {}

	~KWinSource() override
	{
		Unload();
		bus_.unregisterObject(kPath);
	}

	bool Start(std::string *why)
	{
		if (!bus_.registerVirtualObject(kPath, this)) {
			*why = "the object " + std::string(kPath) + " could not be registered on the session bus";
			return false;
		}
		watcher_ = std::make_unique<QDBusServiceWatcher>(
			kKWin, bus_, QDBusServiceWatcher::WatchForOwnerChange);
		QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged,
				 [this](const QString &, const QString &, const QString &owner) {
					 // A KWin that restarted runs no script of ours.
					 kwin_owner_ = owner;
					 focused_ = {};
					 heard_ = false;
					 if (!owner.isEmpty())
						 Load(nullptr);
				 });
		kwin_owner_ = bus_.interface()->serviceOwner(kKWin).value();
		return Load(why);
	}

	Answer Foreground(FocusedWindow *window) override
	{
		if (!bus_.isConnected())
			return Answer::Lost;
		// Until the script has spoken, only XWayland's windows are known.
		if (!heard_)
			return Answer::XWayland;
		*window = focused_;
		return Answer::Window;
	}

	const char *Source() const override { return "KWin, through a script of ours"; }

	QString introspect(const QString &) const override
	{
		return QStringLiteral("<interface name=\"%1\"><method name=\"Activated\">"
				      "<arg type=\"s\" direction=\"in\"/><arg type=\"d\" direction=\"in\"/>"
				      "<arg type=\"s\" direction=\"in\"/></method></interface>")
			.arg(kInterface);
	}

	bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
	{
		if (message.type() != QDBusMessage::MethodCallMessage)
			return false;
		if (message.interface() != kInterface || message.member() != "Activated" ||
		    message.service() != kwin_owner_ || message.arguments().size() != 3) {
			connection.send(message.createErrorReply(QDBusError::AccessDenied,
								 "only KWin reports here"));
			return true;
		}
		const QList<QVariant> args = message.arguments();
		const QString id = args[0].toString();
		focused_ = {};
		if (!id.isEmpty()) {
			focused_.id = IdOf(id);
			const qlonglong pid = args[1].toLongLong();
			focused_.pid = pid > 0 && pid <= 0x7fffffff ? static_cast<uint32_t>(pid) : 0;
			focused_.title = args[2].toString().toStdString();
		}
		heard_ = true;
		if (!message.isReplyRequired())
			return true;
		connection.send(message.createReply());
		return true;
	}

private:
	// KWin's window ids are UUIDs; each gets a number of its own for the
	// program's run. After many thousands of windows the numbers start anew
	// (a window then only reads as newly activated once).
	uint64_t IdOf(const QString &uuid)
	{
		if (ids_.size() > 50000)
			ids_.clear();
		auto [it, added] = ids_.emplace(uuid.toStdString(), next_id_);
		if (added)
			++next_id_;
		return it->second;
	}

	bool Load(std::string *why)
	{
		Unload();
		plugin_ = QStringLiteral("vorlix-monitor-%1").arg(getpid());
		QString script = QString::fromUtf8(kScript);
		script.replace("@SERVICE@", bus_.baseService())
			.replace("@PATH@", kPath)
			.replace("@INTERFACE@", kInterface);
		// KWin reads the script from a file: one only this user can read,
		// removed once KWin has run it.
		const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR", QDir::tempPath());
		QFile file(folder + "/" + plugin_ + ".js");
		if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
		    !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
		    file.write(script.toUtf8()) < 0) {
			if (why)
				*why = "the KWin script could not be written to " +
				       file.fileName().toStdString();
			return false;
		}
		file.close();
		QDBusMessage load = QDBusMessage::createMethodCall(kKWin, "/Scripting",
								   "org.kde.kwin.Scripting", "loadScript");
		load << file.fileName() << plugin_;
		const QDBusMessage loaded = bus_.call(load);
		const int id = loaded.arguments().value(0, -1).toInt();
		bool ran = false;
		if (loaded.type() == QDBusMessage::ReplyMessage && id >= 0) {
			// KWin 5.27 and 6 name the script's object /Scripting/ScriptN,
			// earlier ones /N.
			for (const QString &path : {QStringLiteral("/Scripting/Script%1").arg(id),
						    QStringLiteral("/%1").arg(id)}) {
				const QDBusMessage run = bus_.call(QDBusMessage::createMethodCall(
					kKWin, path, "org.kde.kwin.Script", "run"));
				if (run.type() == QDBusMessage::ReplyMessage) {
					ran = true;
					break;
				}
			}
		}
		file.remove();
		loaded_ = ran;
		if (!ran && why)
			*why = "KWin did not run the script: " +
			       (loaded.type() == QDBusMessage::ErrorMessage
					? loaded.errorMessage().toStdString()
					: std::string("loadScript answered ") + std::to_string(id));
		return ran;
	}

	void Unload()
	{
		if (!loaded_)
			return;
		loaded_ = false;
		QDBusMessage unload = QDBusMessage::createMethodCall(
			kKWin, "/Scripting", "org.kde.kwin.Scripting", "unloadScript");
		unload << plugin_;
		bus_.call(unload, QDBus::Block, 2000);
	}

	QDBusConnection bus_;
	std::unique_ptr<QDBusServiceWatcher> watcher_;
	QString kwin_owner_, plugin_;
	bool loaded_ = false, heard_ = false;
	FocusedWindow focused_;
	std::unordered_map<std::string, uint64_t> ids_;
	uint64_t next_id_ = 1;
};

} // namespace

std::unique_ptr<ForegroundSource> StartKWin(std::string *why)
{
	QDBusConnection bus = QDBusConnection::sessionBus();
	if (!bus.isConnected()) {
		*why = "no session bus";
		return nullptr;
	}
	if (!bus.interface()->isServiceRegistered(kKWin).value()) {
		*why = "KWin is not on the session bus";
		return nullptr;
	}
	auto source = std::make_unique<KWinSource>(bus);
	if (!source->Start(why))
		return nullptr;
	return source;
}

} // namespace platform::wayland
