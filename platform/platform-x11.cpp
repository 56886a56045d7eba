// Windows on X11, through xcb. One connection per process, opened on first
// use from $DISPLAY and kept until the process ends.
//
// With xcb a failed request only gives a missing reply, so a window that
// vanished between two requests, a missing property or an absent window
// manager all read as "nothing could be read". The foreground window and the
// window manager's client list are cached and refreshed from the root
// window's PropertyNotify events, drained without blocking before every
// answer: the answer is as current as the server's, and asking once per
// top-level window costs no round trip.
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include "platform/compound-text.h"
#include "platform/utf16-text.h"

namespace platform {

namespace {

struct X11Display {
	xcb_connection_t *conn = nullptr;
	int screen = 0;
	xcb_window_t root = XCB_NONE;
	xcb_ewmh_connection_t ewmh{};
	xcb_atom_t compound_text = XCB_NONE;
	bool resource_pids = false; // X-Resource 1.2: pids of local clients

	bool active_stale = true;
	xcb_window_t active = XCB_NONE;
	bool clients_stale = true;
	bool has_client_list = false; // false: no EWMH window manager
	std::vector<xcb_window_t> clients;
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

xcb_window_t RootOfScreen(xcb_connection_t *conn, int screen)
{
	xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
	for (int i = 0; it.rem > 0 && i < screen; ++i)
		xcb_screen_next(&it);
	return it.rem > 0 ? it.data->root : XCB_NONE;
}

// Sends every start-up request before collecting any reply: one round trip.
X11Display *Connect()
{
	int screen = 0;
	xcb_connection_t *conn = xcb_connect(nullptr, &screen);
	if (xcb_connection_has_error(conn)) {
		xcb_disconnect(conn);
		return nullptr;
	}
	auto *d = new X11Display;
	d->conn = conn;
	d->screen = screen;
	// Subscribe before the first read, so no change can fall between them.
	const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
	d->root = RootOfScreen(conn, screen);
	xcb_intern_atom_cookie_t *ewmh_cookies = xcb_ewmh_init_atoms(conn, &d->ewmh);
	xcb_change_window_attributes(conn, d->root, XCB_CW_EVENT_MASK, &mask);
	const xcb_intern_atom_cookie_t ctext =
		xcb_intern_atom(conn, 0, strlen("COMPOUND_TEXT"), "COMPOUND_TEXT");
	const xcb_query_extension_reply_t *res = xcb_get_extension_data(conn, &xcb_res_id);
	const bool res_present = res && res->present;
	xcb_res_query_version_cookie_t version{};
	if (res_present)
		version = xcb_res_query_version(conn, 1, 2);

	if (!xcb_ewmh_init_atoms_replies(&d->ewmh, ewmh_cookies, nullptr))
		d->root = XCB_NONE; // no atoms: nothing will be found, by design below
	d->compound_text = InternAtomReply(conn, ctext);
	d->resource_pids = res_present && HasResourcePids(conn, version);
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
	return d && d->root != XCB_NONE && !xcb_connection_has_error(d->conn) ? d : nullptr;
}

void DrainRootEvents(X11Display *d)
{
	while (xcb_generic_event_t *event = xcb_poll_for_event(d->conn)) {
		if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
			const auto *change = reinterpret_cast<xcb_property_notify_event_t *>(event);
			if (change->window == d->root &&
			    change->atom == d->ewmh._NET_ACTIVE_WINDOW)
				d->active_stale = true;
			if (change->window == d->root &&
			    change->atom == d->ewmh._NET_CLIENT_LIST)
				d->clients_stale = true;
		}
		std::free(event); // errors of requests sent without a reply, too
	}
}

void ReadActiveWindow(X11Display *d)
{
	xcb_window_t active = XCB_NONE;
	const xcb_get_property_cookie_t cookie =
		xcb_ewmh_get_active_window(&d->ewmh, d->screen);
	if (!xcb_ewmh_get_active_window_reply(&d->ewmh, cookie, &active, nullptr))
		active = XCB_NONE; // no EWMH window manager
	d->active = active;
	d->active_stale = false;
}

void ReadClientList(X11Display *d)
{
	xcb_ewmh_get_windows_reply_t list;
	const xcb_get_property_cookie_t cookie =
		xcb_ewmh_get_client_list(&d->ewmh, d->screen);
	d->has_client_list = xcb_ewmh_get_client_list_reply(&d->ewmh, cookie, &list, nullptr);
	d->clients.clear();
	if (d->has_client_list) {
		d->clients.assign(list.windows, list.windows + list.windows_len);
		xcb_ewmh_get_windows_reply_wipe(&list);
	}
	d->clients_stale = false;
}

bool ReadRootChildren(X11Display *d, std::vector<xcb_window_t> &windows)
{
	Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
		d->conn, xcb_query_tree(d->conn, d->root), nullptr));
	if (!tree)
		return false;
	const xcb_window_t *children = xcb_query_tree_children(tree.get());
	windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
	return true;
}

// X ids have 29 bits; anything wider is no window of ours.
bool IsWindowId(WindowHandle window)
{
	return window != 0 && window <= 0xFFFFFFFFu;
}

std::u16string DecodeName(const X11Display *d, const xcb_get_property_reply_t *name)
{
	const auto *bytes = static_cast<const char *>(
		xcb_get_property_value(const_cast<xcb_get_property_reply_t *>(name)));
	const std::string_view value(bytes, static_cast<size_t>(
		xcb_get_property_value_length(const_cast<xcb_get_property_reply_t *>(name))));
	if (name->type == d->ewmh.UTF8_STRING)
		return text::Utf8ToUtf16(value);
	if (name->type == d->compound_text)
		return text::Utf8ToUtf16(text::CompoundTextToUtf8(value));
	if (name->type == XCB_ATOM_STRING)
		return text::Utf8ToUtf16(text::Latin1ToUtf8(value));
	return {};
}

bool HasText(const xcb_get_property_reply_t *name)
{
	return name && name->format == 8 &&
	       xcb_get_property_value_length(const_cast<xcb_get_property_reply_t *>(name)) > 0;
}

// _NET_WM_NAME, else WM_NAME, both asked for at once. Reads enough bytes for
// max_count units: one unit never takes more than three bytes of UTF-8,
// and the slack covers COMPOUND_TEXT's escape sequences.
std::u16string ReadTitle(X11Display *d, xcb_window_t window, int max_count)
{
	const uint64_t wanted = (static_cast<uint64_t>(max_count) * 3 + 3) / 4 + 16;
	const uint32_t longs = static_cast<uint32_t>(wanted < (1u << 20) ? wanted : (1u << 20));
	const xcb_get_property_cookie_t net_cookie = xcb_get_property(
		d->conn, 0, window, d->ewmh._NET_WM_NAME, d->ewmh.UTF8_STRING, 0, longs);
	const xcb_get_property_cookie_t icccm_cookie = xcb_get_property(
		d->conn, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
	Reply<xcb_get_property_reply_t> net(xcb_get_property_reply(d->conn, net_cookie, nullptr));
	Reply<xcb_get_property_reply_t> icccm(xcb_get_property_reply(d->conn, icccm_cookie, nullptr));
	if (HasText(net.get()) && net->type == d->ewmh.UTF8_STRING)
		return DecodeName(d, net.get());
	if (HasText(icccm.get()))
		return DecodeName(d, icccm.get());
	return {};
}

// _NET_WM_PID: false if the window does not exist (then the X-Resource
// extension must not be asked: it answers for any id in a client's range,
// window or not); pid 0 when the window has no such property.
bool ReadNetWmPid(X11Display *d, xcb_window_t window, uint32_t &pid)
{
	pid = 0;
	const xcb_get_property_cookie_t cookie = xcb_ewmh_get_wm_pid(&d->ewmh, window);
	Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(d->conn, cookie, nullptr));
	if (!reply)
		return false;
	if (reply->type == XCB_ATOM_CARDINAL && reply->format == 32 &&
	    xcb_get_property_value_length(reply.get()) >= 4)
		pid = *static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
	return true;
}

// The pid the server knows for the client that created the window; only
// local clients have one.
uint32_t ResourcePid(X11Display *d, xcb_window_t window)
{
	if (!d->resource_pids)
		return 0;
	xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
	Reply<xcb_res_query_client_ids_reply_t> ids(xcb_res_query_client_ids_reply(
		d->conn, xcb_res_query_client_ids(d->conn, 1, &query), nullptr));
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

} // namespace

bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user)
{
	X11Display *d = LiveConnection();
	if (!d || !callback)
		return false;
	DrainRootEvents(d);
	if (d->clients_stale)
		ReadClientList(d);
	// A copy: the callback may ask again and so refresh the cached list.
	std::vector<xcb_window_t> windows = d->clients;
	if (!d->has_client_list && !ReadRootChildren(d, windows))
		return false;
	for (const xcb_window_t window : windows) {
		if (!callback(window, user))
			return false;
	}
	return true;
}

WindowHandle ForegroundWindow()
{
	X11Display *d = LiveConnection();
	if (!d)
		return 0;
	DrainRootEvents(d);
	if (d->active_stale)
		ReadActiveWindow(d);
	return d->active;
}

WindowHandle DesktopWindow()
{
	X11Display *d = LiveConnection();
	return d ? d->root : 0;
}

int WindowTitle(WindowHandle window, char16_t *buffer, int max_count)
{
	if (!buffer || max_count < 1)
		return 0;
	buffer[0] = 0;
	X11Display *d = LiveConnection();
	if (!d || !IsWindowId(window))
		return 0;
	const std::u16string title =
		ReadTitle(d, static_cast<xcb_window_t>(window), max_count);
	return text::CopyTerminated(title, buffer, max_count);
}

uint32_t WindowProcessId(WindowHandle window)
{
	X11Display *d = LiveConnection();
	if (!d || !IsWindowId(window))
		return 0;
	const auto id = static_cast<xcb_window_t>(window);
	uint32_t pid = 0;
	if (!ReadNetWmPid(d, id, pid))
		return 0;
	return pid ? pid : ResourcePid(d, id);
}

bool WindowSystemLost()
{
	X11Display *d = Connection();
	return !d || xcb_connection_has_error(d->conn) != 0;
}

} // namespace platform
