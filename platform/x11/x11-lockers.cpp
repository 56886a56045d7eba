// Screen lockers: the topmost window a person sees, when it covers the
// screen; and the compositing manager's overlay window, above them all.
#include "platform/x11/x11-display.h"

#include <algorithm>

#include <xcb/composite.h>

namespace platform::x11 {

namespace {

bool OnScreen(const Child &c, const Screen &s)
{
	return c.x < s.width && c.y < s.height && c.x + static_cast<int64_t>(c.width) > 0 &&
	       c.y + static_cast<int64_t>(c.height) > 0;
}

bool CoversScreen(const Child &c, const Screen &s)
{
	return c.x <= 0 && c.y <= 0 && c.x + static_cast<int64_t>(c.width) >= s.width &&
	       c.y + static_cast<int64_t>(c.height) >= s.height;
}

// Whether the window draws anything: an InputOnly window (mutter's guard
// window) shows nothing. Asked of the server once per window.
bool Drawn(X11Display *d, xcb_window_t window, Child &c)
{
	if (c.kind == Child::Kind::Unknown) {
		Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
			d->conn, xcb_get_window_attributes(d->conn, window), nullptr));
		if (!attributes)
			return false; // gone meanwhile
		c.kind = attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY ? Child::Kind::InputOnly
									    : Child::Kind::InputOutput;
	}
	return c.kind == Child::Kind::InputOutput;
}

// The topmost child of `parent` (a root or the overlay window) that a
// person sees on the screen: mapped, drawn and on the screen. The overlay
// window is passed over (what it shows is looked for inside it), and so are
// the compositing manager's own windows inside it, which only show the
// windows below: those of the client that holds the compositing-manager
// selection, and any that is no override-redirect window (mutter draws in
// a child of the overlay window from another connection than the one that
// would hold the selection, and holds none under Xvfb).
Child *TopSeen(X11Display *d, const Screen &s, xcb_window_t parent, xcb_window_t *top)
{
	const auto stack = d->stacks.find(parent);
	if (stack == d->stacks.end())
		return nullptr;
	for (auto it = stack->second.rbegin(); it != stack->second.rend(); ++it) {
		const auto child = d->children.find(*it);
		if (child == d->children.end() || *it == s.overlay)
			continue;
		Child &c = child->second;
		if (!c.mapped || !OnScreen(c, s))
			continue;
		if (parent == s.overlay &&
		    (!c.override_redirect || (*it & d->client_mask) == s.compositor))
			continue;
		if (Drawn(d, *it, c)) {
			*top = *it;
			return &c;
		}
	}
	return nullptr;
}

// Takes `overlay` as the screen's overlay window: its children are followed
// from now on. `owner` holds the compositing-manager selection.
void AdoptOverlay(X11Display *d, Screen &s, xcb_window_t overlay, xcb_window_t owner)
{
	s.overlay = overlay;
	s.compositor = owner == XCB_NONE ? 0 : owner & d->client_mask;
	const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
	xcb_change_window_attributes(d->conn, overlay, XCB_CW_EVENT_MASK, &mask);
	ReadChildren(d, {{overlay, static_cast<size_t>(s.number)}});
}

// A compositing manager started after the connection: its overlay window
// came as a new, mapped, screen-sized child of the root, which QueryTree
// does not list. Asked only while such a child has not been checked.
void FindNewOverlay(X11Display *d, Screen &s)
{
	if (s.overlay != XCB_NONE)
		return;
	const auto unchecked = [&](xcb_window_t w) {
		const Child &c = d->children[w];
		return c.listed == Child::Listed::Unknown && c.mapped && c.override_redirect &&
		       CoversScreen(c, s);
	};
	const std::vector<xcb_window_t> &stack = d->stacks[s.root];
	if (std::none_of(stack.begin(), stack.end(), unchecked))
		return;
	const xcb_get_selection_owner_cookie_t owner_cookie =
		xcb_get_selection_owner(d->conn, s.cm_selection);
	Reply<xcb_query_tree_reply_t> tree(
		xcb_query_tree_reply(d->conn, xcb_query_tree(d->conn, s.root), nullptr));
	Reply<xcb_get_selection_owner_reply_t> owner(
		xcb_get_selection_owner_reply(d->conn, owner_cookie, nullptr));
	if (!tree)
		return;
	// The windows gone before the answer leave the stack first.
	DrainEvents(d);
	const xcb_window_t *children = xcb_query_tree_children(tree.get());
	std::vector<xcb_window_t> listed(children, children + xcb_query_tree_children_length(tree.get()));
	std::sort(listed.begin(), listed.end());
	xcb_window_t overlay = XCB_NONE;
	for (const xcb_window_t w : d->stacks[s.root]) {
		Child &c = d->children[w];
		if (c.listed != Child::Listed::Unknown)
			continue;
		const bool seen = std::binary_search(listed.begin(), listed.end(), w);
		if (!seen && unchecked(w))
			overlay = w;
		c.listed = seen ? Child::Listed::Yes : Child::Listed::No;
	}
	if (overlay != XCB_NONE)
		AdoptOverlay(d, s, overlay, owner ? owner->owner : XCB_NONE);
}

} // namespace

// A compositing manager may already run: its overlay window then exists,
// and QueryTree does not list it. It is asked for only on the screens
// whose compositing-manager selection has an owner (asking creates the
// overlay window where none exists) and let go at once.
void FindOverlays(X11Display *d, const std::vector<xcb_get_selection_owner_cookie_t> &owners)
{
	std::vector<xcb_window_t> owner;
	for (const xcb_get_selection_owner_cookie_t &cookie : owners) {
		Reply<xcb_get_selection_owner_reply_t> reply(
			xcb_get_selection_owner_reply(d->conn, cookie, nullptr));
		owner.push_back(reply ? reply->owner : XCB_NONE);
	}
	if (std::all_of(owner.begin(), owner.end(), [](xcb_window_t w) { return w == XCB_NONE; }))
		return;
	const xcb_query_extension_reply_t *composite = xcb_get_extension_data(d->conn, &xcb_composite_id);
	if (!composite || !composite->present)
		return;
	Reply<xcb_composite_query_version_reply_t> version(xcb_composite_query_version_reply(
		d->conn, xcb_composite_query_version(d->conn, 0, 4), nullptr));
	if (!version || (version->major_version == 0 && version->minor_version < 3))
		return;
	for (size_t i = 0; i < d->screens.size(); ++i) {
		Screen &s = d->screens[i];
		if (owner[i] == XCB_NONE)
			continue;
		Reply<xcb_composite_get_overlay_window_reply_t> overlay(
			xcb_composite_get_overlay_window_reply(
				d->conn, xcb_composite_get_overlay_window(d->conn, s.root), nullptr));
		xcb_composite_release_overlay_window(d->conn, s.root);
		if (!overlay)
			continue;
		Child *c = ChildOf(d, s.root, overlay->overlay_win);
		c->width = s.width;
		c->height = s.height;
		c->override_redirect = c->mapped = true;
		c->kind = Child::Kind::InputOutput;
		c->listed = Child::Listed::No;
		AdoptOverlay(d, s, overlay->overlay_win, owner[i]);
	}
}

// The screen locker: the topmost window a person sees, when it is an
// override-redirect window and covers the screen, whether a child of the
// root or drawn inside the overlay window; XCB_NONE when there is none.
// Asks the server only about windows not seen before.
xcb_window_t ScreenLocker(X11Display *d, Screen &s)
{
	FindNewOverlay(d, s);
	d->stacks_changed = false;
	xcb_window_t top = XCB_NONE;
	const auto overlay = d->children.find(s.overlay);
	if (overlay != d->children.end() && overlay->second.mapped) {
		// Above every other window: what it holds hides them all.
		if (const Child *c = TopSeen(d, s, s.overlay, &top))
			return CoversScreen(*c, s) ? top : XCB_NONE;
	}
	const Child *c = TopSeen(d, s, s.root, &top);
	return c && c->override_redirect && CoversScreen(*c, s) ? top : XCB_NONE;
}

} // namespace platform::x11
