// The window in front on labwc, wayfire, Hyprland, niri, river and the other
// compositors that give every client their list of windows for taskbars
// (zwlr_foreign_toplevel_manager_v1): each window's title, app_id and
// states, among them "activated", the window with the keyboard focus. No
// activated window (an empty workspace, a locked session) is no window.
//
// The list is kept current from the compositor's events alone: they are
// read whenever they arrive (the program's event loop watches the
// connection, so the compositor never finds it full) and once more, without
// waiting, when a tick asks. The protocol names no process: the window
// layer looks for one by the app_id, and asks the X server whether the
// window is one of XWayland's, when the window in front changes.
#include "platform/wayland/sources.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <poll.h>
#include <wayland-client.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace platform::wayland {

namespace {

// Version 1 has every event needed; later ones add only requests and the
// parent of dialogs.
constexpr uint32_t kVersion = 1;
// Reads of the connection at most per dispatch: a compositor that sends
// without end cannot hold the program in one.
constexpr int kMaxReads = 256;

class ForeignToplevelSource;

struct Toplevel {
	ForeignToplevelSource *source = nullptr;
	zwlr_foreign_toplevel_handle_v1 *handle = nullptr;
	uint64_t id = 0;
	// As of the last "done"; the compositor sends changes in batches.
	std::string title, app_id;
	bool activated = false;
	uint64_t activated_at = 0; // the batch that activated it
	std::string next_title, next_app_id;
	bool next_activated = false;
};

class ForeignToplevelSource : public ForegroundSource {
public:
	~ForeignToplevelSource() override
	{
		notifier_.reset();
		for (const auto &toplevel : toplevels_)
			zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
		if (manager_) {
			if (!finished_)
				zwlr_foreign_toplevel_manager_v1_stop(manager_);
			zwlr_foreign_toplevel_manager_v1_destroy(manager_);
		}
		if (registry_)
			wl_registry_destroy(registry_);
		if (display_) {
			wl_display_flush(display_);
			wl_display_disconnect(display_);
		}
	}

	bool Start(std::string *why)
	{
		display_ = wl_display_connect(nullptr);
		if (!display_) {
			*why = "the Wayland display refused the connection";
			return false;
		}
		registry_ = wl_display_get_registry(display_);
		wl_registry_add_listener(registry_, &kRegistryListener, this);
		// The globals; then the windows with their first details.
		if (wl_display_roundtrip(display_) < 0 ||
		    (manager_ && wl_display_roundtrip(display_) < 0)) {
			*why = "the Wayland display closed the connection";
			return false;
		}
		if (!manager_) {
			*why = "the compositor offers no zwlr_foreign_toplevel_manager_v1";
			return false;
		}
		// Without an event loop (a program that asks from a loop of its
		// own) the events are read at each question only.
		if (QCoreApplication::instance()) {
			notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display_),
								      QSocketNotifier::Read);
			QObject::connect(notifier_.get(), &QSocketNotifier::activated,
					 [this] { Dispatch(); });
		}
		return true;
	}

	Answer Foreground(FocusedWindow *window) override
	{
		Dispatch();
		if (lost_)
			return Answer::Lost;
		if (front_) {
			window->id = front_->id;
			window->title =
				RepairUtf8(QByteArray::fromStdString(front_->title)).toStdString();
			window->app_id = front_->app_id;
			window->maybe_xwayland = true;
		}
		return Answer::Window;
	}

	const char *Source() const override
	{
		return "the compositor's foreign-toplevel list (zwlr_foreign_toplevel_manager_v1)";
	}

private:
	// Handles what the compositor has sent, without waiting for more.
	void Dispatch()
	{
		if (lost_)
			return;
		for (int reads = 0; reads < kMaxReads; ++reads) {
			while (wl_display_prepare_read(display_) != 0)
				if (wl_display_dispatch_pending(display_) < 0)
					return Lose();
			wl_display_flush(display_);
			pollfd p = {wl_display_get_fd(display_), POLLIN, 0};
			const int ready = poll(&p, 1, 0);
			if (ready <= 0 || (p.revents & POLLIN) == 0) {
				wl_display_cancel_read(display_);
				if (ready < 0 && errno != EINTR)
					return Lose();
				if (ready > 0 && (p.revents & (POLLHUP | POLLERR)))
					return Lose();
				break;
			}
			if (wl_display_read_events(display_) < 0)
				return Lose();
		}
		if (wl_display_dispatch_pending(display_) < 0)
			Lose();
	}

	// The compositor has gone, or ended the list. The notifier may be the
	// caller: it is only switched off.
	void Lose()
	{
		lost_ = true;
		front_ = nullptr;
		if (notifier_)
			notifier_->setEnabled(false);
	}

	static void Global(void *data, wl_registry *registry, uint32_t name, const char *interface,
			   uint32_t)
	{
		auto *self = static_cast<ForeignToplevelSource *>(data);
		if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) != 0 ||
		    self->manager_)
			return;
		self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1 *>(wl_registry_bind(
			registry, name, &zwlr_foreign_toplevel_manager_v1_interface, kVersion));
		zwlr_foreign_toplevel_manager_v1_add_listener(self->manager_, &kManagerListener,
							      self);
	}
	static void GlobalRemove(void *, wl_registry *, uint32_t) {}
	static constexpr wl_registry_listener kRegistryListener = {Global, GlobalRemove};

	static void NewToplevel(void *data, zwlr_foreign_toplevel_manager_v1 *,
				zwlr_foreign_toplevel_handle_v1 *handle)
	{
		auto *self = static_cast<ForeignToplevelSource *>(data);
		auto toplevel = std::make_unique<Toplevel>();
		toplevel->source = self;
		toplevel->handle = handle;
		toplevel->id = ++self->last_id_;
		zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener,
							     toplevel.get());
		self->toplevels_.push_back(std::move(toplevel));
	}
	static void Finished(void *data, zwlr_foreign_toplevel_manager_v1 *)
	{
		auto *self = static_cast<ForeignToplevelSource *>(data);
		self->finished_ = true;
		self->Lose();
	}
	static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {NewToplevel,
										      Finished};

	// Each handle's events come with its Toplevel.
	static Toplevel *Of(void *data) { return static_cast<Toplevel *>(data); }
	static void Title(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *title)
	{
		Of(data)->next_title = title ? title : "";
	}
	static void AppId(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *app_id)
	{
		Of(data)->next_app_id = app_id ? app_id : "";
	}
	static void Output(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
	static void State(void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *states)
	{
		bool activated = false;
		const auto *state = static_cast<const uint32_t *>(states->data);
		for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
			activated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
		Of(data)->next_activated = activated;
	}
	static void Done(void *data, zwlr_foreign_toplevel_handle_v1 *)
	{
		Toplevel *toplevel = Of(data);
		ForeignToplevelSource *self = toplevel->source;
		toplevel->title = toplevel->next_title;
		toplevel->app_id = toplevel->next_app_id;
		if (toplevel->next_activated && !toplevel->activated)
			toplevel->activated_at = ++self->batches_;
		toplevel->activated = toplevel->next_activated;
		self->FindFront();
	}
	static void Closed(void *data, zwlr_foreign_toplevel_handle_v1 *handle)
	{
		ForeignToplevelSource *self = Of(data)->source;
		auto &list = self->toplevels_;
		for (auto it = list.begin(); it != list.end(); ++it) {
			if ((*it)->handle != handle)
				continue;
			zwlr_foreign_toplevel_handle_v1_destroy(handle);
			list.erase(it);
			break;
		}
		self->FindFront();
	}
	static void Parent(void *, zwlr_foreign_toplevel_handle_v1 *,
			   zwlr_foreign_toplevel_handle_v1 *)
	{
	}
	static constexpr zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
		Title, AppId, Output, Output, State, Done, Closed, Parent};

	// The window activated last among those that are: with several seats
	// more than one may be.
	void FindFront()
	{
		front_ = nullptr;
		for (const auto &toplevel : toplevels_)
			if (toplevel->activated &&
			    (!front_ || toplevel->activated_at > front_->activated_at))
				front_ = toplevel.get();
	}

	wl_display *display_ = nullptr;
	wl_registry *registry_ = nullptr;
	zwlr_foreign_toplevel_manager_v1 *manager_ = nullptr;
	std::vector<std::unique_ptr<Toplevel>> toplevels_;
	Toplevel *front_ = nullptr;
	uint64_t last_id_ = 0, batches_ = 0;
	bool finished_ = false, lost_ = false;
	std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace

std::unique_ptr<ForegroundSource> StartForeignToplevel(std::string *why)
{
	auto source = std::make_unique<ForeignToplevelSource>();
	if (!source->Start(why))
		return nullptr;
	return source;
}

} // namespace platform::wayland
