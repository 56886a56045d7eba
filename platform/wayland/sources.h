#pragma once
// The foreground and input sources inside libvorlix-wayland.so, one file
// each: sway-source.cpp, kwin-source.cpp, gnome-source.cpp,
// toplevel-source.cpp (foreground);
// idle-protocols.cpp, gnome-source.cpp (input). desktop-module.cpp picks
// among them for the session.
#include <memory>
#include <string>

#include <QByteArray>

#include "platform/linux-session.h"
#include "platform/wayland/wayland-desktop.h"

namespace platform::wayland {

class ForegroundSource {
public:
	virtual ~ForegroundSource() = default;
	virtual Answer Foreground(FocusedWindow *window) = 0;
	virtual const char *Source() const = 0;
};

class InputSource {
public:
	virtual ~InputSource() = default;
	virtual int64_t LastInput() = 0;
	virtual const char *Name() const = 0;
};

// Each returns nullptr when its desktop is not this session's, with the
// reason in `why`.
std::unique_ptr<ForegroundSource> StartSway(std::string *why);
std::unique_ptr<ForegroundSource> StartKWin(std::string *why);
std::unique_ptr<ForegroundSource> StartGnomeShell(std::string *why);
std::unique_ptr<ForegroundSource> StartForeignToplevel(std::string *why);

std::unique_ptr<InputSource> StartMutterIdleMonitor(std::string *why);
std::unique_ptr<InputSource> StartIdleProtocols(std::string *why);

// `text` with each byte of a malformed UTF-8 sequence taken for a Latin-1
// character: X programs name their windows in Latin-1 (WM_NAME), which
// compositors pass on undecoded.
QByteArray RepairUtf8(const QByteArray &text);

// The program's own clock, which every last-input time is read on.
inline int64_t TickNow()
{
	return session::BootTickMilliseconds();
}

} // namespace platform::wayland
