#pragma once
// What a Wayland desktop tells of the window a person works in, and of their
// last input, through the desktop's own channels: sway's IPC socket, a KWin
// script, GNOME Shell's extension of ours, the idle protocols. It lives in a
// library of its own, libvorlix-wayland.so, loaded at run time only in a
// Wayland session: what it links (QtDBus and libdbus, libwayland-client)
// then costs nothing on X11. The program's window layer and the input hook
// both load it and reach it through the table below; both are built from
// this tree with the same compiler, so the table may carry C++ types.
#include <cstdint>
#include <string>

namespace platform::wayland {

// The window in the foreground as the desktop reports it. `id` names the
// window for its whole life (0: no window in front); `pid` is 0 when not
// known; `title` is UTF-8.
struct FocusedWindow {
	uint64_t id = 0;
	uint32_t pid = 0;
	std::string title;
	// What the compositor calls the application (Wayland's app_id; for a
	// window through XWayland its X class), for a source that knows no pid.
	std::string app_id;
	// The source cannot tell a window through XWayland from a native one:
	// the X server may know it better.
	bool maybe_xwayland = false;
};

enum class Answer {
	Window,  // `FocusedWindow` holds the window in front (id 0: none)
	XWayland, // ask the X server: this source sees no window now
	Lost,     // the desktop has gone: the session has ended
};

struct DesktopApi {
	// Picks the foreground source of this session: sway's IPC, KWin through
	// a script, GNOME Shell through its extension, the compositor's
	// foreign-toplevel list. False when the session has none of them, with
	// the reason in `why`.
	bool (*start_foreground)(std::string *why);
	// What the source says now, brought up to date from what has arrived
	// without waiting; the D-Bus sources are kept current by the program's
	// event loop.
	Answer (*foreground)(FocusedWindow *window);
	// Where the answer comes from, in words for a log line; stable while
	// the source is unchanged.
	const char *(*source)();
	// Ends the foreground source (the KWin script is unloaded).
	void (*stop_foreground)();

	// Starts following the user's input through the desktop (GNOME's idle
	// monitor, ext-idle-notify-v1 or org_kde_kwin_idle). False when this
	// desktop offers none of them, with the reason in `why`.
	bool (*start_input)(std::string *why);
	// The tick (CLOCK_BOOTTIME, milliseconds) of the last input; 0 when none
	// is known yet.
	int64_t (*last_input)();
	// Where the last input comes from, in words for a log line.
	const char *(*input_source)();
	void (*stop_input)();
};

} // namespace platform::wayland

// The library's one export.
extern "C" const platform::wayland::DesktopApi *VorlixWaylandDesktop();

// The file the library is loaded from, beside the program and the hook.
#define VORLIX_WAYLAND_LIBRARY "libvorlix-wayland.so"
