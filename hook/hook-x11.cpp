// The input hook on X11: the MIT-SCREEN-SAVER extension tells how long the
// server has seen no input from any keyboard or pointer; the last input is
// that long before now. The hook keeps a connection of its own, so the
// program's window queries and this library never share state.
#include "hook/vorlix-hook.h"

#include <cstdlib>

#include <time.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace {

xcb_connection_t *connection = nullptr;
xcb_window_t root = XCB_NONE;

// The program's tick counter (platform::TickCount64) reads the same clock
// with the same formula; the two values are compared with each other. The
// boot-time clock goes on while the machine sleeps, as GetTickCount64 does.
int64_t TickNow()
{
	struct timespec now;
	clock_gettime(CLOCK_BOOTTIME, &now);
	return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

xcb_window_t DefaultRoot(xcb_connection_t *conn, int screen)
{
	xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
	for (int i = 0; it.rem > 0 && i < screen; ++i)
		xcb_screen_next(&it);
	return it.rem > 0 ? it.data->root : XCB_NONE;
}

// Milliseconds since the last input, or -1 when the server does not answer.
int64_t IdleMilliseconds()
{
	xcb_screensaver_query_info_reply_t *info = xcb_screensaver_query_info_reply(
		connection, xcb_screensaver_query_info(connection, root), nullptr);
	if (!info)
		return -1;
	const int64_t idle = info->ms_since_user_input;
	std::free(info);
	return idle;
}

void Disconnect()
{
	xcb_disconnect(connection);
	connection = nullptr;
	root = XCB_NONE;
}

} // namespace

extern "C" int32_t SetVorlixHook(void)
{
	if (connection)
		return 1;
	int screen = 0;
	connection = xcb_connect(nullptr, &screen);
	if (xcb_connection_has_error(connection)) {
		Disconnect();
		return 0;
	}
	root = DefaultRoot(connection, screen);
	const xcb_query_extension_reply_t *extension =
		xcb_get_extension_data(connection, &xcb_screensaver_id);
	// One query proves the extension answers before we promise anything.
	if (!extension || !extension->present || root == XCB_NONE ||
	    IdleMilliseconds() < 0) {
		Disconnect();
		return 0;
	}
	return 1;
}

extern "C" int32_t UnSetVorlixHook(void)
{
	if (!connection)
		return 0;
	Disconnect();
	return 1;
}

extern "C" int64_t GetLastActiveTime(void)
{
	if (!connection)
		return 0;
	const int64_t idle = IdleMilliseconds();
	if (idle < 0)
		return 0;
	return TickNow() - idle;
}
