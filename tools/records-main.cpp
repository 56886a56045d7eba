#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/records-command.h"
#include "tools/records-options.h"

int main(int argc, char **argv)
{
	try {
		const std::vector<std::string> args(argv + 1, argv + argc);
		return RunRecords(args, stdout, stderr);
	} catch (const std::exception &e) {
		// Out of memory on a huge file, for instance: one line, no crash.
		std::fprintf(stderr, "vorlix-records: %s\n", e.what());
		return kExitBadInput;
	}
}
