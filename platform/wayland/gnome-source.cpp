// GNOME Shell on Wayland. The shell gives ordinary clients no window list
// (Introspect answers AccessDenied, Eval is gone), so a small extension of
// ours (platform/wayland/gnome-shell/) holds a bus name and tells the
// focused window's id, title and pid: once when asked, then in a signal at
// each change of focus or of the focused window's title. While the
// extension is not running (not installed, disabled, or installed after
// the log-in), the X server (XWayland) is asked instead, which knows only
// its own windows; the source watches for the extension to come.
//
// The last input comes from mutter's idle monitor, which any client of the
// session bus may ask; it knows the input before the program started too.
#include "platform/wayland/gnome-source.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFileInfo>
#include <QStringList>

#include <cstdlib>

namespace platform::wayland {

namespace {

const char kShell[] = "org.gnome.Shell";
const char kExtension[] = "org.vorlix.Monitor.Foreground";
const char kExtensionPath[] = "/org/vorlix/Monitor/Foreground";
const char kExtensionInterface[] = "org.vorlix.Monitor.Foreground1";

const char kSourceExtension[] = "GNOME Shell, through the vorlix-monitor extension";

QString ShellVersion(const QDBusConnection &bus)
{
	QDBusMessage get = QDBusMessage::createMethodCall(
		kShell, "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get");
	get << QString(kShell) << QString("ShellVersion");
	const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, 2000);
	return reply.isValid() ? reply.value().variant().toString() : QString();
}

// True when the extension is installed for every user (the Debian
// package), in one of the system's data folders GNOME Shell reads.
bool InstalledSystemWide()
{
	const char *dirs = std::getenv("XDG_DATA_DIRS");
	const QString list = dirs && *dirs ? QString::fromLocal8Bit(dirs)
					   : QStringLiteral("/usr/local/share:/usr/share");
	for (const QString &dir : list.split(':', Qt::SkipEmptyParts))
		if (QFileInfo::exists(dir + "/gnome-shell/extensions/vorlix-monitor@vorlix.org/"
					    "metadata.json"))
			return true;
	return false;
}

// What the log says while the extension does not answer: on the versions
// it is made for, how to get the form that version loads (one left from
// before an upgrade to GNOME 45 or later is "out of date" there), or, when
// the package has installed it for everyone, how to turn it on.
std::string NoExtensionWords(const QString &shell_version)
{
	const int major = shell_version.section('.', 0, 0).toInt();
	const std::string shell =
		major > 0 ? "GNOME Shell " + std::to_string(major) : std::string("GNOME Shell");
	if (major > 0 && (major < 43 || major > 50))
		return shell + " without the vorlix-monitor extension, which is made for GNOME "
			       "Shell 43 to 50 (only windows through XWayland are seen)";
	const std::string seen = " without the vorlix-monitor extension (only windows through "
				 "XWayland are seen: ";
	if (InstalledSystemWide())
		return shell + seen + "turn it on with gnome-extensions enable "
				      "vorlix-monitor@vorlix.org, then log in again)";
	const char *form = major >= 45 ? ", which installs the form GNOME Shell 45 and later load"
				       : "";
	return shell + seen + "run scripts/install-gnome-extension" + form +
	       ", then log in again)";
}

} // namespace

GnomeShellSource::GnomeShellSource(const QDBusConnection &bus)
	: bus_(bus), no_extension_(NoExtensionWords(ShellVersion(bus)))
{
}

bool GnomeShellSource::Start()
{
	// The signal is followed before the first answer is asked for, so that
	// no change falls between the two.
	if (!bus_.connect(kExtension, kExtensionPath, kExtensionInterface, "Changed", this,
			  SLOT(Changed(qulonglong, QString, uint))))
		return false;
	watcher_ = new QDBusServiceWatcher(kExtension, bus_,
					   QDBusServiceWatcher::WatchForOwnerChange, this);
	connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
		[this](const QString &, const QString &, const QString &owner) {
			running_ = false;
			if (!owner.isEmpty())
				AskExtension();
		});
	AskExtension();
	return true;
}

void GnomeShellSource::AskExtension()
{
	const QDBusMessage reply = bus_.call(QDBusMessage::createMethodCall(
		kExtension, kExtensionPath, kExtensionInterface, "Get"), QDBus::Block, 2000);
	const QList<QVariant> args = reply.arguments();
	running_ = reply.type() == QDBusMessage::ReplyMessage && args.size() == 3;
	if (running_)
		Changed(args[0].toULongLong(), args[1].toString(), args[2].toUInt());
}

void GnomeShellSource::Changed(qulonglong id, const QString &title, uint pid)
{
	running_ = true;
	focused_.id = id;
	focused_.pid = id != 0 ? pid : 0;
	focused_.title = id != 0 ? title.toStdString() : std::string();
}

Answer GnomeShellSource::Foreground(FocusedWindow *window)
{
	if (!bus_.isConnected())
		return Answer::Lost;
	if (!running_)
		return Answer::XWayland;
	*window = focused_;
	return Answer::Window;
}

const char *GnomeShellSource::Source() const
{
	return running_ ? kSourceExtension : no_extension_.c_str();
}

std::unique_ptr<ForegroundSource> StartGnomeShell(std::string *why)
{
	QDBusConnection bus = QDBusConnection::sessionBus();
	if (!bus.isConnected()) {
		*why = "no session bus";
		return nullptr;
	}
	if (!bus.interface()->isServiceRegistered(kShell).value()) {
		*why = "GNOME Shell is not on the session bus";
		return nullptr;
	}
	auto source = std::make_unique<GnomeShellSource>(bus);
	if (!source->Start()) {
		*why = "the extension's signal could not be followed on the session bus";
		return nullptr;
	}
	return source;
}

// ---- input ----------------------------------------------------------------

namespace {

const char kIdleMonitor[] = "org.gnome.Mutter.IdleMonitor";

class MutterIdleMonitor : public InputSource {
public:
	explicit MutterIdleMonitor(const QDBusConnection &bus) : bus_(bus) {}

	// One call a tick: the idle time cannot be followed by events (the
	// monitor's watches fire at set idle times, not at each input).
	int64_t LastInput() override
	{
		const int64_t idle = IdleMilliseconds();
		return idle < 0 ? 0 : TickNow() - idle;
	}
	const char *Name() const override { return "mutter's idle monitor"; }

	int64_t IdleMilliseconds()
	{
		const QDBusReply<qulonglong> reply = bus_.call(
			QDBusMessage::createMethodCall(kIdleMonitor, "/org/gnome/Mutter/IdleMonitor/Core",
						       kIdleMonitor, "GetIdletime"),
			QDBus::Block, 2000);
		if (!reply.isValid() || reply.value() > static_cast<qulonglong>(TickNow()))
			return -1;
		return static_cast<int64_t>(reply.value());
	}

private:
	QDBusConnection bus_;
};

} // namespace

std::unique_ptr<InputSource> StartMutterIdleMonitor(std::string *why)
{
	QDBusConnection bus = QDBusConnection::sessionBus();
	if (!bus.isConnected()) {
		*why = "no session bus";
		return nullptr;
	}
	auto monitor = std::make_unique<MutterIdleMonitor>(bus);
	if (monitor->IdleMilliseconds() < 0) {
		*why = "mutter's idle monitor does not answer";
		return nullptr;
	}
	return monitor;
}

} // namespace platform::wayland
