// Windows on X11, through xcb. One connection per process, opened on first
// use from $DISPLAY and kept until the process ends.
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
#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <strings.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include "platform/compound-text.h"
#include "platform/utf16-text.h"

namespace platform {

static_assert(sizeof(WindowHandle) >= 8, "a handle holds an id and a generation");

namespace {

const char kSourceWindowManager[] = "_NET_ACTIVE_WINDOW of the EWMH window manager";
const char kSourceInputFocus[] =
	"the input focus (no EWMH window manager keeps _NET_ACTIVE_WINDOW)";
const char kSourceLocker[] =
	"the screen locker's window (an override-redirect window covers the screen from the top)";

struct Screen {
	int number = 0;
	xcb_window_t root = XCB_NONE;
	uint16_t width = 0, height = 0;

	// The window manager: trusted while its check window lives.
	bool wm_stale = true;
	xcb_window_t wm_check = XCB_NONE;
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

X11Display *display = nullptr;
bool connect_tried = false;

struct FreeDeleter {
	void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t InternAtomReply(xcb_connection_t *conn, xcb_intern_atom_cookie_t cookie)
{
	Reply<xcb_intern_atom_reply_t> reply(
		xcb_intern_atom_reply(conn, cookie, nullptr));
	return reply ? reply->atom : XCB_NONE;
}

bool HasResourcePids(xcb_connection_t *conn, xcb_res_query_version_cookie_t cookie)
{
	Reply<xcb_res_query_version_reply_t> version(
		xcb_res_query_version_reply(conn, cookie, nullptr));
	return version && (version->server_major > 1 ||
			   (version->server_major == 1 && version->server_minor >= 2));
}

std::vector<Screen> Screens(xcb_connection_t *conn)
{
	std::vector<Screen> screens;
	for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
	     it.rem > 0; xcb_screen_next(&it)) {
		Screen screen;
		screen.number = static_cast<int>(screens.size());
		screen.root = it.data->root;
		screen.width = it.data->width_in_pixels;
		screen.height = it.data->height_in_pixels;
		screens.push_back(screen);
	}
	return screens;
}

// The screen whose root `root` is; -1 for any other window.
int ScreenOfRoot(const X11Display *d, xcb_window_t root)
{
	for (const Screen &screen : d->screens)
		if (screen.root == root)
			return screen.number;
	return -1;
}

// The children of each of `parents` (roots, or an overlay window) as they
// are now, bottom to top; the events keep them current from then on. All
// requests go out before the first reply is read.
void ReadChildren(X11Display *d, const std::vector<std::pair<xcb_window_t, size_t>> &parents)
{
	std::vector<xcb_query_tree_cookie_t> trees;
	for (const auto &parent : parents)
		trees.push_back(xcb_query_tree(d->conn, parent.first));
	struct Asked {
		xcb_window_t window;
		size_t parent;
		xcb_get_window_attributes_cookie_t attributes;
		xcb_get_geometry_cookie_t geometry;
	};
	std::vector<Asked> asked;
	for (size_t i = 0; i < trees.size(); ++i) {
		Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(d->conn, trees[i], nullptr));
		if (!tree)
			continue;
		const xcb_window_t *children = xcb_query_tree_children(tree.get());
		for (int c = 0; c < xcb_query_tree_children_length(tree.get()); ++c)
			asked.push_back({children[c], i, xcb_get_window_attributes(d->conn, children[c]),
					 xcb_get_geometry(d->conn, children[c])});
	}
	for (const Asked &a : asked) {
		Reply<xcb_get_window_attributes_reply_t> attributes(
			xcb_get_window_attributes_reply(d->conn, a.attributes, nullptr));
		Reply<xcb_get_geometry_reply_t> geometry(
			xcb_get_geometry_reply(d->conn, a.geometry, nullptr));
		if (!attributes || !geometry)
			continue; // gone meanwhile
		const auto &[parent, screen] = parents[a.parent];
		Child &child = d->children[a.window];
		child = {parent, screen, geometry->x, geometry->y, geometry->width,
			 geometry->height, attributes->override_redirect != 0,
			 attributes->map_state != XCB_MAP_STATE_UNMAPPED};
		child.kind = attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY
				     ? Child::Kind::InputOnly
				     : Child::Kind::InputOutput;
		child.listed = Child::Listed::Yes;
		d->stacks[parent].push_back(a.window);
	}
	d->stacks_changed = true;
}

xcb_intern_atom_cookie_t InternAtom(xcb_connection_t *conn, const char *name)
{
	return xcb_intern_atom(conn, 0, static_cast<uint16_t>(strlen(name)), name);
}

std::string HostName()
{
	char name[256] = {};
	if (gethostname(name, sizeof(name) - 1) != 0)
		return std::string();
	return name;
}

// Why the last try to connect found no display, for the log.
std::string connect_error;

// A compositing manager may already run: its overlay window then exists,
// and QueryTree does not list it. It is asked for only on the screens
// whose compositing-manager selection has an owner (asking creates the
// overlay window where none exists) and let go at once.
void FindOverlays(X11Display *d, const std::vector<xcb_get_selection_owner_cookie_t> &owners);

// Sends every start-up request before collecting any reply: one round trip.
X11Display *Connect()
{
	int screen = 0;
	xcb_connection_t *conn = xcb_connect(nullptr, &screen);
	if (const int error = xcb_connection_has_error(conn)) {
		const char *name = std::getenv("DISPLAY");
		connect_error = !name || !*name
					? "no X display: DISPLAY is not set"
					: "no X display: the display \"" + std::string(name) +
						  "\" refused the connection (xcb error " +
						  std::to_string(error) + ")";
		xcb_disconnect(conn);
		return nullptr;
	}
	auto *d = new X11Display;
	d->conn = conn;
	d->host = HostName();
	d->screens = Screens(conn);
	d->client_mask = ~xcb_get_setup(conn)->resource_id_mask;
	if (screen < 0 || static_cast<size_t>(screen) >= d->screens.size())
		d->usable = false;
	else
		d->current = static_cast<size_t>(screen);
	// Subscribe before the first read, so no change can fall between them.
	// The root's own ConfigureNotify says the screen changed its size.
	const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE |
			      XCB_EVENT_MASK_STRUCTURE_NOTIFY |
			      XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
	xcb_intern_atom_cookie_t *ewmh_cookies = xcb_ewmh_init_atoms(conn, &d->ewmh);
	for (const Screen &s : d->screens)
		xcb_change_window_attributes(conn, s.root, XCB_CW_EVENT_MASK, &mask);
	const xcb_intern_atom_cookie_t ctext = InternAtom(conn, "COMPOUND_TEXT");
	const xcb_intern_atom_cookie_t wm_state = InternAtom(conn, "WM_STATE");
	std::vector<xcb_intern_atom_cookie_t> cm_atoms;
	for (const Screen &s : d->screens)
		cm_atoms.push_back(InternAtom(conn, ("_NET_WM_CM_S" + std::to_string(s.number)).c_str()));
	const xcb_query_extension_reply_t *res = xcb_get_extension_data(conn, &xcb_res_id);
	const bool res_present = res && res->present;
	xcb_res_query_version_cookie_t version{};
	if (res_present)
		version = xcb_res_query_version(conn, 1, 2);

	if (!xcb_ewmh_init_atoms_replies(&d->ewmh, ewmh_cookies, nullptr))
		d->usable = false; // no atoms: nothing will be found, by design below
	d->compound_text = InternAtomReply(conn, ctext);
	d->wm_state = InternAtomReply(conn, wm_state);
	std::vector<xcb_get_selection_owner_cookie_t> owners;
	for (size_t i = 0; i < d->screens.size(); ++i) {
		d->screens[i].cm_selection = InternAtomReply(conn, cm_atoms[i]);
		owners.push_back(xcb_get_selection_owner(conn, d->screens[i].cm_selection));
	}
	d->resource_pids = res_present && HasResourcePids(conn, version);
	std::vector<std::pair<xcb_window_t, size_t>> roots;
	for (size_t i = 0; i < d->screens.size(); ++i)
		roots.emplace_back(d->screens[i].root, i);
	ReadChildren(d, roots);
	FindOverlays(d, owners);
	return d;
}

// The connection, opened on first use; nullptr without a display.
X11Display *Connection()
{
	if (!connect_tried) {
		connect_tried = true;
		display = Connect();
	}
	return display;
}

// The connection if it still works.
X11Display *LiveConnection()
{
	X11Display *d = Connection();
	return d && d->usable && !xcb_connection_has_error(d->conn) ? d : nullptr;
}

// The id names another window from now on.
void Retire(X11Display *d, xcb_window_t window)
{
	if (d->handed.erase(window))
		++d->generation[window];
}

WindowHandle Handle(X11Display *d, xcb_window_t window)
{
	if (window == XCB_NONE)
		return 0;
	d->handed.insert(window);
	const auto it = d->generation.find(window);
	const uint64_t generation = it == d->generation.end() ? 0 : it->second;
	return static_cast<WindowHandle>(generation << 32 | window);
}

// The id of a handle that still names its window; XCB_NONE for a handle of
// a window whose id has since been taken by another, or for no window.
xcb_window_t WindowOf(const X11Display *d, WindowHandle handle)
{
	const auto window = static_cast<xcb_window_t>(handle & 0xFFFFFFFFu);
	const auto generation = static_cast<uint32_t>(static_cast<uint64_t>(handle) >> 32);
	if (window == XCB_NONE)
		return XCB_NONE;
	const auto it = d->generation.find(window);
	return generation == (it == d->generation.end() ? 0 : it->second) ? window : XCB_NONE;
}

void PropertyChanged(X11Display *d, const xcb_property_notify_event_t *e)
{
	const int number = ScreenOfRoot(d, e->window);
	if (number < 0)
		return;
	Screen &screen = d->screens[static_cast<size_t>(number)];
	if (e->atom == d->ewmh._NET_CLIENT_LIST)
		screen.clients_stale = true;
	else if (e->atom == d->ewmh._NET_SUPPORTING_WM_CHECK || e->atom == d->ewmh._NET_SUPPORTED)
		screen.wm_stale = true;
}

// The screen whose root or overlay window `parent` is; -1 for any other.
int ScreenOfParent(const X11Display *d, xcb_window_t parent)
{
	for (const Screen &screen : d->screens)
		if (screen.root == parent || (parent != XCB_NONE && screen.overlay == parent))
			return screen.number;
	return -1;
}

void Unstack(X11Display *d, xcb_window_t parent, xcb_window_t window)
{
	auto &stack = d->stacks[parent];
	stack.erase(std::remove(stack.begin(), stack.end(), window), stack.end());
	d->stacks_changed = true;
}

// Puts `window` directly above `below` among its siblings; XCB_NONE puts it
// at the bottom. A sibling not known puts it on top.
void Restack(X11Display *d, xcb_window_t parent, xcb_window_t window, xcb_window_t below)
{
	Unstack(d, parent, window);
	auto &stack = d->stacks[parent];
	if (below == XCB_NONE) {
		stack.insert(stack.begin(), window);
		return;
	}
	const auto it = std::find(stack.begin(), stack.end(), below);
	stack.insert(it == stack.end() ? stack.end() : it + 1, window);
}

void RaiseToTop(X11Display *d, xcb_window_t parent, xcb_window_t window)
{
	Unstack(d, parent, window);
	d->stacks[parent].push_back(window);
}

// The compositing manager has let its overlay window go: its children go
// with it.
void DropOverlay(X11Display *d, Screen &screen)
{
	for (const xcb_window_t child : d->stacks[screen.overlay])
		d->children.erase(child);
	d->stacks.erase(screen.overlay);
	screen.overlay = XCB_NONE;
	d->stacks_changed = true;
}

void WindowDestroyed(X11Display *d, xcb_window_t gone)
{
	for (Screen &screen : d->screens) {
		if (gone == screen.wm_check)
			screen.wm_stale = true; // the window manager has gone
		if (gone == screen.overlay)
			DropOverlay(d, screen);
	}
	const auto it = d->children.find(gone);
	if (it != d->children.end()) {
		Unstack(d, it->second.parent, gone);
		d->children.erase(it);
	}
	Retire(d, gone);
}

// The child `window` of `parent`, when `parent` is a root or an overlay
// window; nullptr otherwise. A child not known yet is put on top.
Child *ChildOf(X11Display *d, xcb_window_t parent, xcb_window_t window)
{
	const int number = ScreenOfParent(d, parent);
	if (number < 0)
		return nullptr;
	const auto it = d->children.find(window);
	if (it != d->children.end() && it->second.parent == parent)
		return &it->second;
	if (it != d->children.end())
		Unstack(d, it->second.parent, window);
	Child &child = d->children[window];
	child = Child{};
	child.parent = parent;
	child.screen = static_cast<size_t>(number);
	RaiseToTop(d, parent, window);
	return &child;
}

// The root's own ConfigureNotify: the screen has a new size.
bool ScreenResized(X11Display *d, const xcb_configure_notify_event_t *e)
{
	if (e->event != e->window)
		return false;
	for (Screen &screen : d->screens) {
		if (screen.root == e->window) {
			screen.width = e->width;
			screen.height = e->height;
			d->stacks_changed = true;
		}
	}
	return true;
}

// What SubstructureNotify on the roots and overlay windows says about their
// children: where they are, whether they are mapped, and their stacking
// order (a new window starts on top).
void ChildChanged(X11Display *d, const xcb_generic_event_t *event)
{
	switch (event->response_type & 0x7F) {
	case XCB_CREATE_NOTIFY: {
		const auto *e = reinterpret_cast<const xcb_create_notify_event_t *>(event);
		if (Child *c = ChildOf(d, e->parent, e->window))
			*c = {c->parent, c->screen, e->x, e->y, e->width, e->height,
			      e->override_redirect != 0, false};
		break;
	}
	case XCB_CONFIGURE_NOTIFY: {
		const auto *e = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
		if (ScreenResized(d, e))
			break;
		if (Child *c = ChildOf(d, e->event, e->window)) {
			c->x = e->x;
			c->y = e->y;
			c->width = e->width;
			c->height = e->height;
			c->override_redirect = e->override_redirect != 0;
			Restack(d, e->event, e->window, e->above_sibling);
		}
		break;
	}
	case XCB_CIRCULATE_NOTIFY: {
		const auto *e = reinterpret_cast<const xcb_circulate_notify_event_t *>(event);
		if (ChildOf(d, e->event, e->window)) {
			if (e->place == XCB_PLACE_ON_TOP)
				RaiseToTop(d, e->event, e->window);
			else
				Restack(d, e->event, e->window, XCB_NONE);
		}
		break;
	}
	case XCB_MAP_NOTIFY: {
		const auto *e = reinterpret_cast<const xcb_map_notify_event_t *>(event);
		if (Child *c = ChildOf(d, e->event, e->window)) {
			c->override_redirect = e->override_redirect != 0;
			c->mapped = true;
			d->stacks_changed = true;
		}
		break;
	}
	case XCB_UNMAP_NOTIFY: {
		const auto *e = reinterpret_cast<const xcb_unmap_notify_event_t *>(event);
		if (Child *c = ChildOf(d, e->event, e->window)) {
			c->mapped = false;
			d->stacks_changed = true;
		}
		break;
	}
	case XCB_REPARENT_NOTIFY: {
		// Into a window manager's frame: no child of the root any more.
		// Back to the root: on top, its size known at its next configure.
		const auto *e = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
		const auto it = d->children.find(e->window);
		if (it != d->children.end() && it->second.parent != e->parent) {
			Unstack(d, it->second.parent, e->window);
			d->children.erase(it);
		}
		if (Child *c = ChildOf(d, e->parent, e->window)) {
			c->x = e->x;
			c->y = e->y;
			c->override_redirect = e->override_redirect != 0;
		}
		break;
	}
	default:
		break;
	}
}

void HandleEvent(X11Display *d, const xcb_generic_event_t *event)
{
	switch (event->response_type & 0x7F) {
	case XCB_PROPERTY_NOTIFY:
		PropertyChanged(d, reinterpret_cast<const xcb_property_notify_event_t *>(event));
		break;
	case XCB_CREATE_NOTIFY:
		Retire(d, reinterpret_cast<const xcb_create_notify_event_t *>(event)->window);
		ChildChanged(d, event);
		break;
	case XCB_DESTROY_NOTIFY:
		WindowDestroyed(d, reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
		break;
	default:
		// Errors of requests without a reply are dropped here too.
		ChildChanged(d, event);
		break;
	}
}

// Handles the events that have been read with the replies; reads nothing.
void DrainEvents(X11Display *d)
{
	while (xcb_generic_event_t *event = xcb_poll_for_queued_event(d->conn)) {
		HandleEvent(d, event);
		std::free(event);
	}
}

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
// Its destruction is watched from then on.
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
	if (check != XCB_NONE) {
		const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
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

bool OnScreen(const Child &c, const Screen &s)
{
	return c.x < s.width && c.y < s.height && c.x + static_cast<int64_t>(c.width) > 0 &&
	       c.y + static_cast<int64_t>(c.height) > 0;
}

bool CoversScreen(const Child &c, const Screen &s)
{
	return c.x <= 0 && c.y <= 0 && c.x + static_cast<int64_t>(c.width) >= s.width &&
	       c.y + static_cast<int64_t>(c.height) >= s.height;
}

// Whether the window draws anything: an InputOnly window (mutter's guard
// window) shows nothing. Asked of the server once per window.
bool Drawn(X11Display *d, xcb_window_t window, Child &c)
{
	if (c.kind == Child::Kind::Unknown) {
		Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
			d->conn, xcb_get_window_attributes(d->conn, window), nullptr));
		if (!attributes)
			return false; // gone meanwhile
		c.kind = attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY ? Child::Kind::InputOnly
									    : Child::Kind::InputOutput;
	}
	return c.kind == Child::Kind::InputOutput;
}

// The topmost child of `parent` (a root or the overlay window) that a
// person sees on the screen: mapped, drawn and on the screen. The overlay
// window is passed over (what it shows is looked for inside it), and so are
// the compositing manager's own windows inside it, which only show the
// windows below: those of the client that holds the compositing-manager
// selection, and any that is no override-redirect window (mutter draws in
// a child of the overlay window from another connection than the one that
// would hold the selection, and holds none under Xvfb).
Child *TopSeen(X11Display *d, const Screen &s, xcb_window_t parent, xcb_window_t *top)
{
	const auto stack = d->stacks.find(parent);
	if (stack == d->stacks.end())
		return nullptr;
	for (auto it = stack->second.rbegin(); it != stack->second.rend(); ++it) {
		const auto child = d->children.find(*it);
		if (child == d->children.end() || *it == s.overlay)
			continue;
		Child &c = child->second;
		if (!c.mapped || !OnScreen(c, s))
			continue;
		if (parent == s.overlay &&
		    (!c.override_redirect || (*it & d->client_mask) == s.compositor))
			continue;
		if (Drawn(d, *it, c)) {
			*top = *it;
			return &c;
		}
	}
	return nullptr;
}

// Takes `overlay` as the screen's overlay window: its children are followed
// from now on. `owner` holds the compositing-manager selection.
void AdoptOverlay(X11Display *d, Screen &s, xcb_window_t overlay, xcb_window_t owner)
{
	s.overlay = overlay;
	s.compositor = owner == XCB_NONE ? 0 : owner & d->client_mask;
	const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
	xcb_change_window_attributes(d->conn, overlay, XCB_CW_EVENT_MASK, &mask);
	ReadChildren(d, {{overlay, static_cast<size_t>(s.number)}});
}

void FindOverlays(X11Display *d, const std::vector<xcb_get_selection_owner_cookie_t> &owners)
{
	std::vector<xcb_window_t> owner;
	for (const xcb_get_selection_owner_cookie_t &cookie : owners) {
		Reply<xcb_get_selection_owner_reply_t> reply(
			xcb_get_selection_owner_reply(d->conn, cookie, nullptr));
		owner.push_back(reply ? reply->owner : XCB_NONE);
	}
	if (std::all_of(owner.begin(), owner.end(), [](xcb_window_t w) { return w == XCB_NONE; }))
		return;
	const xcb_query_extension_reply_t *composite = xcb_get_extension_data(d->conn, &xcb_composite_id);
	if (!composite || !composite->present)
		return;
	Reply<xcb_composite_query_version_reply_t> version(xcb_composite_query_version_reply(
		d->conn, xcb_composite_query_version(d->conn, 0, 4), nullptr));
	if (!version || (version->major_version == 0 && version->minor_version < 3))
		return;
	for (size_t i = 0; i < d->screens.size(); ++i) {
		Screen &s = d->screens[i];
		if (owner[i] == XCB_NONE)
			continue;
		Reply<xcb_composite_get_overlay_window_reply_t> overlay(
			xcb_composite_get_overlay_window_reply(
				d->conn, xcb_composite_get_overlay_window(d->conn, s.root), nullptr));
		xcb_composite_release_overlay_window(d->conn, s.root);
		if (!overlay)
			continue;
		Child *c = ChildOf(d, s.root, overlay->overlay_win);
		c->width = s.width;
		c->height = s.height;
		c->override_redirect = c->mapped = true;
		c->kind = Child::Kind::InputOutput;
		c->listed = Child::Listed::No;
		AdoptOverlay(d, s, overlay->overlay_win, owner[i]);
	}
}

// A compositing manager started after the connection: its overlay window
// came as a new, mapped, screen-sized child of the root, which QueryTree
// does not list. Asked only while such a child has not been checked.
void FindNewOverlay(X11Display *d, Screen &s)
{
	if (s.overlay != XCB_NONE)
		return;
	const auto unchecked = [&](xcb_window_t w) {
		const Child &c = d->children[w];
		return c.listed == Child::Listed::Unknown && c.mapped && c.override_redirect &&
		       CoversScreen(c, s);
	};
	const std::vector<xcb_window_t> &stack = d->stacks[s.root];
	if (std::none_of(stack.begin(), stack.end(), unchecked))
		return;
	const xcb_get_selection_owner_cookie_t owner_cookie =
		xcb_get_selection_owner(d->conn, s.cm_selection);
	Reply<xcb_query_tree_reply_t> tree(
		xcb_query_tree_reply(d->conn, xcb_query_tree(d->conn, s.root), nullptr));
	Reply<xcb_get_selection_owner_reply_t> owner(
		xcb_get_selection_owner_reply(d->conn, owner_cookie, nullptr));
	if (!tree)
		return;
	// The windows gone before the answer leave the stack first.
	DrainEvents(d);
	const xcb_window_t *children = xcb_query_tree_children(tree.get());
	std::vector<xcb_window_t> listed(children, children + xcb_query_tree_children_length(tree.get()));
	std::sort(listed.begin(), listed.end());
	xcb_window_t overlay = XCB_NONE;
	for (const xcb_window_t w : d->stacks[s.root]) {
		Child &c = d->children[w];
		if (c.listed != Child::Listed::Unknown)
			continue;
		const bool seen = std::binary_search(listed.begin(), listed.end(), w);
		if (!seen && unchecked(w))
			overlay = w;
		c.listed = seen ? Child::Listed::Yes : Child::Listed::No;
	}
	if (overlay != XCB_NONE)
		AdoptOverlay(d, s, overlay, owner ? owner->owner : XCB_NONE);
}

// The screen locker: the topmost window a person sees, when it is an
// override-redirect window and covers the screen, whether a child of the
// root or drawn inside the overlay window; XCB_NONE when there is none.
// Asks the server only about windows not seen before.
xcb_window_t ScreenLocker(X11Display *d, Screen &s)
{
	FindNewOverlay(d, s);
	d->stacks_changed = false;
	xcb_window_t top = XCB_NONE;
	const auto overlay = d->children.find(s.overlay);
	if (overlay != d->children.end() && overlay->second.mapped) {
		// Above every other window: what it holds hides them all.
		if (const Child *c = TopSeen(d, s, s.overlay, &top))
			return CoversScreen(*c, s) ? top : XCB_NONE;
	}
	const Child *c = TopSeen(d, s, s.root, &top);
	return c && c->override_redirect && CoversScreen(*c, s) ? top : XCB_NONE;
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

// A text property's value in UTF-8; empty for a type that is no text.
std::string TextValue(const X11Display *d, const xcb_get_property_reply_t *property)
{
	auto *reply = const_cast<xcb_get_property_reply_t *>(property);
	const std::string_view value(static_cast<const char *>(xcb_get_property_value(reply)),
				     static_cast<size_t>(xcb_get_property_value_length(reply)));
	if (property->type == d->ewmh.UTF8_STRING)
		return std::string(value);
	if (property->type == d->compound_text)
		return text::CompoundTextToUtf8(value);
	if (property->type == XCB_ATOM_STRING)
		return text::Latin1ToUtf8(value);
	return std::string();
}

bool HasText(const xcb_get_property_reply_t *name)
{
	return name && name->format == 8 &&
	       xcb_get_property_value_length(const_cast<xcb_get_property_reply_t *>(name)) > 0;
}

// _NET_WM_NAME, else WM_NAME, both asked for at once. Reads enough bytes for
// max_count units: one unit never takes more than three bytes of UTF-8.
// COMPOUND_TEXT may spend any number of bytes on switching character sets,
// so a longer one is read again whole.
std::u16string ReadTitle(X11Display *d, xcb_window_t window, int max_count)
{
	const uint64_t wanted = (static_cast<uint64_t>(max_count) * 3 + 3) / 4 + 16;
	const uint32_t kMaxLongs = 1u << 20;
	const uint32_t longs = static_cast<uint32_t>(wanted < kMaxLongs ? wanted : kMaxLongs);
	const xcb_get_property_cookie_t net_cookie = xcb_get_property(
		d->conn, 0, window, d->ewmh._NET_WM_NAME, d->ewmh.UTF8_STRING, 0, longs);
	const xcb_get_property_cookie_t icccm_cookie = xcb_get_property(
		d->conn, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
	Reply<xcb_get_property_reply_t> net(xcb_get_property_reply(d->conn, net_cookie, nullptr));
	Reply<xcb_get_property_reply_t> icccm(xcb_get_property_reply(d->conn, icccm_cookie, nullptr));
	if (HasText(net.get()) && net->type == d->ewmh.UTF8_STRING)
		return text::Utf8ToUtf16(TextValue(d, net.get()));
	if (!HasText(icccm.get()))
		return {};
	if (icccm->type == d->compound_text && icccm->bytes_after > 0) {
		const uint64_t whole = (uint64_t{icccm->value_len} + icccm->bytes_after + 3) / 4;
		icccm.reset(xcb_get_property_reply(
			d->conn,
			xcb_get_property(d->conn, 0, window, XCB_ATOM_WM_NAME, d->compound_text, 0,
					 static_cast<uint32_t>(std::min<uint64_t>(whole, kMaxLongs))),
			nullptr));
		if (!HasText(icccm.get()))
			return {};
	}
	return text::Utf8ToUtf16(TextValue(d, icccm.get()));
}

// WM_CLIENT_MACHINE, in any text type, names this machine.
bool IsThisMachine(const X11Display *d, const xcb_get_property_reply_t *machine)
{
	if (!HasText(machine))
		return false;
	std::string name = TextValue(d, machine);
	name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
	return !name.empty() && strcasecmp(name.c_str(), d->host.c_str()) == 0;
}

// The pid the server knows for the client that created the window (local
// clients only: the host's pid, also for a client in a PID namespace of
// its own); 0 when it knows none.
uint32_t ResourcePid(X11Display *d, xcb_res_query_client_ids_cookie_t cookie)
{
	Reply<xcb_res_query_client_ids_reply_t> ids(
		xcb_res_query_client_ids_reply(d->conn, cookie, nullptr));
	if (!ids)
		return 0;
	// Only the local-client-pid kind was asked for, so each answer is one.
	for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem > 0;
	     xcb_res_client_id_value_next(&it)) {
		if (xcb_res_client_id_value_value_length(it.data) == 1)
			return *xcb_res_client_id_value_value(it.data);
	}
	return 0;
}

// The window's owner, everything asked for at once: the X-Resource
// extension's pid for its client first, which no client can misstate; then
// _NET_WM_PID, which a sandboxed client gives from inside its namespace and
// a remote one from another machine, so only for a client of this machine
// that the extension knows no pid for. 0 when the window does not exist
// (the extension answers for any id in a client's range, window or not).
uint32_t ReadOwner(X11Display *d, xcb_window_t window)
{
	const xcb_get_property_cookie_t pid_cookie = xcb_ewmh_get_wm_pid(&d->ewmh, window);
	const xcb_get_property_cookie_t machine_cookie = xcb_get_property(
		d->conn, 0, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, 0, 64);
	xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
	xcb_res_query_client_ids_cookie_t res_cookie{};
	if (d->resource_pids)
		res_cookie = xcb_res_query_client_ids(d->conn, 1, &query);
	Reply<xcb_get_property_reply_t> pid(xcb_get_property_reply(d->conn, pid_cookie, nullptr));
	Reply<xcb_get_property_reply_t> machine(
		xcb_get_property_reply(d->conn, machine_cookie, nullptr));
	const uint32_t resource_pid = d->resource_pids ? ResourcePid(d, res_cookie) : 0;
	if (!pid)
		return 0;
	if (resource_pid != 0)
		return resource_pid;
	if (pid->type == XCB_ATOM_CARDINAL && pid->format == 32 &&
	    xcb_get_property_value_length(pid.get()) >= 4 && IsThisMachine(d, machine.get()))
		return *static_cast<const uint32_t *>(xcb_get_property_value(pid.get()));
	return 0;
}

} // namespace

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

int WindowTitle(WindowHandle window, char16_t *buffer, int max_count)
{
	if (!buffer || max_count < 1)
		return 0;
	buffer[0] = 0;
	X11Display *d = LiveConnection();
	const xcb_window_t id = d ? WindowOf(d, window) : XCB_NONE;
	if (id == XCB_NONE)
		return 0;
	return text::CopyTerminated(ReadTitle(d, id, max_count), buffer, max_count);
}

uint32_t WindowProcessId(WindowHandle window)
{
	X11Display *d = LiveConnection();
	const xcb_window_t id = d ? WindowOf(d, window) : XCB_NONE;
	return id == XCB_NONE ? 0 : ReadOwner(d, id);
}

uint32_t HostedWindowProcessId(WindowHandle)
{
	return 0;
}

std::string WindowSystemUnavailable()
{
	return Connection() ? std::string() : connect_error;
}

bool WindowSystemLost()
{
	X11Display *d = Connection();
	return !d || xcb_connection_has_error(d->conn) != 0;
}

} // namespace platform
