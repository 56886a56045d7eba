// The foreground window and the top-level windows: the EWMH window
// manager's, else the input focus's, and a screen locker above both.
#include "platform/x11/x11-display.h"
#include "platform/x11/x11-windows.h"

#include <algorithm>

namespace platform::x11 {

namespace {

const char kSourceWindowManager[] = "_NET_ACTIVE_WINDOW of the EWMH window manager";
const char kSourceInputFocus[] =
	"the input focus (no EWMH window manager keeps _NET_ACTIVE_WINDOW)";
const char kSourceLocker[] =
	"the screen locker's window (an override-redirect window covers the screen from the top)";

// A window-valued property of `window`; XCB_NONE when absent or unreadable.
xcb_window_t WindowProperty(X11Display *d, xcb_get_property_cookie_t cookie)
{
	Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(d->conn, cookie, nullptr));
	if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32 ||
	    xcb_get_property_value_length(reply.get()) < 4)
		return XCB_NONE;
	return *static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
}

xcb_get_property_cookie_t GetWindowProperty(X11Display *d, xcb_window_t window, xcb_atom_t atom)
{
	return xcb_get_property(d->conn, 0, window, atom, XCB_ATOM_WINDOW, 0, 1);
}

// An EWMH window manager is trusted while the window named by the root's
// _NET_SUPPORTING_WM_CHECK exists and names itself: one killed outright
// leaves the root's properties behind, but its check window goes with it.
// Its destruction is watched from then on, and so are its properties: a
// window manager that is starting (mutter at log-in) may name the window on
// the root before the window names itself.
void ReadWindowManager(X11Display *d, Screen &s)
{
	const xcb_get_property_cookie_t check_cookie =
		GetWindowProperty(d, s.root, d->ewmh._NET_SUPPORTING_WM_CHECK);
	const xcb_get_property_cookie_t supported_cookie =
		xcb_ewmh_get_supported(&d->ewmh, s.number);
	const xcb_window_t check = WindowProperty(d, check_cookie);
	xcb_ewmh_get_atoms_reply_t supported;
	s.wm_active_window = false;
	if (xcb_ewmh_get_supported_reply(&d->ewmh, supported_cookie, &supported, nullptr)) {
		s.wm_active_window = std::find(supported.atoms, supported.atoms + supported.atoms_len,
					   d->ewmh._NET_ACTIVE_WINDOW) !=
				 supported.atoms + supported.atoms_len;
		xcb_ewmh_get_atoms_reply_wipe(&supported);
	}
	s.wm_check = XCB_NONE;
	s.wm_named = check;
	if (check != XCB_NONE) {
		const uint32_t mask =
			XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
		xcb_change_window_attributes(d->conn, check, XCB_CW_EVENT_MASK, &mask);
		if (WindowProperty(d, GetWindowProperty(d, check,
							d->ewmh._NET_SUPPORTING_WM_CHECK)) == check)
			s.wm_check = check;
	}
	s.wm_stale = false;
	s.clients_stale = true;
}

// The X input focus, walked up to the top-level client: the nearest
// ancestor with WM_STATE, which a window manager sets on the windows it
// manages; without one, the child of the root that holds the focus.
// PointerRoot or None: no foreground window.
void ReadInputFocus(X11Display *d, const Screen &s)
{
	d->active = d->focus_top = XCB_NONE;
	Reply<xcb_get_input_focus_reply_t> focus(
		xcb_get_input_focus_reply(d->conn, xcb_get_input_focus(d->conn), nullptr));
	if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
	    focus->focus == s.root)
		return;
	xcb_window_t client = XCB_NONE;
	for (xcb_window_t w = focus->focus, depth = 0; depth < 64; ++depth) {
		const xcb_get_property_cookie_t state_cookie =
			xcb_get_property(d->conn, 0, w, d->wm_state, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
		const xcb_query_tree_cookie_t tree_cookie = xcb_query_tree(d->conn, w);
		Reply<xcb_get_property_reply_t> state(
			xcb_get_property_reply(d->conn, state_cookie, nullptr));
		Reply<xcb_query_tree_reply_t> tree(
			xcb_query_tree_reply(d->conn, tree_cookie, nullptr));
		if (!state || !tree)
			return; // gone meanwhile
		if (client == XCB_NONE && state->type != XCB_NONE)
			client = w;
		if (tree->parent == tree->root || tree->parent == XCB_NONE) {
			d->active = client != XCB_NONE ? client : w;
			d->focus_top = w;
			return;
		}
		w = tree->parent;
	}
}

void ReadActiveWindow(X11Display *d, const Screen &s)
{
	xcb_window_t active = XCB_NONE;
	const xcb_get_property_cookie_t cookie = xcb_ewmh_get_active_window(&d->ewmh, s.number);
	if (!xcb_ewmh_get_active_window_reply(&d->ewmh, cookie, &active, nullptr))
		active = XCB_NONE;
	d->active = active;
	d->focus_top = XCB_NONE;
}

void ReadClientList(X11Display *d, Screen &s)
{
	xcb_ewmh_get_windows_reply_t list;
	const xcb_get_property_cookie_t cookie = xcb_ewmh_get_client_list(&d->ewmh, s.number);
	std::vector<xcb_window_t> clients;
	s.has_client_list = xcb_ewmh_get_client_list_reply(&d->ewmh, cookie, &list, nullptr);
	if (s.has_client_list) {
		clients.assign(list.windows, list.windows + list.windows_len);
		xcb_ewmh_get_windows_reply_wipe(&list);
	}
	// A window that has left the list is no longer the window its id named.
	std::vector<xcb_window_t> now = clients;
	std::sort(now.begin(), now.end());
	for (const xcb_window_t window : s.clients)
		if (!std::binary_search(now.begin(), now.end(), window))
			Retire(d, window);
	s.clients = std::move(clients);
	s.clients_stale = false;
}

// The screen that holds the input focus: the focused window's, or under
// PointerRoot the pointer's. Two round trips, on displays of more than one
// screen only; with no focus, the screen stays the one it was.
size_t FocusScreen(X11Display *d)
{
	if (d->screens.size() < 2)
		return d->current;
	Reply<xcb_get_input_focus_reply_t> focus(
		xcb_get_input_focus_reply(d->conn, xcb_get_input_focus(d->conn), nullptr));
	if (!focus || focus->focus == XCB_NONE)
		return d->current;
	xcb_window_t root = XCB_NONE;
	if (focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT) {
		Reply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(
			d->conn, xcb_query_pointer(d->conn, d->screens[0].root), nullptr));
		root = pointer ? pointer->root : XCB_NONE;
	} else {
		Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
			d->conn, xcb_get_geometry(d->conn, focus->focus), nullptr));
		root = geometry ? geometry->root : XCB_NONE;
	}
	const int number = ScreenOfRoot(d, root);
	return number < 0 ? d->current : static_cast<size_t>(number);
}

// Brings the layer's state up to date, in as few round trips as it can:
// asking for the foreground window (the active window or the input focus)
// is the one request made every time on a display of one screen. Its reply
// comes after every event the server sent before it, so the events handled
// then are all there are, and only what they say has changed is asked for
// besides: the client list, and whether an EWMH window manager still runs.
// Without one the input focus is followed, which no event announces. A
// window covering the screen, known from the events, stands above both.
void Refresh(X11Display *d)
{
	DrainEvents(d);
	d->current = FocusScreen(d);
	Screen &s = d->screens[d->current];
	for (int pass = 0; pass < 3; ++pass) {
		if (s.wm_stale)
			ReadWindowManager(d, s);
		const bool ewmh = s.wm_check != XCB_NONE;
		if (ewmh && s.wm_active_window) {
			ReadActiveWindow(d, s);
			d->source = kSourceWindowManager;
		} else {
			ReadInputFocus(d, s);
			d->source = kSourceInputFocus;
		}
		DrainEvents(d);
		if (ewmh && s.clients_stale) {
			ReadClientList(d, s);
			DrainEvents(d);
		}
		if (!ewmh) {
			// Whatever list a window manager killed outright left.
			s.clients.clear();
			s.has_client_list = false;
		}
		if (!s.wm_stale)
			break;
	}
	if (d->stacks_changed || d->locker_screen != d->current) {
		d->locker = ScreenLocker(d, s);
		d->locker_screen = d->current;
	}
	if (d->locker != XCB_NONE) {
		d->active = d->locker;
		d->focus_top = XCB_NONE;
		d->source = kSourceLocker;
	}
}

bool ListRootChildren(X11Display *d, std::vector<xcb_window_t> &windows)
{
	Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
		d->conn, xcb_query_tree(d->conn, d->screens[d->current].root), nullptr));
	if (!tree)
		return false;
	const xcb_window_t *children = xcb_query_tree_children(tree.get());
	windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
	// A window manager's frame stands for the client it holds: the one that
	// has the focus is listed as that client, so that it can be found.
	if (d->focus_top != XCB_NONE && d->active != d->focus_top)
		std::replace(windows.begin(), windows.end(), d->focus_top, d->active);
	return true;
}

} // namespace

// ---- what the window layer asks of the X server (desktop-linux.cpp) ------

bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user)
{
	X11Display *d = LiveConnection();
	if (!d || !callback)
		return false;
	Refresh(d);
	// A copy: the callback may end up refreshing the cached list.
	const Screen &s = d->screens[d->current];
	std::vector<xcb_window_t> windows = s.clients;
	if (!s.has_client_list) {
		if (!ListRootChildren(d, windows))
			return false;
		DrainEvents(d); // as at the end of the refresh
	}
	// A screen locker is no client of the window manager's.
	if (d->locker != XCB_NONE &&
	    std::find(windows.begin(), windows.end(), d->locker) == windows.end())
		windows.push_back(d->locker);
	// The foreground window is answered from the state just refreshed.
	d->enumerating = true;
	bool walked = true;
	for (const xcb_window_t window : windows) {
		if (!callback(Handle(d, window), user)) {
			walked = false;
			break;
		}
	}
	d->enumerating = false;
	return walked;
}

WindowHandle ForegroundWindow()
{
	X11Display *d = LiveConnection();
	if (!d)
		return 0;
	if (!d->enumerating)
		Refresh(d);
	return Handle(d, d->active);
}

const char *ForegroundSource()
{
	X11Display *d = LiveConnection();
	return d ? d->source : nullptr;
}

WindowHandle DesktopWindow()
{
	X11Display *d = LiveConnection();
	return d ? d->screens[d->current].root : 0;
}

std::string WindowSystemUnavailable()
{
	return Connection() ? std::string() : ConnectError();
}

bool WindowSystemLost()
{
	X11Display *d = Connection();
	return !d || xcb_connection_has_error(d->conn) != 0;
}

} // namespace platform::x11
