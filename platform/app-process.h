#pragma once
// The process behind a window that a Wayland compositor names only by its
// application id (app_id), as the foreign-toplevel list does. Linux only.
#include <cstdint>
#include <string>

namespace platform {

// A running process of this user that runs the application `app_id`, 0
// when none can be told for sure:
//   1. a process whose executable's file name is `app_id`, case aside
//      ("foot", "firefox-esr", "chromium");
//   2. else a process running the program that the `Exec` line of the
//      desktop entry `<app_id>.desktop` names, in the applications/ folder
//      of $XDG_DATA_HOME (~/.local/share), then of each folder of
//      $XDG_DATA_DIRS (/usr/local/share:/usr/share); the first entry found
//      counts ("org.gnome.TextEditor" runs gnome-text-editor). `env NAME=V`
//      before the program is passed over; for `flatpak run` the program is
//      the one given with --command=. A shell's command line (sh -c ...)
//      names no program.
// Where the processes found run executables of more than one name, none is
// taken. Several processes of one executable (two windows of one program,
// a browser's helpers) give one of them: the name is the same.
uint32_t ApplicationProcess(const std::string &app_id);

// True when a process of this user runs an executable of that file name.
bool UserRunsProgram(const std::string &file_name);

} // namespace platform
