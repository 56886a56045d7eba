#pragma once
// Windows on X11, through xcb: what the X11 backend's files share. One
// connection per process, opened on first use from $DISPLAY and kept until
// the process ends (x11-connection.cpp); the server's events keep the
// layer's state current (x11-events.cpp); the foreground window comes from
// the window manager, the input focus or a screen locker (x11-foreground.cpp,
// x11-lockers.cpp); titles and owners are read on demand
// (x11-properties.cpp).
//
// With xcb a failed request only gives a missing reply, so a window that
// vanished between two requests, a missing property or an absent window
// manager all read as "nothing could be read".
//
// The layer keeps the window manager's state (is there a live EWMH window
// manager, its client list, the foreground window) and keeps it current
// with the root window's events: PropertyNotify for the properties,
// CreateNotify and DestroyNotify for the windows. An enumeration makes one
// round trip when nothing else has changed, and the foreground window
// asked for once per window during it is answered from that state.
//
// A display may have several screens, each with its own root, window
// manager and _NET_ACTIVE_WINDOW, and one input focus for them all: the
// foreground window is looked for on the screen that holds the focus.
//
// A screen locker or screen saver (i3lock, xsecurelock, xscreensaver) maps
// an override-redirect window over the whole screen, above every other
// window, and grabs the keyboard; neither _NET_ACTIVE_WINDOW nor the focus
// moves. While the topmost window a person sees covers the screen and is
// such a window, it is the foreground window. Desktops keep other
// screen-sized windows that are no lockers: mutter's InputOnly guard window
// at the bottom of the stack, wallpapers lowered below everything, and a
// compositor's overlay window, which covers the screen to show the others
// (a locker may draw inside it: xsecurelock does while a compositor runs).
// The roots' children, their stacking order and the screens' sizes are
// followed through their events, so finding the locker costs no request
// while nothing changes.
//
// X reuses window ids: when a client goes, the next one often gets its ids.
// A handle therefore carries the id and a generation, which changes when the
// layer sees the id leave the client list, destroyed or created anew; like
// an HWND, a handle names one window for its whole life. Handles need 64
// bits (the id in the low 32).

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include "platform/platform.h"

namespace platform::x11 {

static_assert(sizeof(WindowHandle) >= 8, "a handle holds an id and a generation");

struct Screen {
	int number = 0;
	xcb_window_t root = XCB_NONE;
	uint16_t width = 0, height = 0;

	// The window manager: trusted while its check window lives.
	bool wm_stale = true;
	xcb_window_t wm_check = XCB_NONE;
	xcb_window_t wm_named = XCB_NONE; // what the root names, trusted or not
	bool wm_active_window = false; // it lists _NET_ACTIVE_WINDOW as supported

	bool clients_stale = true;
	bool has_client_list = false;
	std::vector<xcb_window_t> clients;

	// A compositing manager's overlay window, while one is known, and the
	// client bits of the compositing manager's own windows.
	xcb_atom_t cm_selection = XCB_NONE; // _NET_WM_CM_S<number>
	xcb_window_t overlay = XCB_NONE;
	uint32_t compositor = 0;
};

// A child of a root, or of a compositor's overlay window, as its events
// describe it.
struct Child {
	enum class Kind : uint8_t { Unknown, InputOutput, InputOnly };
	enum class Listed : uint8_t { Unknown, Yes, No };
	xcb_window_t parent = XCB_NONE;
	size_t screen = 0;
	int32_t x = 0, y = 0;
	uint32_t width = 0, height = 0;
	bool override_redirect = false;
	bool mapped = false;
	Kind kind = Kind::Unknown;        // asked for when it first matters
	Listed listed = Listed::Unknown;  // by its root's QueryTree
};

struct X11Display {
	xcb_connection_t *conn = nullptr;
	bool usable = true; // the EWMH atoms are known
	xcb_ewmh_connection_t ewmh{};
	xcb_atom_t compound_text = XCB_NONE;
	xcb_atom_t wm_state = XCB_NONE;
	bool resource_pids = false; // X-Resource 1.2: pids of local clients
	std::string host;           // this machine's name, for WM_CLIENT_MACHINE

	std::vector<Screen> screens;
	size_t current = 0; // the screen that holds the input focus
	std::unordered_map<xcb_window_t, Child> children;
	// Each root's and overlay window's children, bottom to top.
	std::unordered_map<xcb_window_t, std::vector<xcb_window_t>> stacks;
	bool stacks_changed = true; // the locker is looked for again
	uint32_t client_mask = 0;    // the bits of an id that name its client

	xcb_window_t active = XCB_NONE;
	xcb_window_t focus_top = XCB_NONE; // top-level ancestor of the focused client
	xcb_window_t locker = XCB_NONE;    // the window covering the current screen
	size_t locker_screen = 0;          // the screen it was looked for on
	const char *source = nullptr;
	bool enumerating = false;

	std::unordered_set<xcb_window_t> handed; // ids given out in handles
	std::unordered_map<xcb_window_t, uint32_t> generation; // absent: 0
};

struct FreeDeleter {
	void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// ---- the connection and handles (x11-connection.cpp) --------------------

// The connection, opened on first use; nullptr without a display.
X11Display *Connection();
// The connection if it still works.
X11Display *LiveConnection();
// Why the last try to connect found no display, in words for the log.
const std::string &ConnectError();
// The screen whose root `root` is; -1 for any other window.
int ScreenOfRoot(const X11Display *d, xcb_window_t root);
// Reads the children of each of `parents` (roots or an overlay window,
// with their screens) as they are now, bottom to top.
void ReadChildren(X11Display *d, const std::vector<std::pair<xcb_window_t, size_t>> &parents);
// The id names another window from now on.
void Retire(X11Display *d, xcb_window_t window);
// The handle of `window` (its id and generation); 0 for XCB_NONE.
WindowHandle Handle(X11Display *d, xcb_window_t window);
// The id of a handle that still names its window, else XCB_NONE.
xcb_window_t WindowOf(const X11Display *d, WindowHandle handle);

// ---- events (x11-events.cpp) ---------------------------------------------

// Handles the events that have been read with the replies; reads nothing.
void DrainEvents(X11Display *d);
// The child `window` of `parent` (a root or an overlay window), put on top
// when not known yet; nullptr when `parent` is neither.
Child *ChildOf(X11Display *d, xcb_window_t parent, xcb_window_t window);

// ---- screen lockers (x11-lockers.cpp) -------------------------------------

// Finds the overlay windows of a compositing manager that already runs;
// `owners` asks for each screen's compositing-manager selection.
void FindOverlays(X11Display *d, const std::vector<xcb_get_selection_owner_cookie_t> &owners);
// The screen locker's window on `s`, XCB_NONE when there is none.
xcb_window_t ScreenLocker(X11Display *d, Screen &s);

} // namespace platform::x11
