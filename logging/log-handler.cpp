#include "logging/log-handler.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <ostream>


log_handler_t savedConsoleHandler = nullptr;

namespace {

constexpr int kRepeatsWritten = 30;
constexpr int kSumTolerance = 765;
constexpr size_t kMessageLimit = 4095; // includes the terminating zero

// The repeated-entry filter state; only touched under filterMutex().
const char *lastFormat = nullptr;
int32_t lastSum = 0;
int32_t repeatCount = 0;

std::mutex &filterMutex()
{
	// Created on first use (thread-safe since C++11), destroyed at exit.
	static std::mutex mutex;
	return mutex;
}

// Serialises whole lines, so lines from several threads never interleave.
std::mutex &streamMutex()
{
	static std::mutex mutex;
	return mutex;
}

// A full disk puts the file stream into its failed state, and a failed
// stream drops every later insertion: the log would stay silent for the rest
// of the run, its last lines included, even once there is space again. So
// each line starts from a cleared state; a line that cannot be written is
// still dropped without a word. Called with the stream's lock held.
void ClearFailure(std::ostream &stream)
{
	if (!stream.good())
		stream.clear();
}

void WriteLine(std::ostream &stream, const std::string &prefix,
	       const char *text, size_t length)
{
	std::lock_guard<std::mutex> guard(streamMutex());
	ClearFailure(stream);
	stream << prefix;
	stream.write(text, static_cast<std::streamsize>(length));
	stream << std::endl;
}

int32_t ByteSum(const char *text)
{
	int32_t sum = 0;
	for (const char *p = text; *p; ++p)
		sum += static_cast<int8_t>(*p);
	return sum;
}

} // namespace

void SaveConsoleHandler()
{
	void *unused = nullptr;
	base_get_log_handler(&savedConsoleHandler, &unused);
}

void RestoreConsoleHandler()
{
	base_set_log_handler(nullptr, nullptr);
}

namespace {

// U+2028 and U+2029 (line and paragraph separators) and the bidirectional
// controls U+202A..U+202E and U+2066..U+2069: E2 80 A8..AE and E2 81 A6..A9
// in UTF-8. Returns the code point, 0 for anything else.
unsigned SeparatorOrBidiControl(const std::string &text, size_t i)
{
	if (static_cast<unsigned char>(text[i]) != 0xE2 || i + 2 >= text.size())
		return 0;
	const auto b1 = static_cast<unsigned char>(text[i + 1]);
	const auto b2 = static_cast<unsigned char>(text[i + 2]);
	if ((b1 == 0x80 && b2 >= 0xA8 && b2 <= 0xAE) || (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9))
		return 0x2000u | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu);
	return 0;
}

} // namespace

std::string EscapeControlCharacters(const std::string &text)
{
	static const char kHex[] = "0123456789ABCDEF";
	std::string escaped;
	escaped.reserve(text.size());
	for (size_t i = 0; i < text.size(); ++i) {
		auto c = static_cast<unsigned char>(text[i]);
		if (const unsigned code = SeparatorOrBidiControl(text, i)) {
			escaped += {'\\', 'u', kHex[code >> 12], kHex[code >> 8 & 15],
				    kHex[code >> 4 & 15], kHex[code & 15]};
			i += 2;
			continue;
		}
		// U+0080..U+009F are the two bytes C2 80..C2 9F in UTF-8.
		const bool c1 = c == 0xC2 && i + 1 < text.size() &&
				(static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
		if (c >= 0x20 && c != 0x7F && c != '\\' && !c1) {
			escaped += text[i];
			continue;
		}
		if (c1)
			c = static_cast<unsigned char>(text[++i]);
		if (c == '\\')
			escaped += "\\\\";
		else if (c == '\n')
			escaped += "\\n";
		else if (c == '\r')
			escaped += "\\r";
		else if (c == '\t')
			escaped += "\\t";
		else
			escaped += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
	}
	return escaped;
}

// Always "HH:MM:SS.mmm" on a 24-hour clock, what "%X" gives in the C locale:
// the application object adopts the user's locale, and strftime would then
// change the format in the middle of the file (for instance to "10:16:46 AM").
std::string LogTimeString()
{
	const uint64_t units = platform::WallClock100ns();
	const uint64_t seconds = units / 10000000u;
	std::tm local{};
	platform::LocalTime(static_cast<int64_t>(seconds), &local);

	const unsigned millis =
		static_cast<unsigned>((units - seconds * 10000000u) / 10000u);
	char buffer[80];
	snprintf(buffer, sizeof(buffer), "%02d:%02d:%02d.%03u", local.tm_hour,
		 local.tm_min, local.tm_sec, millis);
	return buffer;
}

bool IsRepeatedLogEntry(std::ostream &stream, const char *format,
			const char *text)
{
	const int32_t sum = ByteSum(text);
	std::lock_guard<std::mutex> guard(filterMutex());

	if (format == lastFormat && std::abs(sum - lastSum) < kSumTolerance) {
		const int32_t old = repeatCount;
		repeatCount = old + 1;
		return old >= kRepeatsWritten;
	}

	if (repeatCount > kRepeatsWritten) {
		std::lock_guard<std::mutex> line(streamMutex());
		ClearFailure(stream);
		stream << LogTimeString() << ": Last log entry repeated for "
		       << (repeatCount - kRepeatsWritten) << " more lines"
		       << std::endl;
	}
	lastFormat = format;
	lastSum = sum;
	repeatCount = 0;
	return false;
}

void FileLogHandler(int level, const char *format, va_list args, void *param)
{
	char text[4096];
	va_list console_args;
	va_copy(console_args, args);
	vsnprintf(text, kMessageLimit, format, args);

	// Debian's libobs prints debug entries on the console as well; they are
	// meant for neither the file nor the console.
	if (savedConsoleHandler && level != LOG_DEBUG)
		savedConsoleHandler(level, format, console_args, nullptr);
	va_end(console_args);

	if (level > LOG_INFO)
		return;
	// Back to the type that went in: the ostream part of an fstream does not
	// start at its address.
	std::ostream &stream = *static_cast<std::fstream *>(param);
	if (IsRepeatedLogEntry(stream, format, text))
		return;

	const std::string prefix = LogTimeString() + ": ";
	const char *line = text;
	while (const char *lf = std::strchr(line, '\n')) {
		size_t length = static_cast<size_t>(lf - line);
		if (length > 0 && line[length - 1] == '\r')
			--length;
		WriteLine(stream, prefix, line, length);
		line = lf + 1;
	}
	WriteLine(stream, prefix, line, std::strlen(line));
}
