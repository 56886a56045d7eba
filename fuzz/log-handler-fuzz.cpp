// The log line handler over any text and level, writing into a log file
// stream as the program opens it. The input: four bytes of level, one byte choosing one of two call
// sites (format strings at different addresses), then the text. The written
// lines are checked against the rules of the log file: one line per line of
// the text (cut at 4,094 bytes, a CR before each LF dropped), each behind
// the same time prefix, maybe after one summary of suppressed repeats.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "logging/log-handler.h"

namespace {

const char kSiteA[] = "%s";
const char kSiteB[] = "%s";

char logPath[] = "/tmp/log-handler-fuzz-XXXXXX";
std::fstream *logStream; // opened once, emptied for each input

void RemoveLogFile()
{
	unlink(logPath);
}

// Stands in for libobs's console handler: formats as it does, prints nothing.
void QuietConsole(int, const char *format, va_list args, void *)
{
	char text[4096];
	vsnprintf(text, sizeof(text), format, args);
}

void Log(int level, const char *format, std::fstream *stream, ...)
{
	va_list args;
	va_start(args, stream);
	FileLogHandler(level, format, args, stream);
	va_end(args);
}

std::vector<std::string> Lines(const std::string &text)
{
	std::vector<std::string> lines;
	size_t start = 0;
	for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
		lines.push_back(text.substr(start, lf - start));
	if (start != text.size())
		lines.push_back(text.substr(start)); // unterminated: a fault
	return lines;
}

// "HH:MM:SS.mmm: " in the C locale.
bool IsPrefix(const std::string &line)
{
	static const char shape[] = "00:00:00.000: ";
	if (line.size() < sizeof(shape) - 1)
		return false;
	for (size_t i = 0; i + 1 < sizeof(shape); ++i) {
		const bool digit = line[i] >= '0' && line[i] <= '9';
		if (shape[i] == '0' ? !digit : line[i] != shape[i])
			return false;
	}
	return true;
}

// The text's lines as the file must hold them.
std::vector<std::string> ExpectedLines(std::string text)
{
	if (text.size() > 4094)
		text.resize(4094);
	std::vector<std::string> lines;
	size_t start = 0;
	for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1) {
		std::string line = text.substr(start, lf - start);
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		lines.push_back(line);
	}
	lines.push_back(text.substr(start));
	return lines;
}

void Check(const std::string &written, const std::string &text, int level)
{
	std::vector<std::string> lines = Lines(written);
	if (written.empty() || level > 300) {
		if (!written.empty())
			std::abort(); // debug and lower levels never reach the file
		return;
	}
	if (written.back() != '\n')
		std::abort();
	const std::vector<std::string> expected = ExpectedLines(text);
	if (lines.size() == expected.size() + 1) {
		if (!IsPrefix(lines[0]) ||
		    lines[0].find(": Last log entry repeated for ") != 12)
			std::abort();
		lines.erase(lines.begin());
	}
	if (lines.size() != expected.size())
		std::abort();
	for (size_t i = 0; i < lines.size(); ++i)
		if (!IsPrefix(lines[i]) || lines[i].compare(0, 14, lines[0], 0, 14) != 0 ||
		    lines[i].substr(14) != expected[i])
			std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	savedConsoleHandler = QuietConsole;
	const int fd = mkstemp(logPath);
	if (fd < 0)
		std::abort();
	close(fd);
	std::atexit(RemoveLogFile);
	logStream = new std::fstream(logPath, std::ios::in | std::ios::out | std::ios::binary);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 5)
		return 0;
	int32_t level;
	std::memcpy(&level, data, sizeof(level));
	const char *site = data[4] & 1 ? kSiteB : kSiteA;
	const std::string bytes(reinterpret_cast<const char *>(data + 5), size - 5);
	const std::string text = bytes.substr(0, bytes.find('\0'));

	std::fstream &stream = *logStream;
	if (truncate(logPath, 0) != 0)
		std::abort();
	stream.clear();
	stream.seekp(0);
	Log(level, site, &stream, text.c_str());
	stream.seekg(0);
	const std::string written((std::istreambuf_iterator<char>(stream)),
				  std::istreambuf_iterator<char>());
	// A written entry is suppressed only as a repeat, which writes nothing.
	Check(written, text, level);
	return 0;
}
