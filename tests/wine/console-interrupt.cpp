// Starts a program in this console, waits until a stop file appears (or the
// program ends), then presses Ctrl+C for the console: CTRL_C_EVENT to every
// process attached to it. Exits with the program's exit status.
//
//   console-interrupt.exe STOP_FILE PROGRAM [ARGS...]
#include <string>

#include <windows.h>

int main(int argc, char **argv)
{
	if (argc < 3)
		return 125;
	std::string command;
	for (int i = 2; i < argc; ++i)
		command += std::string(i > 2 ? " " : "") + "\"" + argv[i] + "\"";
	STARTUPINFOA startup = {};
	startup.cb = sizeof(startup);
	PROCESS_INFORMATION child = {};
	if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0,
			    nullptr, nullptr, &startup, &child))
		return 125;
	// Only now: the child would inherit "ignore Ctrl+C" from us.
	SetConsoleCtrlHandler(nullptr, TRUE);
	while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES &&
	       WaitForSingleObject(child.hProcess, 100) == WAIT_TIMEOUT) {
	}
	GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
	DWORD status = 124;
	if (WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0)
		GetExitCodeProcess(child.hProcess, &status);
	return static_cast<int>(status);
}
