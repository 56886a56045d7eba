#pragma once
// What the program, its input-hook library and the Wayland module share on
// Linux, each linking its own copy: the clock they compare their times on,
// the one rule that says a session is Wayland's, and where the Wayland
// module is found.
#include <cstdint>
#include <string>

#include "platform/wayland/wayland-desktop.h"

namespace platform::session {

// Milliseconds since boot, the time the machine slept included
// (CLOCK_BOOTTIME, as GetTickCount64 counts on Windows): the tick of the
// program's counter and of every last-input time.
int64_t BootTickMilliseconds();

// True in a Wayland session: WAYLAND_DISPLAY or SWAYSOCK is set (sway's
// socket alone, in a shell started where WAYLAND_DISPLAY was not passed on,
// still names a Wayland desktop). The window layer and the input hook both
// ask here, so they never disagree on where windows and input come from.
bool IsWaylandSession();

// The table of libvorlix-wayland.so, loaded (once, never unloaded: a thread
// of it may outlive any unload) from the folder of the file that holds this
// code: the program's or the hook library's, which lie side by side. nullptr
// when it cannot be loaded, with the reason in `why`.
const wayland::DesktopApi *LoadWaylandDesktop(std::string *why);

} // namespace platform::session
