#pragma once
// What each OS source (platform-posix.cpp, platform-win32.cpp) defines for
// the part of the layer that every OS shares (platform-common.cpp). Not for
// the layer's callers.
#include <cstdint>

namespace platform::backend {

// The OS's own tick counter, milliseconds since boot.
uint64_t TickCount64();

} // namespace platform::backend
