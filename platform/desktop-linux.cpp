// The window layer on Linux: which source tells the window in front is
// chosen once, at the first question. In a Wayland session
// (session::IsWaylandSession) libvorlix-wayland.so is loaded and asked for the
// desktop's own source: sway's IPC socket, KWin through a script, GNOME
// Shell through our extension, the compositor's foreign-toplevel list.
// Otherwise, or when it has none, the X server (x11/) answers: an X11
// desktop, or XWayland, which knows only the windows of X programs; then the
// source's words in the log say why native Wayland windows are not seen.
//
// A Wayland source knows the window in front only, so an enumeration lists
// that one. Its handles carry a bit that no X11 handle has; the X server is
// not asked while the Wayland source answers (GNOME starts XWayland only
// when someone connects to it), except when the source cannot tell an X
// window from a native one (the foreign-toplevel list).
#include <cstdlib>
#include <string>

#include "platform/app-process.h"
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

	// For a source that names no process: the one found for its window.
	uint64_t process_of = 0;
	uint32_t process = 0;
	// For a source that cannot tell XWayland's windows: what the X server
	// was last asked.
	uint64_t x_asked_for = 0;
	bool x_running = false;
	WindowHandle x_window = 0;
	bool x_same = false;
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
	// Until its first answer the source holds no window: the X server is
	// not asked (DesktopWindow comes before the first refresh of a tick).
	if (api && api->start_foreground(&d.no_wayland)) {
		d.api = api;
		d.answer = Answer::Window;
	}
	return d;
}

bool Delegated(const Desktop &d)
{
	return !d.api || d.answer == Answer::XWayland;
}

// Titles are compared this far: X titles are read cut to it.
constexpr int kTitleUnits = 1024;

// Whether the X server's window in front has the title `title`.
bool XTitleIs(WindowHandle window, const std::string &title)
{
	char16_t buffer[kTitleUnits];
	const int n = x11::WindowTitle(window, buffer, kTitleUnits);
	const std::u16string wanted = text::Utf8ToUtf16(title);
	const std::u16string seen(buffer, static_cast<size_t>(n));
	return wanted == seen ||
	       (n >= kTitleUnits - 2 && wanted.compare(0, seen.size(), seen) == 0);
}

// Whether the compositor's window in front is one of XWayland's: the
// compositor tells the X server which of its windows is active
// (_NET_ACTIVE_WINDOW), and that none is while a native window is, so the
// X server's window in front with the same title is this window. X is
// asked only once XWayland runs: a compositor that starts it on demand
// would start it for the question. The answer is kept until the window in
// front or the X server's changes (a title that changes later is sent to
// both on their own ways); the X server's window in front is kept current
// from its events.
bool InFrontThroughXWayland(Desktop &d)
{
	const char *display = std::getenv("DISPLAY");
	if (!display || !*display)
		return false;
	const bool changed = d.focused.id != d.x_asked_for;
	if (changed) {
		d.x_asked_for = d.focused.id;
		d.x_running = d.x_running || UserRunsProgram("Xwayland");
	}
	if (!d.x_running)
		return false;
	const WindowHandle x_window = x11::ForegroundWindow();
	if (changed || x_window != d.x_window) {
		d.x_window = x_window;
		d.x_same = x_window != 0 && XTitleIs(x_window, d.focused.title);
	}
	return d.x_same;
}

void Refresh(Desktop &d)
{
	if (!d.api || d.enumerating || d.closed)
		return;
	d.answer = d.api->foreground(&d.focused);
	if (d.answer == Answer::Window && d.focused.id != 0 && d.focused.maybe_xwayland &&
	    InFrontThroughXWayland(d))
		d.answer = Answer::XWayland;
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
	Desktop &d = Chosen();
	if (window != FocusedHandle(d))
		return 0;
	if (d.focused.pid != 0 || d.focused.app_id.empty())
		return d.focused.pid;
	// Looked for once per window in front.
	if (d.process_of != d.focused.id) {
		d.process_of = d.focused.id;
		d.process = ApplicationProcess(d.focused.app_id);
	}
	return d.process;
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
