// The server's events: what they say of the roots' properties and of the
// roots' and overlay windows' children.
#include "platform/x11/x11-display.h"

#include <algorithm>

namespace platform::x11 {

namespace {

void PropertyChanged(X11Display *d, const xcb_property_notify_event_t *e)
{
	for (Screen &screen : d->screens)
		if (e->window == screen.wm_named && e->atom == d->ewmh._NET_SUPPORTING_WM_CHECK)
			screen.wm_stale = true;
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

void ChildConfigured(X11Display *d, const xcb_configure_notify_event_t *e)
{
	if (ScreenResized(d, e))
		return;
	if (Child *c = ChildOf(d, e->event, e->window)) {
		c->x = e->x;
		c->y = e->y;
		c->width = e->width;
		c->height = e->height;
		c->override_redirect = e->override_redirect != 0;
		Restack(d, e->event, e->window, e->above_sibling);
	}
}

// Into a window manager's frame: no child of the root any more. Back to the
// root: on top, its size known at its next configure.
void ChildReparented(X11Display *d, const xcb_reparent_notify_event_t *e)
{
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
	case XCB_CONFIGURE_NOTIFY:
		ChildConfigured(d, reinterpret_cast<const xcb_configure_notify_event_t *>(event));
		break;
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
	case XCB_REPARENT_NOTIFY:
		ChildReparented(d, reinterpret_cast<const xcb_reparent_notify_event_t *>(event));
		break;
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

} // namespace

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

// Handles the events that have been read with the replies; reads nothing.
void DrainEvents(X11Display *d)
{
	while (xcb_generic_event_t *event = xcb_poll_for_queued_event(d->conn)) {
		HandleEvent(d, event);
		std::free(event);
	}
}

} // namespace platform::x11
