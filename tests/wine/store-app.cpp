// Stands in for a Windows Store app: its window (class
// Windows.UI.Core.CoreWindow) is made a child of the frame whose handle it is
// given, a window of another process (ApplicationFrameHost.exe). Says on
// standard output whether the frame took it, and runs while the frame lives.
#include <cstdio>
#include <cstdlib>

#include <windows.h>

int main(int argc, char **argv)
{
	if (argc != 2)
		return 2;
	HWND frame = reinterpret_cast<HWND>(std::strtoull(argv[1], nullptr, 10));
	WNDCLASSW app_class = {};
	app_class.lpfnWndProc = DefWindowProcW;
	app_class.hInstance = GetModuleHandleW(nullptr);
	app_class.lpszClassName = L"Windows.UI.Core.CoreWindow";
	RegisterClassW(&app_class);
	HWND window = CreateWindowExW(0, app_class.lpszClassName, L"Store app", WS_POPUP,
				      0, 0, 300, 200, nullptr, nullptr, app_class.hInstance,
				      nullptr);
	SetWindowLongPtrW(window, GWL_STYLE, WS_CHILD | WS_VISIBLE);
	const bool held = SetParent(window, frame) != nullptr && GetParent(window) == frame;
	std::printf("store app window %s the frame (error %lu)\n",
		    held ? "inside" : "NOT inside", held ? 0ul : GetLastError());
	std::fflush(stdout);

	while (IsWindow(frame)) {
		MSG message;
		while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
			DispatchMessageW(&message);
		MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
	}
	return 0;
}
