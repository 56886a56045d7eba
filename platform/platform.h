#pragma once
// The operating-system layer. One header; one source per OS (platform-x11.cpp
// on Linux/X11, platform-win32.cpp on Windows) defines every function here.
// Backends only wrap OS calls: retries, caching policy and formats belong to
// the callers.
#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// ---- clocks -------------------------------------------------------------

// Milliseconds since boot (GetTickCount64 / CLOCK_MONOTONIC), unless a test
// has installed its own tick source.
uint64_t TickCount64();

// Replaces the tick source; nullptr restores the real one. For tests.
using TickSource = uint64_t (*)();
void SetTickSource(TickSource source);

// The wall clock in Unix seconds (_time64 / time).
int64_t WallClockSeconds();

// The wall clock in 100-nanosecond units since the Unix epoch.
uint64_t WallClock100ns();

// Local broken-down time of `seconds`; false if it cannot be converted.
bool LocalTime(int64_t seconds, std::tm *out);

// ---- files --------------------------------------------------------------

enum class CreateResult { Created, Exists, Failed };

// Creates an empty file at the UTF-8 `path` only if none exists there.
CreateResult CreateFileExclusively(const char *path);

// ---- windows ------------------------------------------------------------

// An HWND on Windows, an X window id on X11; 0 is "no window".
using WindowHandle = std::uintptr_t;

// Called for each top-level window; returning false stops the enumeration.
using EnumWindowsCallback = bool (*)(WindowHandle window, std::intptr_t user);

// Calls `callback` for each top-level window (EnumWindows; on X11 the
// window manager's _NET_CLIENT_LIST, else the root's children). Returns false
// if the windows could not be listed or the callback stopped the walk.
bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user);

// The foreground window, 0 when there is none.
WindowHandle ForegroundWindow();

// The desktop (root) window.
WindowHandle DesktopWindow();

// Copies at most max_count - 1 UTF-16 units of the window's title into
// `buffer` and terminates it (as GetWindowTextW). Returns the number of units
// copied, 0 when the title is empty or cannot be read.
int WindowTitle(WindowHandle window, char16_t *buffer, int max_count);

// The id of the process that owns the window, 0 when it is not known.
uint32_t WindowProcessId(WindowHandle window);

// True once the connection to the window system is lost for good (the X
// server ended). Always false on Windows.
bool WindowSystemLost();

// ---- processes ----------------------------------------------------------

struct ProcessEntry {
	uint32_t pid;
	char16_t exe_file[260]; // file name without directory, terminated
};

struct ProcessSnapshot;

// A snapshot of all processes (CreateToolhelp32Snapshot); nullptr on failure.
ProcessSnapshot *OpenProcessSnapshot();
bool FirstProcess(ProcessSnapshot *snapshot, ProcessEntry *entry);
bool NextProcess(ProcessSnapshot *snapshot, ProcessEntry *entry);
void CloseProcessSnapshot(ProcessSnapshot *snapshot);

// ---- diagnostics --------------------------------------------------------

// Text for an attached debugger (OutputDebugStringW); standard error on POSIX.
void DebugOutput(const char16_t *text);

// ---- run-time library loading -------------------------------------------

using LibraryHandle = void *;

// Loads a library by file name with the OS's search order; nullptr on failure.
LibraryHandle LoadLibraryByName(const char *file_name);
void *LibrarySymbol(LibraryHandle library, const char *name);
void FreeLibraryHandle(LibraryHandle library);

// File name of the companion input-hook library on this OS.
const char *HookLibraryName();

} // namespace platform

namespace platform {

// Absolute path of the folder holding the running executable; empty if it
// cannot be found.
std::string ExecutableDirectory();

} // namespace platform
