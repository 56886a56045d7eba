// The last input on KWin, sway and other wlroots compositors, through the
// compositor's idle notifications: ext-idle-notify-v1, else
// org_kde_kwin_idle (sway 1.7 has only that one). The compositor says
// "idled" once no input has come for the timeout, and "resumed" at the
// first input after that; with the shortest timeout, every pause in the
// input gives one pair. So:
//   - "resumed" at T: there was input at T;
//   - "idled" at T, after a "resumed": the last input was at T - timeout;
//   - between a "resumed" and the next "idled", input is going on: the last
//     input is now.
// Nothing is known of the input before the start: the first "idled" only
// says that none came since. Like the screen saver on X11, the compositor
// follows the desktop's idle inhibitors: while a video plays, no "idled"
// comes and the user counts as active.
//
// A thread of the library's own reads the compositor's events and stamps
// them as they arrive, so a tick reads only the stamp.
#include "platform/wayland/sources.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

namespace platform::wayland {

namespace {

// Milliseconds; the protocols take any, and 1 is the shortest that every
// compositor tried here counts (0 switches the notification off on some).
constexpr uint32_t kTimeoutMs = 1;
// After events the thread rests this long, so that a moving mouse (up to
// 1,000 events a second, each a pair here) wakes it at most 10 times a
// second; input that follows input is stamped at most this late.
constexpr int kRestMs = 100;

class IdleProtocols : public InputSource {
public:
	~IdleProtocols() override
	{
		if (watcher_.joinable()) {
			const char byte = 0;
			while (write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
			}
			watcher_.join();
		}
		for (const int fd : wake_)
			if (fd >= 0)
				close(fd);
		if (ext_notification_)
			ext_idle_notification_v1_destroy(ext_notification_);
		if (ext_notifier_)
			ext_idle_notifier_v1_destroy(ext_notifier_);
		if (kde_timeout_)
			org_kde_kwin_idle_timeout_release(kde_timeout_);
		if (kde_idle_)
			org_kde_kwin_idle_destroy(kde_idle_);
		if (seat_)
			wl_seat_destroy(seat_);
		if (registry_)
			wl_registry_destroy(registry_);
		if (display_)
			wl_display_disconnect(display_);
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
		if (wl_display_roundtrip(display_) < 0 || !seat_) {
			*why = "the Wayland display offers no seat";
			return false;
		}
		if (ext_notifier_) {
			ext_notification_ = ext_idle_notifier_v1_get_idle_notification(
				ext_notifier_, kTimeoutMs, seat_);
			ext_idle_notification_v1_add_listener(ext_notification_, &kExtListener, this);
			name_ = "ext-idle-notify-v1";
		} else if (kde_idle_) {
			kde_timeout_ = org_kde_kwin_idle_get_idle_timeout(kde_idle_, seat_, kTimeoutMs);
			org_kde_kwin_idle_timeout_add_listener(kde_timeout_, &kKdeListener, this);
			name_ = "org_kde_kwin_idle";
		} else {
			*why = "the compositor offers neither ext-idle-notify-v1 nor org_kde_kwin_idle";
			return false;
		}
		if (wl_display_roundtrip(display_) < 0) {
			*why = "the Wayland display closed the connection";
			return false;
		}
		return StartWatcher(why);
	}

	int64_t LastInput() override { return active_ ? TickNow() : last_.load(); }
	const char *Name() const override { return name_; }

private:
	static void Global(void *data, wl_registry *registry, uint32_t name, const char *interface,
			   uint32_t)
	{
		auto *self = static_cast<IdleProtocols *>(data);
		if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat_)
			self->seat_ = static_cast<wl_seat *>(
				wl_registry_bind(registry, name, &wl_seat_interface, 1));
		else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
			self->ext_notifier_ = static_cast<ext_idle_notifier_v1 *>(
				wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
		else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
			self->kde_idle_ = static_cast<org_kde_kwin_idle *>(
				wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
	}
	static void GlobalRemove(void *, wl_registry *, uint32_t) {}
	static constexpr wl_registry_listener kRegistryListener = {Global, GlobalRemove};

	static void Idled(IdleProtocols *self)
	{
		// Only an idle time that follows seen input dates that input.
		if (self->active_)
			self->last_ = TickNow() - kTimeoutMs;
		self->active_ = false;
	}
	static void Resumed(IdleProtocols *self)
	{
		self->last_ = TickNow();
		self->active_ = true;
	}
	static void ExtIdled(void *data, ext_idle_notification_v1 *)
	{
		Idled(static_cast<IdleProtocols *>(data));
	}
	static void ExtResumed(void *data, ext_idle_notification_v1 *)
	{
		Resumed(static_cast<IdleProtocols *>(data));
	}
	static void KdeIdle(void *data, org_kde_kwin_idle_timeout *)
	{
		Idled(static_cast<IdleProtocols *>(data));
	}
	static void KdeResumed(void *data, org_kde_kwin_idle_timeout *)
	{
		Resumed(static_cast<IdleProtocols *>(data));
	}
	static constexpr ext_idle_notification_v1_listener kExtListener = {ExtIdled, ExtResumed};
	static constexpr org_kde_kwin_idle_timeout_listener kKdeListener = {KdeIdle, KdeResumed};

	bool StartWatcher(std::string *why)
	{
		if (pipe2(wake_, O_CLOEXEC) != 0) {
			*why = std::string("no pipe: ") + std::strerror(errno);
			return false;
		}
		// The program's signals go to its own threads.
		sigset_t all, saved;
		sigfillset(&all);
		pthread_sigmask(SIG_BLOCK, &all, &saved);
		try {
			watcher_ = std::thread(&IdleProtocols::Watch, this);
			pthread_setname_np(watcher_.native_handle(), "vorlix-input");
		} catch (const std::system_error &error) {
			*why = std::string("no thread: ") + error.what();
		}
		pthread_sigmask(SIG_SETMASK, &saved, nullptr);
		return watcher_.joinable();
	}

	// Reads and handles the compositor's events until UnSetVorlixHook asks
	// the thread to end or the compositor goes.
	void Watch()
	{
		pollfd fds[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
		for (;;) {
			while (wl_display_prepare_read(display_) != 0)
				if (wl_display_dispatch_pending(display_) < 0)
					return;
			wl_display_flush(display_);
			const int ready = poll(fds, 2, -1);
			if (ready < 0 && errno != EINTR) {
				wl_display_cancel_read(display_);
				return;
			}
			if (fds[1].revents != 0) {
				wl_display_cancel_read(display_);
				return;
			}
			if (ready <= 0 || (fds[0].revents & POLLIN) == 0) {
				wl_display_cancel_read(display_);
				if (fds[0].revents & (POLLHUP | POLLERR))
					return;
				continue;
			}
			if (wl_display_read_events(display_) < 0 ||
			    wl_display_dispatch_pending(display_) < 0)
				return;
			if (poll(&fds[1], 1, kRestMs) != 0)
				return;
		}
	}

	wl_display *display_ = nullptr;
	wl_registry *registry_ = nullptr;
	wl_seat *seat_ = nullptr;
	ext_idle_notifier_v1 *ext_notifier_ = nullptr;
	ext_idle_notification_v1 *ext_notification_ = nullptr;
	org_kde_kwin_idle *kde_idle_ = nullptr;
	org_kde_kwin_idle_timeout *kde_timeout_ = nullptr;
	const char *name_ = nullptr;
	std::atomic<bool> active_{false};
	std::atomic<int64_t> last_{0};
	std::thread watcher_;
	int wake_[2] = {-1, -1};
};

} // namespace

std::unique_ptr<InputSource> StartIdleProtocols(std::string *why)
{
	auto source = std::make_unique<IdleProtocols>();
	if (!source->Start(why))
		return nullptr;
	return source;
}

} // namespace platform::wayland
