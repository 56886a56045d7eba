// vorlix-test-windows: opens and drives top-level X windows for tests.
//
// Reads one command a line on standard input and answers each with one line
// on standard output (flushed), so a test can wait for the answer. Window ids
// are decimal. On start it prints "ready <pid>"; errors read "error <text>".
//
//   open TITLE             a window titled TITLE (the rest of the line, UTF-8,
//                          may be empty) in _NET_WM_NAME and WM_NAME (both
//                          UTF8_STRING), with _NET_WM_PID    -> "window <id>"
//   open-nopid TITLE       the same without _NET_WM_PID      -> "window <id>"
//   open-pid PID TITLE     the same with _NET_WM_PID = PID   -> "window <id>"
//   open-latin1 TITLE      WM_NAME only, type STRING, TITLE in Latin-1
//                          (characters above U+00FF become '?'); neither
//                          _NET_WM_NAME nor _NET_WM_PID      -> "window <id>"
//   open-raw TYPE HEX      WM_NAME only, of property type TYPE (an atom name,
//                          e.g. COMPOUND_TEXT), bytes HEX ("-" for none); no
//                          _NET_WM_PID                       -> "window <id>"
//   many N PREFIX          N windows "PREFIX 1" .. "PREFIX N" as by open
//                                                   -> "windows <id> <id> ..."
//   rename ID TITLE        sets both names of window ID      -> "renamed <id>"
//   activate ID            asks the window manager to activate ID (a
//                          _NET_ACTIVE_WINDOW client message, source "pager")
//                          and waits up to 5 s for the root's
//                          _NET_ACTIVE_WINDOW to follow
//                                         -> "active <id>" or "not-active <id>"
//   fullscreen ID          asks the window manager to show ID over the whole
//                          screen (_NET_WM_STATE) and waits up to 5 s until
//                          its frame covers the screen
//                                 -> "fullscreen <id>" or "not-fullscreen <id>"
//   close ID               destroys ID                       -> "closed <id>"
//   churn MS RATE          for MS milliseconds opens RATE windows a second,
//                          each destroyed again soon (at most 16 alive at
//                          once); the line is read only after -> "churned <n>"
//   cover-below TITLE      an override-redirect window over the whole screen,
//                          lowered below every other window (a wallpaper)
//                                                            -> "window <id>"
//   cover-input-only TITLE an InputOnly override-redirect window over the
//                          whole screen, on top of every other window
//                                                            -> "window <id>"
//   cm-owner               the owner of the compositing-manager selection
//                          _NET_WM_CM_S<screen>, 0 for none   -> "owner <id>"
//   sync                   once the server has handled all before -> "synced"
//   quit, or end of input  destroys its windows and exits 0
//
// Windows open mapped; open answers once the window is viewable and, under a
// window manager, listed in the root's _NET_CLIENT_LIST.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

xcb_connection_t *conn;
xcb_window_t root;
std::vector<xcb_window_t> owned;

xcb_atom_t Atom(const char *name)
{
	xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
		conn, xcb_intern_atom(conn, 0, strlen(name), name), nullptr);
	const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
	free(reply);
	return atom;
}

void Answer(const std::string &line)
{
	std::cout << line << std::endl;
}

void DropEvents()
{
	while (xcb_generic_event_t *event = xcb_poll_for_event(conn))
		free(event);
}

void Sync()
{
	free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
	DropEvents();
}

// Waits up to 5 s, checking every 10 ms.
template <typename Check> bool WaitUntil(Check check)
{
	const auto deadline = Clock::now() + std::chrono::seconds(5);
	while (!check()) {
		if (Clock::now() > deadline)
			return false;
		DropEvents();
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return true;
}

std::vector<uint32_t> RootWindowList(const char *property)
{
	std::vector<uint32_t> values;
	xcb_get_property_reply_t *reply = xcb_get_property_reply(
		conn, xcb_get_property(conn, 0, root, Atom(property), XCB_ATOM_WINDOW, 0, 1 << 16),
		nullptr);
	if (reply && reply->format == 32) {
		const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(reply));
		values.assign(v, v + xcb_get_property_value_length(reply) / 4);
	}
	free(reply);
	return values;
}

bool HasWindowManager()
{
	return !RootWindowList("_NET_SUPPORTING_WM_CHECK").empty();
}

bool Listed(xcb_window_t window)
{
	for (const uint32_t w : RootWindowList("_NET_CLIENT_LIST"))
		if (w == window)
			return true;
	return false;
}

bool Viewable(xcb_window_t window)
{
	xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(
		conn, xcb_get_window_attributes(conn, window), nullptr);
	const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
	free(a);
	return viewable;
}

void SetProperty(xcb_window_t window, const char *name, xcb_atom_t type,
		 uint8_t format, const void *data, size_t units)
{
	xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, Atom(name), type,
			    format, static_cast<uint32_t>(units), data);
}

void SetUtf8Names(xcb_window_t window, const std::string &title)
{
	const xcb_atom_t utf8 = Atom("UTF8_STRING");
	SetProperty(window, "_NET_WM_NAME", utf8, 8, title.data(), title.size());
	SetProperty(window, "WM_NAME", utf8, 8, title.data(), title.size());
}

void SetPid(xcb_window_t window, uint32_t pid)
{
	char host[256] = {};
	gethostname(host, sizeof(host) - 1);
	// _NET_WM_PID means something only beside WM_CLIENT_MACHINE.
	SetProperty(window, "WM_CLIENT_MACHINE", XCB_ATOM_STRING, 8, host, strlen(host));
	SetProperty(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, &pid, 1);
}

xcb_window_t CreateWindow()
{
	const xcb_window_t window = xcb_generate_id(conn);
	xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, root, 10, 10, 200, 100, 0,
			  XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
	static const char wm_class[] = "vorlix-test-windows\0VorlixTestWindows";
	SetProperty(window, "WM_CLASS", XCB_ATOM_STRING, 8, wm_class, sizeof(wm_class));
	owned.push_back(window);
	return window;
}

bool WaitShown(const std::vector<xcb_window_t> &windows)
{
	const bool managed = HasWindowManager();
	for (const xcb_window_t w : windows) {
		if (!WaitUntil([&] { return Viewable(w) && (!managed || Listed(w)); }))
			return false;
	}
	return true;
}

void MapAndAnswer(xcb_window_t window)
{
	xcb_map_window(conn, window);
	xcb_flush(conn);
	if (WaitShown({window}))
		Answer("window " + std::to_string(window));
	else
		Answer("error window " + std::to_string(window) + " was not shown");
}

std::string Latin1(const std::string &utf8)
{
	std::string out;
	for (size_t i = 0; i < utf8.size();) {
		const unsigned char lead = static_cast<unsigned char>(utf8[i]);
		const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
		uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
		for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
			c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
		out += c <= 0xFF ? static_cast<char>(c) : '?';
		i += length;
	}
	return out;
}

bool FromHex(const std::string &hex, std::string &bytes)
{
	if (hex == "-")
		return true;
	if (hex.size() % 2)
		return false;
	for (size_t i = 0; i < hex.size(); i += 2) {
		char *end = nullptr;
		const std::string pair = hex.substr(i, 2);
		const long value = strtol(pair.c_str(), &end, 16);
		if (*end)
			return false;
		bytes += static_cast<char>(value);
	}
	return true;
}

// An EWMH client message about `window`, sent to the root for the window
// manager.
void AskWindowManager(xcb_window_t window, const char *type, std::vector<uint32_t> data)
{
	xcb_client_message_event_t message = {};
	message.response_type = XCB_CLIENT_MESSAGE;
	message.format = 32;
	message.window = window;
	message.type = Atom(type);
	std::copy(data.begin(), data.end(), message.data.data32);
	xcb_send_event(conn, 0, root,
		       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
		       reinterpret_cast<const char *>(&message));
	xcb_flush(conn);
}

void Activate(xcb_window_t window)
{
	// Source: a pager, which the window manager obeys.
	AskWindowManager(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME});
	const bool active = WaitUntil([&] {
		const std::vector<uint32_t> a = RootWindowList("_NET_ACTIVE_WINDOW");
		return !a.empty() && a[0] == window;
	});
	Answer((active ? "active " : "not-active ") + std::to_string(window));
}

// The window's top-level ancestor (its frame) covers the root.
bool CoversRoot(xcb_window_t window)
{
	xcb_window_t top = window;
	for (int depth = 0; depth < 16; ++depth) {
		xcb_query_tree_reply_t *tree =
			xcb_query_tree_reply(conn, xcb_query_tree(conn, top), nullptr);
		const xcb_window_t parent = tree ? tree->parent : XCB_NONE;
		free(tree);
		if (parent == XCB_NONE || parent == root)
			break;
		top = parent;
	}
	xcb_get_geometry_reply_t *frame =
		xcb_get_geometry_reply(conn, xcb_get_geometry(conn, top), nullptr);
	xcb_get_geometry_reply_t *screen =
		xcb_get_geometry_reply(conn, xcb_get_geometry(conn, root), nullptr);
	const bool covers = frame && screen && frame->x <= 0 && frame->y <= 0 &&
			    frame->x + frame->width >= screen->width &&
			    frame->y + frame->height >= screen->height;
	free(frame);
	free(screen);
	return covers;
}

void Fullscreen(xcb_window_t window)
{
	// Add the state, as a pager asks.
	AskWindowManager(window, "_NET_WM_STATE", {1, Atom("_NET_WM_STATE_FULLSCREEN"), 0, 2});
	const bool covers = WaitUntil([&] { return CoversRoot(window); });
	Answer((covers ? "fullscreen " : "not-fullscreen ") + std::to_string(window));
}

void Close(xcb_window_t window)
{
	xcb_destroy_window(conn, window);
	Sync();
	Answer("closed " + std::to_string(window));
}

void Churn(long ms, long rate)
{
	const auto end = Clock::now() + std::chrono::milliseconds(ms);
	const auto step = std::chrono::microseconds(rate > 0 ? 1000000 / rate : 0);
	std::deque<xcb_window_t> alive;
	long count = 0;
	for (auto next = Clock::now(); Clock::now() < end; next += step) {
		const xcb_window_t w = xcb_generate_id(conn);
		xcb_create_window(conn, XCB_COPY_FROM_PARENT, w, root, 0, 0, 50, 50, 0,
				  XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
		SetUtf8Names(w, "churn " + std::to_string(++count));
		SetPid(w, static_cast<uint32_t>(getpid()));
		xcb_map_window(conn, w);
		alive.push_back(w);
		if (alive.size() > 16) {
			xcb_destroy_window(conn, alive.front());
			alive.pop_front();
		}
		xcb_flush(conn);
		DropEvents();
		std::this_thread::sleep_until(next + step);
	}
	for (const xcb_window_t w : alive)
		xcb_destroy_window(conn, w);
	Sync();
	Answer("churned " + std::to_string(count));
}

void OpenMany(long n, const std::string &prefix)
{
	std::vector<xcb_window_t> windows;
	for (long i = 1; i <= n; ++i) {
		const xcb_window_t w = CreateWindow();
		SetUtf8Names(w, prefix + " " + std::to_string(i));
		SetPid(w, static_cast<uint32_t>(getpid()));
		xcb_map_window(conn, w);
		windows.push_back(w);
	}
	xcb_flush(conn);
	if (!WaitShown(windows)) {
		Answer("error not all windows were shown");
		return;
	}
	std::string line = "windows";
	for (const xcb_window_t w : windows)
		line += " " + std::to_string(w);
	Answer(line);
}

// The rest of the line after `count` space-separated words.
std::string Rest(const std::string &line, int count)
{
	size_t pos = 0;
	for (int i = 0; i < count; ++i) {
		pos = line.find(' ', pos);
		if (pos == std::string::npos)
			return "";
		++pos;
	}
	return line.substr(pos);
}

// The open commands; false if `verb` is none of them.
bool OpenCommand(const std::string &verb, std::istringstream &words, const std::string &line)
{
	if (verb == "open" || verb == "open-nopid" || verb == "open-pid") {
		uint32_t pid = static_cast<uint32_t>(getpid());
		if (verb == "open-pid")
			words >> pid;
		const xcb_window_t w = CreateWindow();
		SetUtf8Names(w, Rest(line, verb == "open-pid" ? 2 : 1));
		if (verb != "open-nopid")
			SetPid(w, pid);
		MapAndAnswer(w);
	} else if (verb == "open-latin1") {
		const xcb_window_t w = CreateWindow();
		const std::string title = Latin1(Rest(line, 1));
		SetProperty(w, "WM_NAME", XCB_ATOM_STRING, 8, title.data(), title.size());
		MapAndAnswer(w);
	} else if (verb == "open-raw") {
		std::string type, hex, bytes;
		words >> type >> hex;
		if (!FromHex(hex, bytes)) {
			Answer("error bad hex " + hex);
			return true;
		}
		const xcb_window_t w = CreateWindow();
		SetProperty(w, "WM_NAME", Atom(type.c_str()), 8, bytes.data(), bytes.size());
		MapAndAnswer(w);
	} else if (verb == "many") {
		long n = 0;
		words >> n;
		OpenMany(n, Rest(line, 2));
	} else {
		return false;
	}
	return true;
}

// An override-redirect window over the whole screen: drawn and lowered
// below every other window, or InputOnly on top of them.
void Cover(bool drawn, const std::string &title)
{
	xcb_get_geometry_reply_t *size =
		xcb_get_geometry_reply(conn, xcb_get_geometry(conn, root), nullptr);
	const xcb_window_t w = xcb_generate_id(conn);
	const uint32_t override_redirect = 1;
	xcb_create_window(conn, drawn ? XCB_COPY_FROM_PARENT : 0, w, root, 0, 0,
			  size ? size->width : 1, size ? size->height : 1, 0,
			  drawn ? XCB_WINDOW_CLASS_INPUT_OUTPUT : XCB_WINDOW_CLASS_INPUT_ONLY,
			  XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &override_redirect);
	free(size);
	owned.push_back(w);
	SetUtf8Names(w, title);
	xcb_map_window(conn, w);
	const uint32_t stack = drawn ? XCB_STACK_MODE_BELOW : XCB_STACK_MODE_ABOVE;
	xcb_configure_window(conn, w, XCB_CONFIG_WINDOW_STACK_MODE, &stack);
	xcb_flush(conn);
	if (WaitUntil([&] { return Viewable(w); }))
		Answer("window " + std::to_string(w));
	else
		Answer("error window " + std::to_string(w) + " was not shown");
}

void CompositorOwner()
{
	int number = 0;
	for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
	     it.rem > 0 && it.data->root != root; xcb_screen_next(&it))
		++number;
	const std::string name = "_NET_WM_CM_S" + std::to_string(number);
	xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
		conn, xcb_get_selection_owner(conn, Atom(name.c_str())), nullptr);
	Answer("owner " + std::to_string(owner ? owner->owner : 0));
	free(owner);
}

// Runs one command line; false once asked to quit.
bool Command(const std::string &line)
{
	std::istringstream words(line);
	std::string verb;
	words >> verb;
	xcb_window_t w = 0;
	if (OpenCommand(verb, words, line))
		return true;
	if (verb == "rename") {
		words >> w;
		SetUtf8Names(w, Rest(line, 2));
		Sync();
		Answer("renamed " + std::to_string(w));
	} else if (verb == "activate" && words >> w) {
		Activate(w);
	} else if (verb == "fullscreen" && words >> w) {
		Fullscreen(w);
	} else if (verb == "close" && words >> w) {
		Close(w);
	} else if (verb == "churn") {
		long ms = 0, rate = 0;
		words >> ms >> rate;
		Churn(ms, rate);
	} else if (verb == "cover-below") {
		Cover(true, Rest(line, 1));
	} else if (verb == "cover-input-only") {
		Cover(false, Rest(line, 1));
	} else if (verb == "cm-owner") {
		CompositorOwner();
	} else if (verb == "sync") {
		Sync();
		Answer("synced");
	} else if (verb == "quit") {
		return false;
	} else {
		Answer("error bad command: " + line);
	}
	return true;
}

} // namespace

int main()
{
	int screen = 0;
	conn = xcb_connect(nullptr, &screen);
	if (xcb_connection_has_error(conn)) {
		Answer("error cannot open display");
		return 1;
	}
	xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
	for (int i = 0; i < screen; ++i)
		xcb_screen_next(&it);
	root = it.data->root;
	Answer("ready " + std::to_string(getpid()));

	std::string line;
	while (std::getline(std::cin, line) && Command(line)) {
	}
	for (const xcb_window_t w : owned)
		xcb_destroy_window(conn, w);
	Sync();
	xcb_disconnect(conn);
	return 0;
}
