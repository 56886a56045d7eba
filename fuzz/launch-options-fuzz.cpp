// The option scan, the command-line echo and the numeric conversion over any
// argument vector: the input's bytes, split at each NUL into arguments.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/launch-options.h"

namespace {

// atoi/atol as the C library has it, clamped to 32 bits: the known answer
// for ParseInt32 (strtoll skips the same white space and saturates).
int32_t ReferenceInt32(const char *text)
{
	errno = 0;
	const long long value = std::strtoll(text, nullptr, 10);
	if (value > INT32_MAX)
		return INT32_MAX;
	if (value < INT32_MIN)
		return INT32_MIN;
	return static_cast<int32_t>(value);
}

bool HasWord(const std::string &line, const std::string &word)
{
	return (" " + line + " ").find(" " + word + " ") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> args{"vorlix-monitor"};
	args.emplace_back();
	for (size_t i = 0; i < size; ++i) {
		if (data[i] == 0)
			args.emplace_back();
		else
			args.back() += static_cast<char>(data[i]);
	}
	std::vector<const char *> argv;
	for (const std::string &arg : args)
		argv.push_back(arg.c_str());
	argv.push_back(nullptr);
	const int argc = static_cast<int>(args.size());

	for (const std::string &arg : args)
		if (ParseInt32(arg.c_str()) != ReferenceInt32(arg.c_str()))
			std::abort();

	const ScannedOptions scan = ScanOptions(argc, argv.data());
	const std::string echo = CommandLineEcho(argc, argv.data(), scan);
	if (echo.size() > size + 1)
		std::abort();
	// A key the scan took never reaches the echo as a word of its own,
	// unless its text also stands inside another argument.
	for (const int position : scan.key_positions) {
		const std::string &key = args[static_cast<size_t>(position)];
		if (key.empty() || key.find(' ') != std::string::npos)
			continue;
		int holders = 0;
		for (const std::string &arg : args)
			holders += arg.find(key) != std::string::npos;
		if (holders == 1 && HasWord(echo, key))
			std::abort();
	}
	return 0;
}
