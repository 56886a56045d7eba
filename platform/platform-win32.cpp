// The operating-system layer on Windows: thin wrappers of the Win32 calls.
// wchar_t is UTF-16 here, so window and process texts pass unchanged.
#include "platform/platform.h"
#include "platform/platform-backend.h"
#include "platform/utf16-text.h"

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

namespace platform {

namespace {

// FILETIME counts 100 ns from 1601-01-01; the Unix epoch is this far on.
constexpr uint64_t kUnixEpochIn100ns = 116444736000000000ull;

wchar_t *Wide(char16_t *text)
{
	return reinterpret_cast<wchar_t *>(text);
}

// The UTF-8 `path` as the wide text the file calls take; false when it is
// not valid UTF-8.
bool WidePath(const char *path, std::wstring &wide)
{
	const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
	if (length <= 0)
		return false;
	wide.assign(static_cast<size_t>(length), L'\0');
	MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &wide[0], length);
	return true;
}

// The wide `text` as bytes of `code_page` (CP_UTF8, CP_ACP).
std::string Narrow(const wchar_t *text, UINT code_page)
{
	const int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
	if (size <= 1)
		return std::string();
	std::string out(static_cast<size_t>(size), '\0');
	WideCharToMultiByte(code_page, 0, text, -1, &out[0], size, nullptr, nullptr);
	out.resize(static_cast<size_t>(size - 1));
	return out;
}

// The bytes `text` of `code_page` as wide text.
std::wstring Widen(const char *text, UINT code_page)
{
	const int size = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
	if (size <= 1)
		return std::wstring();
	std::wstring out(static_cast<size_t>(size), L'\0');
	MultiByteToWideChar(code_page, 0, text, -1, &out[0], size);
	out.resize(static_cast<size_t>(size - 1));
	return out;
}

} // namespace

uint64_t backend::TickCount64()
{
	return GetTickCount64();
}

int64_t WallClockSeconds()
{
	return static_cast<int64_t>(_time64(nullptr));
}

uint64_t WallClock100ns()
{
	FILETIME now;
	GetSystemTimeAsFileTime(&now);
	const uint64_t since1601 =
		(static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
	return since1601 - kUnixEpochIn100ns;
}

bool LocalTime(int64_t seconds, std::tm *out)
{
	const __time64_t t = static_cast<__time64_t>(seconds);
	return _localtime64_s(out, &t) == 0;
}

std::string SystemTimeZoneName()
{
	DYNAMIC_TIME_ZONE_INFORMATION zone{};
	if (GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID)
		return std::string();
	return Narrow(zone.TimeZoneKeyName, CP_UTF8);
}

void OpenLogStream(std::fstream &stream, const char *path)
{
	std::wstring wide;
	if (!WidePath(path, wide))
		return;
	// Without ios::binary the runtime writes "\r\n" for each "\n"; its
	// _wfopen shares the file for reading and writing only.
	stream.open(std::filesystem::path(wide), std::ios::in | std::ios::out);
}

CreateResult CreateFileExclusively(const char *path)
{
	std::wstring wide;
	if (!WidePath(path, wide))
		return CreateResult::Failed;
	const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
					FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return GetLastError() == ERROR_FILE_EXISTS ? CreateResult::Exists
							   : CreateResult::Failed;
	CloseHandle(file);
	return CreateResult::Created;
}

// The folder inherits the parent's access rights: below the roaming
// application-data folder, its user's alone.
CreateResult MakeDirectory(const char *path)
{
	std::wstring wide;
	if (!WidePath(path, wide))
		return CreateResult::Failed;
	if (CreateDirectoryW(wide.c_str(), nullptr))
		return CreateResult::Created;
	return GetLastError() == ERROR_ALREADY_EXISTS ? CreateResult::Exists
						      : CreateResult::Failed;
}

bool ApplicationDataFolderKnown()
{
	return true;
}

char PathSeparator()
{
	return '\\';
}

std::string NativeSeparators(std::string path)
{
	return path;
}

namespace {

// The volume and index that name a file, whatever path leads to it.
bool FileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION &info)
{
	std::wstring wide;
	if (!WidePath(path, wide))
		return false;
	const HANDLE file = CreateFileW(wide.c_str(), 0,
					FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
					nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return false;
	const bool known = GetFileInformationByHandle(file, &info) != FALSE;
	CloseHandle(file);
	return known;
}

} // namespace

bool SameFile(const char *a, const char *b)
{
	BY_HANDLE_FILE_INFORMATION first, second;
	return FileIdentity(a, first) && FileIdentity(b, second) &&
	       first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
	       first.nFileIndexHigh == second.nFileIndexHigh &&
	       first.nFileIndexLow == second.nFileIndexLow;
}

struct FileLock {
	HANDLE file;
};

namespace {

// The last byte a file could have: locking it never keeps a handle from the
// file's data, whose every byte lies before it.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFF, kLockOffsetHigh = 0x7FFFFFFF;

} // namespace

FileLock *TryLockFile(const char *path, LockFailure *failure)
{
	std::wstring wide;
	if (!WidePath(path, wide)) {
		if (failure)
			failure->code = ERROR_INVALID_NAME;
		return nullptr;
	}
	// Delete sharing, so that the holder may still delete the file it locked.
	const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
					FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
					nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	OVERLAPPED at = {};
	at.Offset = kLockOffsetLow;
	at.OffsetHigh = kLockOffsetHigh;
	if (file != INVALID_HANDLE_VALUE &&
	    LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
		       &at))
		return new FileLock{file};
	if (failure) {
		failure->code = static_cast<int>(GetLastError());
		failure->held = file != INVALID_HANDLE_VALUE &&
				failure->code == ERROR_LOCK_VIOLATION;
	}
	if (file != INVALID_HANDLE_VALUE)
		CloseHandle(file);
	return nullptr;
}

void ReleaseFileLock(FileLock *lock)
{
	if (!lock)
		return;
	CloseHandle(lock->file); // closing the handle releases its locks
	delete lock;
}

std::string SystemErrorText(int code)
{
	wchar_t *text = nullptr;
	const DWORD length = FormatMessageW(
		FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
			FORMAT_MESSAGE_IGNORE_INSERTS,
		nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&text),
		0, nullptr);
	DWORD end = length; // without the line break the system puts last
	while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n'))
		--end;
	const std::string utf8 = end > 0 ? Narrow(std::wstring(text, end).c_str(), CP_UTF8)
					 : "error " + std::to_string(code);
	LocalFree(text);
	return utf8;
}

bool ReadPrivateFile(const char *path, size_t limit, std::string &content,
		     std::string &error)
{
	std::wstring wide;
	if (!WidePath(path, wide)) {
		error = "the name is not UTF-8";
		return false;
	}
	const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
					OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		error = SystemErrorText(static_cast<int>(GetLastError()));
		return false;
	}
	content.assign(limit, '\0');
	DWORD done = 0;
	const BOOL ok = ReadFile(file, &content[0], static_cast<DWORD>(limit), &done, nullptr);
	if (!ok)
		error = SystemErrorText(static_cast<int>(GetLastError()));
	content.resize(ok ? done : 0);
	CloseHandle(file);
	return ok != FALSE;
}

std::string UserRuntimeDirectory()
{
	return std::string();
}

std::string SqliteFullPath(const std::string &path)
{
	std::wstring wide;
	if (!WidePath(path.c_str(), wide))
		return path;
	const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
	std::wstring full(length, L'\0');
	const DWORD written =
		length ? GetFullPathNameW(wide.c_str(), length, &full[0], nullptr) : 0;
	if (written == 0 || written >= length)
		return path;
	full.resize(written);
	return Narrow(full.c_str(), CP_UTF8);
}

// The Windows file layer's longest path (SQLITE_WIN32_MAX_PATH_BYTES, four
// bytes for each of MAX_PATH characters), less "-journal".
size_t SqlitePathLimit()
{
	return 260 * 4 - 8;
}

namespace {

struct EnumContext {
	EnumWindowsCallback callback;
	std::intptr_t user;
};

BOOL CALLBACK EnumTrampoline(HWND window, LPARAM context)
{
	const auto *c = reinterpret_cast<const EnumContext *>(context);
	return c->callback(reinterpret_cast<WindowHandle>(window), c->user) ? TRUE : FALSE;
}

} // namespace

bool EnumTopLevelWindows(EnumWindowsCallback callback, std::intptr_t user)
{
	if (!callback)
		return false;
	EnumContext context{callback, user};
	return EnumWindows(EnumTrampoline, reinterpret_cast<LPARAM>(&context)) != FALSE;
}

WindowHandle ForegroundWindow()
{
	return reinterpret_cast<WindowHandle>(GetForegroundWindow());
}

const char *ForegroundSource()
{
	return nullptr; // one source only
}

WindowHandle DesktopWindow()
{
	return reinterpret_cast<WindowHandle>(GetDesktopWindow());
}

int WindowTitle(WindowHandle window, char16_t *buffer, int max_count)
{
	if (!buffer || max_count < 1)
		return 0;
	buffer[0] = 0;
	int n = GetWindowTextW(reinterpret_cast<HWND>(window), Wide(buffer), max_count);
	if (n < 0)
		n = 0;
	// A title cut at the limit may end in the first half of a pair.
	if (n == max_count - 1)
		n = static_cast<int>(text::WholePairsLength(std::u16string_view(buffer, n)));
	buffer[n] = 0;
	return n;
}

uint32_t WindowProcessId(WindowHandle window)
{
	DWORD pid = 0;
	if (!GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &pid))
		return 0;
	return static_cast<uint32_t>(pid);
}

namespace {

struct HostedSearch {
	DWORD frame_pid;
	DWORD found;
};

BOOL CALLBACK FindForeignChild(HWND child, LPARAM context)
{
	auto *search = reinterpret_cast<HostedSearch *>(context);
	DWORD pid = 0;
	GetWindowThreadProcessId(child, &pid);
	if (pid == 0 || pid == search->frame_pid)
		return TRUE;
	search->found = pid;
	return FALSE;
}

} // namespace

uint32_t HostedWindowProcessId(WindowHandle frame)
{
	const HWND window = reinterpret_cast<HWND>(frame);
	HostedSearch search{0, 0};
	if (!window || !GetWindowThreadProcessId(window, &search.frame_pid))
		return 0;
	EnumChildWindows(window, FindForeignChild, reinterpret_cast<LPARAM>(&search));
	return static_cast<uint32_t>(search.found);
}

std::string WindowSystemUnavailable()
{
	return std::string();
}

void CloseWindowSystem() {}

bool WindowSystemLost()
{
	return false;
}

struct ProcessSnapshot {
	HANDLE handle;
};

namespace {

bool FillEntry(const PROCESSENTRY32W &native, ProcessEntry *entry)
{
	static_assert(sizeof(entry->exe_file) == sizeof(native.szExeFile),
		      "both hold MAX_PATH units");
	entry->pid = static_cast<uint32_t>(native.th32ProcessID);
	std::memcpy(entry->exe_file, native.szExeFile, sizeof(entry->exe_file));
	entry->exe_file[MAX_PATH - 1] = 0;
	return true;
}

} // namespace

ProcessSnapshot *OpenProcessSnapshot()
{
	const HANDLE handle = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
	if (handle == INVALID_HANDLE_VALUE)
		return nullptr;
	return new ProcessSnapshot{handle};
}

bool FirstProcess(ProcessSnapshot *snapshot, ProcessEntry *entry)
{
	if (!snapshot || !entry)
		return false;
	PROCESSENTRY32W native = {};
	native.dwSize = sizeof(native);
	return Process32FirstW(snapshot->handle, &native) && FillEntry(native, entry);
}

bool NextProcess(ProcessSnapshot *snapshot, ProcessEntry *entry)
{
	if (!snapshot || !entry)
		return false;
	PROCESSENTRY32W native = {};
	native.dwSize = sizeof(native);
	return Process32NextW(snapshot->handle, &native) && FillEntry(native, entry);
}

void CloseProcessSnapshot(ProcessSnapshot *snapshot)
{
	if (!snapshot)
		return;
	CloseHandle(snapshot->handle);
	delete snapshot;
}

void DebugOutput(const char16_t *text)
{
	if (text)
		OutputDebugStringW(reinterpret_cast<const wchar_t *>(text));
}

LibraryHandle LoadLibraryByName(const char *file_name)
{
	if (!file_name || !*file_name)
		return nullptr;
	return reinterpret_cast<LibraryHandle>(LoadLibraryA(file_name));
}

void *LibrarySymbol(LibraryHandle library, const char *name)
{
	if (!library || !name)
		return nullptr;
	return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryHandle(LibraryHandle library)
{
	if (library)
		FreeLibrary(static_cast<HMODULE>(library));
}

const char *HookLibraryName()
{
	return "vorlix.dll";
}

std::string ExecutableDirectory()
{
	wchar_t path[MAX_PATH * 4];
	const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
	if (n == 0 || n >= MAX_PATH * 4)
		return std::string();
	const std::string utf8 = Narrow(path, CP_UTF8);
	const size_t slash = utf8.find_last_of("\\/");
	return slash == std::string::npos ? std::string() : utf8.substr(0, slash);
}

std::vector<std::string> CommandLineText(int argc, const char *const *argv)
{
	int count = 0;
	wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
	std::vector<std::string> args;
	for (int i = 0; i < argc; ++i) {
		// The runtime and CommandLineToArgvW split a command line alike but
		// for odd quoting; where they differ, argv is what main() saw.
		const bool agrees = wide && count == argc && Narrow(wide[i], CP_ACP) == argv[i];
		args.push_back(agrees ? Narrow(wide[i], CP_UTF8)
				      : Narrow(Widen(argv[i], CP_ACP).c_str(), CP_UTF8));
	}
	LocalFree(wide);
	return args;
}

} // namespace platform
