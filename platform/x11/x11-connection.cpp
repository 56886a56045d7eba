// The X connection, opened on first use, and window handles.
#include "platform/x11/x11-display.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>
#include <xcb/res.h>

namespace platform::x11 {

namespace {

X11Display *display = nullptr;
bool connect_tried = false;
std::string connect_error;

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

} // namespace

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

const std::string &ConnectError()
{
	return connect_error;
}

} // namespace platform::x11
