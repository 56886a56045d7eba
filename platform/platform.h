#pragma once
// The operating-system layer. One header; each OS defines every function
// here: Windows in platform-win32.cpp; Linux in platform-posix.cpp (clocks,
// files, processes, libraries) and the X11 backend in x11/ (windows). The
// Windows backend only wraps OS calls. The X11 one also keeps what Windows
// keeps for its callers (the foreground window, the top-level windows, the
// screen locker) current from the server's events; retries and formats
// still belong to the callers.
#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <string>
#include <vector>

namespace platform {

// ---- clocks -------------------------------------------------------------

// Milliseconds since boot, sleep included (GetTickCount64 / CLOCK_BOOTTIME),
// unless a test has installed its own tick source.
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

// The name of the system's time zone, the one used when TZ is not set
// ("Europe/Berlin" from /etc/localtime; "W. Europe Standard Time" on
// Windows); "" when it cannot be told.
std::string SystemTimeZoneName();

// ---- files --------------------------------------------------------------

enum class CreateResult { Created, Exists, Failed };

// Opens the existing file at the UTF-8 `path` for reading and writing
// without truncating it. On Windows the path is converted to a wide one, so
// a profile folder with any name works, and the file is opened in text mode
// (each line end stored as CR LF), shared for reading and writing but not
// for deletion.
void OpenLogStream(std::fstream &stream, const char *path);

// Creates an empty file at the UTF-8 `path` only if none exists there; on
// POSIX only its owner may read or write it (0600, whatever the umask).
CreateResult CreateFileExclusively(const char *path);

// Creates the folder at the UTF-8 `path` (its parent must exist); on POSIX
// only its owner may enter it (0700). Exists also when a file is in the way.
CreateResult MakeDirectory(const char *path);

// True when both UTF-8 paths name one existing file (links included).
bool SameFile(const char *a, const char *b);

// An advisory lock on a file (flock on POSIX; on Windows a byte-range lock
// far beyond the end, which leaves the file's data to every handle). Other
// processes, and other FileLocks of this one, cannot take it while it is held.
struct FileLock;

// Why TryLockFile gave no lock: `held` when someone else holds it (a wait
// may help), else the file cannot be opened or the file system keeps no locks.
struct LockFailure {
	bool held = false;
	int code = 0; // errno on POSIX, GetLastError() on Windows
};

// Locks the existing file at the UTF-8 `path` without waiting; nullptr when
// the file cannot be opened or someone else holds the lock, with the reason
// in `failure` when one is given.
FileLock *TryLockFile(const char *path, LockFailure *failure = nullptr);

// Releases the lock; nullptr is allowed.
void ReleaseFileLock(FileLock *lock);

// The OS's words for an error code of LockFailure, in UTF-8.
std::string SystemErrorText(int code);

// Reads the first `limit` bytes at most of the file at the UTF-8 `path`,
// a secret of its owner's (a key). On POSIX it must be a regular file that
// neither its group nor others may access in any way (mode 0600 or
// stricter), as ssh asks of a private key: else nothing is read. On Windows
// the file is read as it is (the profile folder's access rights keep it
// private). False with the reason in `error`.
bool ReadPrivateFile(const char *path, size_t limit, std::string &content,
		     std::string &error);

// The user's own runtime folder ($XDG_RUNTIME_DIR: private to the user and
// ended with the user's last session), "" when it is not set, and always on
// Windows, which has none.
std::string UserRuntimeDirectory();

// ---- paths --------------------------------------------------------------

// Whether libobs can find the user's application-data folder. On POSIX a
// set but empty XDG_CONFIG_HOME is first taken out of the environment
// (libobs would put "" in front and so write at the filesystem root); with
// neither it nor HOME there is none (libobs would end the process). Always
// true on Windows.
bool ApplicationDataFolderKnown();

// What separates a folder from a name in it: "\" on Windows, "/" on POSIX.
char PathSeparator();

// `path` with this OS's separators. "\" and "/" both separate folders: on
// POSIX every "\" becomes "/", so that "a\b" names folder a with sub-folder
// b for every file operation, as on Windows, where the path stays as it is.
std::string NativeSeparators(std::string path);

// ---- SQLite's file layer -------------------------------------------------

// The full path SQLite makes of the UTF-8 `path` before it opens the file:
// on POSIX absolute, with every symbolic link resolved (as far as the folders
// exist); on Windows as GetFullPathNameW gives it.
std::string SqliteFullPath(const std::string &path);

// The longest full path, in bytes, of a database file that SQLite opens on
// this OS: its journal's name, 8 bytes longer ("-journal"), must fit too.
size_t SqlitePathLimit();

// ---- windows ------------------------------------------------------------
// Called from one thread only (the main thread). On X11 the layer opens its
// own connection to $DISPLAY on first use and keeps it; the client list is
// kept current by the server's events, and during an enumeration the
// foreground window is answered from what its start read, so asking once
// per window costs no round trip.

// Names one window for the window's whole life; 0 is "no window". An HWND
// on Windows; on X11 the window id and a generation, since X reuses ids.
using WindowHandle = std::uintptr_t;

// Called for each top-level window; returning false stops the enumeration.
using EnumWindowsCallback = bool (*)(WindowHandle window, std::intptr_t user);

// Calls `callback` for each top-level window (EnumWindows; on X11 those of
// the screen that holds the input focus: the EWMH window manager's
// _NET_CLIENT_LIST, else the root's children, where the frame that holds
// the focused client stands for it, and a screen locker's window while it
// covers the screen). Returns false if the windows could not be listed or
// the callback stopped the walk.
bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user);

// The foreground window, 0 when there is none. On X11, on the screen that
// holds the input focus: an override-redirect window mapped over the whole
// screen (a screen locker or saver), else _NET_ACTIVE_WINDOW while a live
// EWMH window manager keeps it, else the input focus walked up to its
// top-level client; during an enumeration, as it was at its start.
WindowHandle ForegroundWindow();

// Where ForegroundWindow's answer comes from, in words for a log line;
// nullptr before the first answer, without a window system, and on
// Windows, where there is one source only.
const char *ForegroundSource();

// The desktop (root) window; on X11 that of the screen last found holding
// the input focus.
WindowHandle DesktopWindow();

// Copies at most max_count - 1 UTF-16 units of the window's title into
// `buffer` and terminates it (as GetWindowTextW); a cut never leaves the
// first half of a surrogate pair at the end. Returns the number of units
// copied, 0 when the title is empty or cannot be read (the buffer then holds
// an empty text; with max_count < 1 it is left alone). On X11 the title is
// _NET_WM_NAME, else WM_NAME in UTF8_STRING, STRING or COMPOUND_TEXT.
int WindowTitle(WindowHandle window, char16_t *buffer, int max_count);

// The id of the process that owns the window, 0 when it is not known or
// the window does not exist. On X11 the pid the X-Resource extension knows
// for the window's client (local clients only; the host's pid also for a
// client in a PID namespace of its own), else _NET_WM_PID when
// WM_CLIENT_MACHINE, in any text type, names this machine.
uint32_t WindowProcessId(WindowHandle window);

// The process of the first child window of `frame` that another process
// owns, 0 when there is none. A Windows Store app shows its window inside a
// frame of ApplicationFrameHost.exe; the app's own window is such a child.
// Always 0 on X11, where no window manager frames its clients that way.
uint32_t HostedWindowProcessId(WindowHandle frame);

// True when there is no window system to ask: the X server has ended (the
// loss shows at the first request after it), or there never was a display.
// Every window function then answers "nothing". Always false on Windows.
bool WindowSystemLost();

// Why there is no window system to ask, in words for a log line ("no X
// display: DISPLAY is not set"); empty when there is one, and always on
// Windows. Opens the X connection if it is not open yet.
std::string WindowSystemUnavailable();

// Ends what the window layer started inside the desktop: on KDE Plasma the
// script loaded into KWin is unloaded. Every window function answers
// "nothing" afterwards. Nothing to do on Windows and X11.
void CloseWindowSystem();

// ---- processes ----------------------------------------------------------

struct ProcessEntry {
	uint32_t pid;
	char16_t exe_file[260]; // file name without directory, terminated
};

struct ProcessSnapshot;

// A snapshot of all processes (CreateToolhelp32Snapshot); nullptr on failure.
// On Linux it holds the pids of the moment; each name is read as the walk
// reaches it (basename of /proc/PID/exe; for a program under Wine, the
// Windows executable's file name from its command line; when the link
// cannot be read, the kernel's comm, or the first argument's file name when
// it starts with comm, which the kernel cuts to 15 bytes), and a process
// that has ended by then, zombies included, is left out.
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

// The arguments of main() as text for paths and the log. On Windows main()
// gets them in the ANSI code page (GBK on a Chinese desktop), while the
// application-data folder and every file call take UTF-8: each becomes
// UTF-8 of what was typed, from the wide command line where that agrees
// with argv, else converted from the ANSI code page. On POSIX argv as it
// is, byte for byte.
std::vector<std::string> CommandLineText(int argc, const char *const *argv);

} // namespace platform
