#pragma once
// GNOME Shell's foreground source (gnome-source.cpp); a header of its own
// only because Qt's meta-object compiler reads the class from one.
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <string>

#include "platform/wayland/sources.h"

namespace platform::wayland {

class GnomeShellSource : public QObject, public ForegroundSource {
	Q_OBJECT
public:
	explicit GnomeShellSource(const QDBusConnection &bus);
	bool Start();
	Answer Foreground(FocusedWindow *window) override;
	const char *Source() const override;

private Q_SLOTS:
	void Changed(qulonglong id, const QString &title, uint pid);

private:
	void AskExtension();

	QDBusConnection bus_;
	QDBusServiceWatcher *watcher_ = nullptr;
	std::string no_extension_; // the source's words while the extension does not answer
	bool running_ = false; // the extension answers
	FocusedWindow focused_;
};

} // namespace platform::wayland
