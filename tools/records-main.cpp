#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/records-command.h"
#include "tools/records-options.h"

int main(int argc, char **argv)
{
	try {
		// File names as typed: UTF-8 on Windows, whatever the code page.
		const std::vector<std::string> text =
			platform::CommandLineText(argc, argv);
		const std::vector<std::string> args(text.begin() + 1, text.end());
		return RunRecords(args, stdout, stderr);
	} catch (const std::exception &e) {
		// Out of memory on a huge file, for instance: one line, no crash.
		std::fprintf(stderr, "vorlix-records: %s\n", e.what());
		return kExitBadInput;
	}
}
