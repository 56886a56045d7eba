#pragma once
// What the X11 backend answers for the window layer (platform.h says what
// each does); desktop-linux.cpp calls these on X11 and through XWayland.
#include <string>

#include "platform/platform.h"

namespace platform::x11 {

bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user);
WindowHandle ForegroundWindow();
const char *ForegroundSource();
WindowHandle DesktopWindow();
int WindowTitle(WindowHandle window, char16_t *buffer, int max_count);
uint32_t WindowProcessId(WindowHandle window);
bool WindowSystemLost();
std::string WindowSystemUnavailable();

} // namespace platform::x11
