// Stands in for a Windows Store app's frame: built as ApplicationFrameHost.exe,
// it shows a top-level frame and starts the app (the program given as its
// argument), which puts its own window inside the frame. The frame's title
// holds a lone surrogate (U+D83D between "ab" and "cd"), as a title cut
// inside a pair by its program does. Runs until its window is closed or the
// prefix ends.
#include <cstdio>
#include <string>

#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
	if (argc != 2) {
		std::fprintf(stderr, "usage: ApplicationFrameHost.exe APP.exe\n");
		return 2;
	}
	WNDCLASSW frame_class = {};
	frame_class.lpfnWndProc = DefWindowProcW;
	frame_class.hInstance = GetModuleHandleW(nullptr);
	frame_class.lpszClassName = L"ApplicationFrameWindow";
	RegisterClassW(&frame_class);
	const wchar_t title[] = {L'S', L't', L'o', L'r', L'e', L' ', L'a', L'b',
				 0xD83D, L'c', L'd', L' ', 0x8BA1, 0x7B97, 0x5668, 0};
	HWND frame = CreateWindowExW(0, frame_class.lpszClassName, title,
				     WS_OVERLAPPEDWINDOW, 80, 80, 400, 300,
				     nullptr, nullptr, frame_class.hInstance, nullptr);
	if (!frame)
		return 1;

	std::wstring command = L"\"" + std::wstring(argv[1]) + L"\" " +
			       std::to_wstring(reinterpret_cast<uintptr_t>(frame));
	STARTUPINFOW startup = {};
	startup.cb = sizeof(startup);
	PROCESS_INFORMATION process = {};
	if (!CreateProcessW(argv[1], &command[0], nullptr, nullptr, FALSE, 0, nullptr,
			    nullptr, &startup, &process)) {
		std::fprintf(stderr, "cannot start the app: error %lu\n", GetLastError());
		return 1;
	}
	CloseHandle(process.hThread);
	CloseHandle(process.hProcess);

	// Shown with the app's window inside, as a Store app comes to the front.
	MSG message;
	for (int i = 0; i < 500 && !GetWindow(frame, GW_CHILD); ++i) {
		while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
			DispatchMessageW(&message);
		Sleep(20);
	}
	ShowWindow(frame, SW_SHOW);
	SetForegroundWindow(frame);

	while (GetMessageW(&message, nullptr, 0, 0) > 0) {
		TranslateMessage(&message);
		DispatchMessageW(&message);
	}
	return 0;
}
