// The window layer on Linux: which source tells the window in front is
// chosen once, at the first question. In a Wayland session
// (session::IsWaylandSession) libvorlix-wayland.so is loaded and asked for the
// desktop's own source: sway's IPC socket, KWin through a script, GNOME
// Shell through our extension. Otherwise, or when it has none, the X
// server (x11/) answers: an X11 desktop, or XWayland, which knows only the
// windows of X programs; then the source's words in the log say why native
// Wayland windows are not seen.
//
// A Wayland source knows the window in front only, so an enumeration lists
// that one. Its handles carry a bit that no X11 handle has; the X server is
// not asked at all while the Wayland source answers (GNOME starts XWayland
// only when someone connects to it).
#include <string>

#include "platform/linux-session.h"
#include "platform/platform.h"
#include "platform/utf16-text.h"
#include "platform/x11/x11-windows.h"

namespace platform {

namespace {

using wayland::Answer;

constexpr WindowHandle kWaylandBit = WindowHandle{1} << 62;

struct Desktop {
	bool chosen = false;
	const wayland::DesktopApi *api = nullptr; // a Wayland source answers
	std::string no_wayland; // why a Wayland session has no source of its own
	Answer answer = Answer::XWayland;
	wayland::FocusedWindow focused;
	bool enumerating = false;
	bool closed = false; // CloseWindowSystem: no window from now on
	std::string source; // the words ForegroundSource gives
};

Desktop &Chosen()
{
	static Desktop d;
	if (d.chosen)
		return d;
	d.chosen = true;
	if (!session::IsWaylandSession())
		return d;
	const wayland::DesktopApi *api = session::LoadWaylandDesktop(&d.no_wayland);
	if (api && api->start_foreground(&d.no_wayland))
		d.api = api;
	return d;
}

bool Delegated(const Desktop &d)
{
	return !d.api || d.answer == Answer::XWayland;
}

void Refresh(Desktop &d)
{
	if (d.api && !d.enumerating && !d.closed)
		d.answer = d.api->foreground(&d.focused);
}

WindowHandle FocusedHandle(const Desktop &d)
{
	return d.answer == Answer::Window && d.focused.id != 0 ? (d.focused.id | kWaylandBit) : 0;
}

bool IsWaylandHandle(WindowHandle window)
{
	return (window & kWaylandBit) != 0;
}

} // namespace

bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user)
{
	Desktop &d = Chosen();
	Refresh(d);
	if (Delegated(d))
		return x11::EnumTopLevelWindows(callback, user);
	if (!callback || d.answer == Answer::Lost)
		return false;
	const WindowHandle window = FocusedHandle(d);
	if (window == 0)
		return true;
	d.enumerating = true;
	const bool walked = callback(window, user);
	d.enumerating = false;
	return walked;
}

WindowHandle ForegroundWindow()
{
	Desktop &d = Chosen();
	Refresh(d);
	return Delegated(d) ? x11::ForegroundWindow() : FocusedHandle(d);
}

const char *ForegroundSource()
{
	Desktop &d = Chosen();
	const char *source = d.api ? d.api->source() : x11::ForegroundSource();
	if (!source)
		return nullptr;
	d.source = source;
	if (!d.api && !d.no_wayland.empty())
		d.source += " through XWayland: native Wayland windows cannot be seen on this "
			    "desktop (" + d.no_wayland + ")";
	return d.source.c_str();
}

WindowHandle DesktopWindow()
{
	Desktop &d = Chosen();
	return Delegated(d) ? x11::DesktopWindow() : 0;
}

int WindowTitle(WindowHandle window, char16_t *buffer, int max_count)
{
	if (!IsWaylandHandle(window))
		return x11::WindowTitle(window, buffer, max_count);
	if (!buffer || max_count < 1)
		return 0;
	buffer[0] = 0;
	const Desktop &d = Chosen();
	if (window != FocusedHandle(d))
		return 0;
	return text::CopyTerminated(text::Utf8ToUtf16(d.focused.title), buffer, max_count);
}

uint32_t WindowProcessId(WindowHandle window)
{
	if (!IsWaylandHandle(window))
		return x11::WindowProcessId(window);
	const Desktop &d = Chosen();
	return window == FocusedHandle(d) ? d.focused.pid : 0;
}

uint32_t HostedWindowProcessId(WindowHandle)
{
	return 0;
}

bool WindowSystemLost()
{
	const Desktop &d = Chosen();
	if (d.api)
		return d.answer == Answer::Lost;
	return x11::WindowSystemLost();
}

void CloseWindowSystem()
{
	Desktop &d = Chosen();
	if (!d.api)
		return;
	d.api->stop_foreground();
	d.closed = true;
	d.answer = Answer::Window;
	d.focused = {};
}

std::string WindowSystemUnavailable()
{
	const Desktop &d = Chosen();
	if (d.api)
		return {};
	std::string why = x11::WindowSystemUnavailable();
	if (!why.empty() && !d.no_wayland.empty())
		why += "; no Wayland desktop source: " + d.no_wayland;
	return why;
}

} // namespace platform
