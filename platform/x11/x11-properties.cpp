// What a window says of itself: its title and its owner.
#include "platform/x11/x11-display.h"
#include "platform/x11/x11-windows.h"

#include <algorithm>
#include <cstring>

#include <strings.h>
#include <xcb/res.h>

#include "platform/compound-text.h"
#include "platform/utf16-text.h"

namespace platform::x11 {

namespace {

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

// ---- what the window layer asks of the X server (desktop-linux.cpp) ------

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

} // namespace platform::x11
