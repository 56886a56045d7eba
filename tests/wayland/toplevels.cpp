// What a taskbar does, for the tests on compositors without IPC of their
// own (labwc, wayfire): lists the windows of the foreign-toplevel list, or
// activates windows by title.
//
//   vorlix-toplevels list                  one "app_id<TAB>title<TAB>activated|-" per window
//   vorlix-toplevels activate TITLE...     asks for each in turn, all at once,
//                                          then waits until the last is activated
//
// Exit status 0 on success, 1 when a title is not found or the last window
// is not activated within 5 s, 2 without the protocol.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <wayland-client.h>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace {

struct Window {
	zwlr_foreign_toplevel_handle_v1 *handle;
	std::string title, app_id;
	bool activated = false;
};

struct Session {
	wl_seat *seat = nullptr;
	zwlr_foreign_toplevel_manager_v1 *manager = nullptr;
	std::vector<Window *> windows;
};

void Title(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *title)
{
	static_cast<Window *>(data)->title = title;
}
void AppId(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *app_id)
{
	static_cast<Window *>(data)->app_id = app_id;
}
void Output(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
void State(void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *states)
{
	bool activated = false;
	const auto *state = static_cast<const uint32_t *>(states->data);
	for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
		activated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
	static_cast<Window *>(data)->activated = activated;
}
void Done(void *, zwlr_foreign_toplevel_handle_v1 *) {}
void Closed(void *data, zwlr_foreign_toplevel_handle_v1 *)
{
	static_cast<Window *>(data)->title = "\n(closed)";
}
void Parent(void *, zwlr_foreign_toplevel_handle_v1 *, zwlr_foreign_toplevel_handle_v1 *) {}
const zwlr_foreign_toplevel_handle_v1_listener kWindowListener = {
	Title, AppId, Output, Output, State, Done, Closed, Parent};

void NewWindow(void *data, zwlr_foreign_toplevel_manager_v1 *,
	       zwlr_foreign_toplevel_handle_v1 *handle)
{
	auto *window = new Window{handle, "", ""};
	zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kWindowListener, window);
	static_cast<Session *>(data)->windows.push_back(window);
}
void Finished(void *, zwlr_foreign_toplevel_manager_v1 *) {}
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {NewWindow, Finished};

void Global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
	auto *session = static_cast<Session *>(data);
	if (std::strcmp(interface, wl_seat_interface.name) == 0 && !session->seat) {
		session->seat = static_cast<wl_seat *>(
			wl_registry_bind(registry, name, &wl_seat_interface, 1));
	} else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
		session->manager = static_cast<zwlr_foreign_toplevel_manager_v1 *>(wl_registry_bind(
			registry, name, &zwlr_foreign_toplevel_manager_v1_interface, 1));
		zwlr_foreign_toplevel_manager_v1_add_listener(session->manager, &kManagerListener,
							      session);
	}
}
void GlobalRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

Window *Find(const Session &session, const std::string &title)
{
	for (Window *window : session.windows)
		if (window->title == title)
			return window;
	return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
	const std::string command = argc > 1 ? argv[1] : "";
	if (command != "list" && command != "activate") {
		std::fprintf(stderr, "usage: %s list | activate TITLE...\n", argv[0]);
		return 2;
	}
	wl_display *display = wl_display_connect(nullptr);
	if (!display) {
		std::fprintf(stderr, "no Wayland display\n");
		return 2;
	}
	Session session;
	wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &session);
	wl_display_roundtrip(display);
	if (!session.manager || !session.seat) {
		std::fprintf(stderr, "no zwlr_foreign_toplevel_manager_v1 or no seat\n");
		return 2;
	}
	wl_display_roundtrip(display);
	if (command == "list") {
		for (const Window *window : session.windows)
			std::printf("%s\t%s\t%s\n", window->app_id.c_str(), window->title.c_str(),
				    window->activated ? "activated" : "-");
		return 0;
	}
	Window *last = nullptr;
	for (int i = 2; i < argc; ++i) {
		last = Find(session, argv[i]);
		if (!last) {
			std::fprintf(stderr, "no window titled %s\n", argv[i]);
			return 1;
		}
		zwlr_foreign_toplevel_handle_v1_activate(last->handle, session.seat);
	}
	for (int waited = 0; last && !last->activated && waited < 50; ++waited) {
		wl_display_flush(display);
		pollfd p = {wl_display_get_fd(display), POLLIN, 0};
		if (poll(&p, 1, 100) > 0 && wl_display_dispatch(display) < 0)
			break;
	}
	wl_display_roundtrip(display);
	if (last && !last->activated) {
		std::fprintf(stderr, "%s was not activated\n", argv[argc - 1]);
		return 1;
	}
	return 0;
}
