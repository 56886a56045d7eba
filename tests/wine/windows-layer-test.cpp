// The Windows layer and the hook DLL for real: cross-compiled with MinGW-w64
// and run under Wine on an X display. GoogleTest has no MinGW build here, so
// the program checks its own results: one line per check on standard
// output, exit status 1 if any failed.
#include <cstdio>
#include <cwchar>
#include <string>

#include <windows.h>

#include "hook/vorlix-hook.h"
#include "platform/platform.h"

namespace {

int failures = 0;

void Check(bool ok, const char *what, int line)
{
	std::printf("%s %s (line %d)\n", ok ? "ok  " : "FAIL", what, line);
	std::fflush(stdout);
	if (!ok)
		++failures;
}

#define CHECK(condition) Check((condition), #condition, __LINE__)

// Not ASCII, and ending in a surrogate pair (U+1F600).
const wchar_t kTitle[] = L"Vorlix \u2013 \u7a97\u53e3 \u2713 \U0001F600";

const char16_t *U16(const wchar_t *text)
{
	return reinterpret_cast<const char16_t *>(text);
}

void PumpMessages()
{
	MSG message;
	while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
		TranslateMessage(&message);
		DispatchMessageW(&message);
	}
}

// Pumps messages until `check` holds, at most 10 s.
template <typename Check> bool WaitFor(Check check)
{
	for (int i = 0; i < 1000; ++i) {
		PumpMessages();
		if (check())
			return true;
		Sleep(10);
	}
	return false;
}

HWND OpenWindow()
{
	WNDCLASSW window_class = {};
	window_class.lpfnWndProc = DefWindowProcW;
	window_class.hInstance = GetModuleHandleW(nullptr);
	window_class.lpszClassName = L"VorlixLayerTest";
	RegisterClassW(&window_class);
	HWND window = CreateWindowExW(0, window_class.lpszClassName, kTitle,
				      WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200,
				      nullptr, nullptr, window_class.hInstance, nullptr);
	ShowWindow(window, SW_SHOW);
	SetForegroundWindow(window);
	return window;
}

void CheckWindows(HWND window)
{
	const auto handle = reinterpret_cast<platform::WindowHandle>(window);
	const bool in_foreground = WaitFor([&] { return platform::ForegroundWindow() == handle; });
	CHECK(in_foreground);
	CHECK(platform::DesktopWindow() == reinterpret_cast<platform::WindowHandle>(GetDesktopWindow()));

	struct Seen {
		platform::WindowHandle wanted;
		int calls;
		bool found;
	} seen{handle, 0, false};
	const bool walked_all = platform::EnumTopLevelWindows(
		[](platform::WindowHandle w, std::intptr_t user) {
			auto *s = reinterpret_cast<Seen *>(user);
			++s->calls;
			s->found = s->found || w == s->wanted;
			return true;
		},
		reinterpret_cast<std::intptr_t>(&seen));
	CHECK(walked_all);
	CHECK(seen.found);
	int calls = 0;
	const bool walked_on = platform::EnumTopLevelWindows(
		[](platform::WindowHandle, std::intptr_t user) {
			++*reinterpret_cast<int *>(user);
			return false;
		},
		reinterpret_cast<std::intptr_t>(&calls));
	CHECK(!walked_on);
	CHECK(calls == 1);
}

void CheckTitle(HWND window)
{
	const auto handle = reinterpret_cast<platform::WindowHandle>(window);
	const int length = static_cast<int>(wcslen(kTitle));
	char16_t buffer[150] = {};
	CHECK(platform::WindowTitle(handle, buffer, 149) == length);
	CHECK(wcscmp(reinterpret_cast<const wchar_t *>(buffer), kTitle) == 0);
	// Room for all but the last unit: the pair goes whole.
	CHECK(platform::WindowTitle(handle, buffer, length) == length - 2);
	CHECK(buffer[length - 2] == 0);
	CHECK(platform::WindowTitle(handle, buffer, 1) == 0 && buffer[0] == 0);
	CHECK(platform::WindowTitle(0, buffer, 149) == 0 && buffer[0] == 0);
}

void CheckProcess(HWND window)
{
	const uint32_t pid = platform::WindowProcessId(reinterpret_cast<platform::WindowHandle>(window));
	CHECK(pid == GetCurrentProcessId());
	CHECK(platform::WindowProcessId(0) == 0);

	platform::ProcessSnapshot *snapshot = platform::OpenProcessSnapshot();
	CHECK(snapshot != nullptr);
	std::wstring name;
	platform::ProcessEntry entry{};
	for (bool more = platform::FirstProcess(snapshot, &entry); more;
	     more = platform::NextProcess(snapshot, &entry))
		if (entry.pid == pid)
			name = reinterpret_cast<const wchar_t *>(entry.exe_file);
	platform::CloseProcessSnapshot(snapshot);
	CHECK(_wcsicmp(name.c_str(), L"vorlix-windows-test.exe") == 0);
}

void SendShiftKey()
{
	INPUT keys[2] = {};
	keys[0].type = INPUT_KEYBOARD;
	keys[0].ki.wVk = VK_SHIFT;
	keys[1] = keys[0];
	keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
	SendInput(2, keys, sizeof(INPUT));
}

void CheckHook()
{
	platform::LibraryHandle hook = platform::LoadLibraryByName(platform::HookLibraryName());
	CHECK(hook != nullptr);
	const auto last_active = reinterpret_cast<GetLastActiveTimeFunc>(
		platform::LibrarySymbol(hook, "GetLastActiveTime"));
	const auto set = reinterpret_cast<SetVorlixHookFunc>(platform::LibrarySymbol(hook, "SetVorlixHook"));
	const auto unset = reinterpret_cast<UnSetVorlixHookFunc>(
		platform::LibrarySymbol(hook, "UnSetVorlixHook"));
	CHECK(last_active && set && unset);
	CHECK(platform::LibrarySymbol(hook, "NoSuchExport") == nullptr);
	if (!last_active || !set || !unset)
		return;

	CHECK(set() != 0);
	const int64_t before = last_active();
	Sleep(300);
	const int64_t tick_before_input = static_cast<int64_t>(platform::TickCount64());
	SendShiftKey();
	const bool moved_on = WaitFor([&] { return last_active() > before; });
	CHECK(moved_on);
	const int64_t after = last_active();
	CHECK(after >= tick_before_input - 50);
	CHECK(after <= static_cast<int64_t>(platform::TickCount64()));
	CHECK(unset() != 0);
	CHECK(last_active() <= 0);
	platform::FreeLibraryHandle(hook);
	CHECK(platform::LoadLibraryByName("vorlix-no-such-library.dll") == nullptr);
}

std::string Utf8(const wchar_t *wide)
{
	const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
	std::string text(static_cast<size_t>(size), '\0');
	WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
	text.resize(static_cast<size_t>(size - 1));
	return text;
}

uint64_t FixedTick()
{
	return 12345;
}

void CheckClocksAndFiles()
{
	wchar_t temp[MAX_PATH];
	GetTempPathW(MAX_PATH, temp);
	const std::string path = Utf8(temp) + "vorlix-\xe7\x8b\xac\xe5\x8d\xa0.lock"; // "独占"
	DeleteFileW((std::wstring(temp) + L"vorlix-\u72ec\u5360.lock").c_str());
	CHECK(platform::CreateFileExclusively(path.c_str()) == platform::CreateResult::Created);
	CHECK(platform::CreateFileExclusively(path.c_str()) == platform::CreateResult::Exists);
	const std::string folder = Utf8(temp) + "vorlix-\xe7\x8b\xac";
	RemoveDirectoryW((std::wstring(temp) + L"vorlix-\u72ec").c_str());
	CHECK(platform::MakeDirectory(folder.c_str()) == platform::CreateResult::Created);
	CHECK(platform::MakeDirectory(folder.c_str()) == platform::CreateResult::Exists);
	const std::string round_about = folder + "\\..\\" + path.substr(Utf8(temp).size());
	CHECK(platform::SameFile(path.c_str(), round_about.c_str()));
	CHECK(!platform::SameFile(path.c_str(), folder.c_str()));
	RemoveDirectoryW((std::wstring(temp) + L"vorlix-\u72ec").c_str());
	// A lock keeps other lockers out, but neither the file's writers nor its
	// holder's deletion.
	platform::FileLock *lock = platform::TryLockFile(path.c_str());
	CHECK(lock != nullptr);
	CHECK(platform::TryLockFile(path.c_str()) == nullptr);
	FILE *log = _wfopen((std::wstring(temp) + L"vorlix-\u72ec\u5360.lock").c_str(), L"a");
	CHECK(log && std::fputs("line\n", log) >= 0 && std::fflush(log) == 0);
	if (log)
		std::fclose(log);
	CHECK(DeleteFileW((std::wstring(temp) + L"vorlix-\u72ec\u5360.lock").c_str()) != 0);
	platform::ReleaseFileLock(lock);

	const int64_t now = platform::WallClockSeconds();
	const int64_t from_100ns = static_cast<int64_t>(platform::WallClock100ns() / 10000000u);
	CHECK(from_100ns - now >= -2 && from_100ns - now <= 2);
	std::tm local{};
	CHECK(platform::LocalTime(now, &local) && local.tm_year >= 120);
	platform::SetTickSource(FixedTick);
	CHECK(platform::TickCount64() == 12345);
	platform::SetTickSource(nullptr);
	CHECK(platform::TickCount64() > 12345);
	platform::DebugOutput(U16(L"CreateToolhelp32Snapshot\u5931\u8d25\n"));
}

// The folder of the running program in UTF-8: its module's path, as the
// test reads it, less the file name.
void CheckExecutableDirectory()
{
	wchar_t path[MAX_PATH];
	CHECK(GetModuleFileNameW(nullptr, path, MAX_PATH) > 0);
	CHECK(platform::ExecutableDirectory() + "\\vorlix-windows-test.exe" == Utf8(path));
}

} // namespace

int main()
{
	const HWND window = OpenWindow();
	CHECK(window != nullptr);
	if (window) {
		CheckWindows(window);
		CheckTitle(window);
		CheckProcess(window);
	}
	CheckHook();
	CheckClocksAndFiles();
	CheckExecutableDirectory();
	std::printf("%s: %d failed\n", failures ? "FAILED" : "PASSED", failures);
	return failures ? 1 : 0;
}
