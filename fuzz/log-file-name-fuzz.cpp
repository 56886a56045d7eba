// The log file name key over any name, against a regular expression that
// states the "Y-M-D H-M-S" pattern independently of libobs's lexer.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include <util/base.h>

#include "logging/log-file.h"

namespace {

void Silent(int, const char *, va_list, void *) {}

// White space is what the lexer skips: space, tab, CR, LF.
const std::regex kPattern(
	"^[ \t\r\n]*([0-9]+)[ \t\r\n]*-[ \t\r\n]*([0-9]+)[ \t\r\n]*-[ \t\r\n]*"
	"([0-9]+)[ \t\r\n]+([0-9]+)[ \t\r\n]*-[ \t\r\n]*([0-9]+)[ \t\r\n]*-"
	"[ \t\r\n]*([0-9]+)");

uint64_t ReferenceKey(const std::string &name)
{
	std::smatch match;
	if (!std::regex_search(name, match, kPattern))
		return 0;
	std::string digits;
	for (int i = 1; i <= 6; ++i)
		digits += match[i].str();
	errno = 0;
	const unsigned long long key = std::strtoull(digits.c_str(), nullptr, 10);
	return errno == ERANGE ? 0 : key;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	base_set_log_handler(Silent, nullptr);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// A file name ends at its first NUL.
	const std::string name(reinterpret_cast<const char *>(data),
			       strnlen(reinterpret_cast<const char *>(data), size));
	if (LogFileNameKey(name.c_str()) != ReferenceKey(name))
		std::abort();
	return 0;
}
