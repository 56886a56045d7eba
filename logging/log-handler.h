#pragma once
// The file log handler: every entry is echoed to the console, filtered by
// level and by the repeated-entry rule, and written to the log file as one
// time-stamped line per line of its text.
#include <cstdarg>
#include <iosfwd>
#include <string>

#include <util/base.h>

// libobs's default console handler, captured at start before any handler of
// ours is installed. FileLogHandler forwards every entry to it.
extern log_handler_t savedConsoleHandler;

// Captures libobs's current (default console) handler into savedConsoleHandler.
void SaveConsoleHandler();

// The log_handler_t installed on the log file; `param` must point to the
// std::fstream of the log file (nothing else: it is cast back to that type).
void FileLogHandler(int level, const char *format, va_list args, void *param);

// True when the entry must not be written: the same call site (format address)
// with a byte sum within 765 of the run's first entry, after 30 repeats.
// Writes the "Last log entry repeated" summary line when a suppressed run ends.
bool IsRepeatedLogEntry(std::ostream &stream, const char *format,
			const char *text);

// Local time of day with milliseconds, e.g. "14:03:07.042".
std::string LogTimeString();

// `text` (UTF-8) fit to stand inside a log line: every control character
// (U+0000..U+001F, U+007F and U+0080..U+009F) written as \n, \r, \t or
// \xNN, the line and paragraph separators and the bidirectional controls
// (U+2028..U+202E, U+2066..U+2069) as \uNNNN, and a backslash as \\, so
// that text from outside (a window's title) can neither start a line of its
// own, nor reorder what a reader sees, nor drive the terminal that shows the
// log, and the escaping can be undone.
std::string EscapeControlCharacters(const std::string &text);

// Puts libobs's default console handler back. Called before every exit once
// the log file is open, always before the file stream is destroyed.
void RestoreConsoleHandler();
