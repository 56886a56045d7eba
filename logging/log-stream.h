#pragma once
// How the log file's stream is opened differs per OS; one source per OS
// (log-stream-posix.cpp, log-stream-win32.cpp) defines this.
#include <fstream>
#include <string>

// Opens the existing file at the UTF-8 `path` for reading and writing
// without truncating it. On Windows the path is converted to a wide one, so
// a profile folder with any name works, and the file is opened in text mode
// (each line end stored as CR LF), shared for reading and writing but not
// for deletion.
void OpenLogStream(std::fstream &stream, const std::string &path);
