// The input hook on Linux. In a Wayland session the desktop itself tells
// the last input (GNOME's idle monitor, the compositor's idle
// notifications), through libvorlix-wayland.so, loaded from beside this
// library. Otherwise, or where the desktop tells none, the X server does.
//
// On X11 the last input is the last key press, button
// press, pointer motion or touch that the server reports as an XInput2 raw
// event, from any device (XTEST's included, as a remote desktop's input is
// a user's too). Raw events come from the devices themselves: screen-saver
// resets (xset s reset, XResetScreenSaver as video players call it while
// they play) and pointer warps make none, and a screen locker's grab does
// not hide the keys typed into it. A thread of the library's own waits for
// them and stamps each batch on the tick clock as it arrives, so a suspend
// never moves the time; GetLastActiveTime only reads that stamp.
//
// Input before the hook was set is known only from the MIT-SCREEN-SAVER
// extension's idle time, which seeds the stamp. A server without XInput2
// (or without the Generic Event extension that carries its events) gets
// that idle time throughout, and one log line says so. The hook keeps a
// connection of its own, so the program's window queries and this library
// never share state.
#include "hook/vorlix-hook.h"

#include <string>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#include <util/base.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include "platform/linux-session.h"

namespace {

struct Hook {
	xcb_connection_t *connection = nullptr;
	xcb_window_t root = XCB_NONE;
	bool saver = false;           // MIT-SCREEN-SAVER answers
	uint8_t raw_opcode = 0;       // XInput's major opcode; 0: no raw events
	std::atomic<int64_t> last{0}; // tick of the last input seen
	std::thread watcher;
	int wake[2] = {-1, -1}; // written to end the watcher
};

Hook *hook = nullptr;
const platform::wayland::DesktopApi *wayland = nullptr; // while it tells the input

// The program's tick counter (platform::TickCount64) reads this clock too;
// the two values are compared with each other.
int64_t TickNow()
{
	return platform::session::BootTickMilliseconds();
}

xcb_window_t DefaultRoot(xcb_connection_t *conn, int screen)
{
	xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
	for (int i = 0; it.rem > 0 && i < screen; ++i)
		xcb_screen_next(&it);
	return it.rem > 0 ? it.data->root : XCB_NONE;
}

// Milliseconds since the last input, or -1 when the server does not answer.
int64_t IdleMilliseconds(const Hook *h)
{
	xcb_screensaver_query_info_reply_t *info = xcb_screensaver_query_info_reply(
		h->connection, xcb_screensaver_query_info(h->connection, h->root), nullptr);
	if (!info)
		return -1;
	const int64_t idle = info->ms_since_user_input;
	std::free(info);
	return idle;
}

bool HasExtension(xcb_connection_t *conn, xcb_extension_t *extension)
{
	const xcb_query_extension_reply_t *reply = xcb_get_extension_data(conn, extension);
	return reply && reply->present;
}

// XInput2's events travel as generic events; xcb has no binding for the
// extension that carries them, so it is asked for by name.
bool HasGenericEvents(xcb_connection_t *conn)
{
	static const char kName[] = "Generic Event Extension";
	xcb_query_extension_reply_t *reply = xcb_query_extension_reply(
		conn, xcb_query_extension(conn, sizeof(kName) - 1, kName), nullptr);
	const bool present = reply && reply->present;
	std::free(reply);
	return present;
}

// Asks for raw input events of every device on the root (the server sends
// them to the roots only); XInput 2.2 has them all, touches included. The
// opcode the events will carry, 0 when the server cannot send them.
uint8_t SelectRawEvents(xcb_connection_t *conn, xcb_window_t root)
{
	if (!HasGenericEvents(conn) || !HasExtension(conn, &xcb_input_id))
		return 0;
	xcb_input_xi_query_version_reply_t *version = xcb_input_xi_query_version_reply(
		conn, xcb_input_xi_query_version(conn, 2, 2), nullptr);
	const bool new_enough = version && (version->major_version > 2 ||
					    (version->major_version == 2 && version->minor_version >= 2));
	std::free(version);
	if (!new_enough)
		return 0;
	struct {
		xcb_input_event_mask_t head;
		uint32_t mask;
	} select = {{XCB_INPUT_DEVICE_ALL, 1},
		    XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
			    XCB_INPUT_XI_EVENT_MASK_RAW_MOTION |
			    XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_BEGIN};
	xcb_generic_error_t *error = xcb_request_check(
		conn, xcb_input_xi_select_events_checked(conn, root, 1, &select.head));
	std::free(error);
	return error ? 0 : xcb_get_extension_data(conn, &xcb_input_id)->major_opcode;
}

// Raises the stamp, never lowers it: the watcher and GetLastActiveTime may
// both be handling events.
void Stamp(Hook *h, int64_t tick)
{
	int64_t seen = h->last.load();
	while (seen < tick && !h->last.compare_exchange_weak(seen, tick)) {
	}
}

// Handles the events that have arrived, without waiting for any; true if
// there was input among them.
bool DrainEvents(Hook *h)
{
	bool input = false;
	while (xcb_generic_event_t *event = xcb_poll_for_event(h->connection)) {
		const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event);
		input |= (event->response_type & 0x7F) == XCB_GE_GENERIC &&
			 generic->extension == h->raw_opcode;
		std::free(event);
	}
	if (input)
		Stamp(h, TickNow());
	return input;
}

// A moving mouse sends up to 1,000 events a second. After input the watcher
// rests this long, so that it wakes at most 10 times a second whatever the
// mouse sends: input that follows other input is stamped at most this late
// (the program counts in seconds), the first input after a pause as it
// arrives.
const int kRestAfterInputMs = 100;

// The watcher thread: wakes when the server has sent something, or when
// UnSetVorlixHook writes to the wake pipe; ends with the connection.
void Watch(Hook *h)
{
	pollfd fds[2] = {{xcb_get_file_descriptor(h->connection), POLLIN, 0},
			 {h->wake[0], POLLIN, 0}};
	for (;;) {
		const bool input = DrainEvents(h);
		if (xcb_connection_has_error(h->connection))
			return;
		if (input && poll(&fds[1], 1, kRestAfterInputMs) != 0)
			return; // asked to end (signals are blocked: no EINTR)
		if (poll(fds, 2, -1) < 0 && errno != EINTR)
			return;
		if (fds[1].revents != 0)
			return;
	}
}

void Stop()
{
	if (!hook)
		return;
	if (hook->watcher.joinable()) {
		const char byte = 0;
		while (write(hook->wake[1], &byte, 1) < 0 && errno == EINTR) {
		}
		hook->watcher.join();
	}
	for (const int fd : hook->wake)
		if (fd >= 0)
			close(fd);
	xcb_disconnect(hook->connection);
	delete hook;
	hook = nullptr;
}

// The watcher must be gone before the library's code is unmapped, should
// the program unload it with the hook still set.
struct StopAtUnload {
	~StopAtUnload() { Stop(); }
} stop_at_unload;

// Everything but the watcher; false if neither source of input answers.
bool Connect(Hook *h)
{
	int screen = 0;
	h->connection = xcb_connect(nullptr, &screen);
	if (xcb_connection_has_error(h->connection))
		return false;
	h->root = DefaultRoot(h->connection, screen);
	if (h->root == XCB_NONE)
		return false;
	h->saver = HasExtension(h->connection, &xcb_screensaver_id);
	const int64_t idle = h->saver ? IdleMilliseconds(h) : -1;
	h->saver = idle >= 0;
	h->last = h->saver ? TickNow() - idle : 0;
	h->raw_opcode = SelectRawEvents(h->connection, h->root);
	return h->raw_opcode != 0 || h->saver;
}

bool StartWatcher(Hook *h)
{
	if (pipe2(h->wake, O_CLOEXEC) != 0)
		return false;
	// The program's signals go to its own threads: the watcher starts with
	// them all blocked.
	sigset_t all, saved;
	sigfillset(&all);
	pthread_sigmask(SIG_BLOCK, &all, &saved);
	bool started = true;
	try {
		h->watcher = std::thread(Watch, h);
		// Named, so that top and the benchmark can tell it apart.
		pthread_setname_np(h->watcher.native_handle(), "vorlix-input");
	} catch (const std::system_error &) {
		started = false;
	}
	pthread_sigmask(SIG_SETMASK, &saved, nullptr);
	return started;
}

// Into the log of the program that loaded the library: its libobs is linked
// into the executable, which exports blog for this. A program without one
// gets the line on standard error.
void Log(int level, const std::string &text)
{
	using Blog = void (*)(int, const char *, ...);
	if (const auto log = reinterpret_cast<Blog>(dlsym(RTLD_DEFAULT, "blog")))
		log(level, "%s", text.c_str());
	else
		std::fprintf(stderr, "%s: %s\n", level == LOG_WARNING ? "warning" : "info",
			     text.c_str());
}

void LogWarning(const char *text)
{
	Log(LOG_WARNING, text);
}

// The Wayland desktop's sources, in a Wayland session; nullptr elsewhere or
// when the module beside this library cannot be loaded (said in the log).
const platform::wayland::DesktopApi *WaylandDesktop()
{
	if (!platform::session::IsWaylandSession())
		return nullptr;
	std::string why;
	const platform::wayland::DesktopApi *api = platform::session::LoadWaylandDesktop(&why);
	if (!api)
		Log(LOG_WARNING, "SetVorlixHook: " + why);
	return api;
}

// True when the Wayland desktop tells the input from now on.
bool SetWaylandHook()
{
	const platform::wayland::DesktopApi *api = WaylandDesktop();
	if (!api)
		return false;
	std::string why;
	if (!api->start_input(&why)) {
		Log(LOG_WARNING, "SetVorlixHook: this Wayland desktop tells no input (" + why +
					 "); only input into X programs, through XWayland, is seen");
		return false;
	}
	wayland = api;
	Log(LOG_INFO, std::string("SetVorlixHook: last input from ") + api->input_source());
	return true;
}

} // namespace

extern "C" int32_t SetVorlixHook(void)
{
	if (hook || wayland || SetWaylandHook())
		return 1;
	hook = new Hook;
	if (!Connect(hook) || (hook->raw_opcode != 0 && !StartWatcher(hook))) {
		Stop();
		return 0;
	}
	if (hook->raw_opcode == 0)
		LogWarning("SetVorlixHook: no XInput2 raw events on this display; the last "
			   "input is the screen saver's, which screen-saver resets and pointer "
			   "warps move too");
	return 1;
}

extern "C" int32_t UnSetVorlixHook(void)
{
	if (wayland) {
		wayland->stop_input();
		wayland = nullptr;
		return 1;
	}
	if (!hook)
		return 0;
	Stop();
	return 1;
}

extern "C" int64_t GetLastActiveTime(void)
{
	if (wayland)
		return wayland->last_input();
	if (!hook)
		return 0;
	if (hook->raw_opcode == 0) {
		const int64_t idle = IdleMilliseconds(hook);
		return idle < 0 ? 0 : TickNow() - idle;
	}
	// What has arrived since the watcher last woke counts already.
	DrainEvents(hook);
	return hook->last;
}
