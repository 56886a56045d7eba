#include "logging/log-stream.h"

#include <filesystem>

#include <util/bmem.h>
#include <util/platform.h>

void OpenLogStream(std::fstream &stream, const std::string &path)
{
	wchar_t *wide = nullptr;
	if (!os_utf8_to_wcs_ptr(path.c_str(), path.size(), &wide) || !wide)
		return;
	// Without ios::binary the runtime writes "\r\n" for each "\n"; its
	// _wfopen shares the file for reading and writing only.
	stream.open(std::filesystem::path(wide), std::ios::in | std::ios::out);
	bfree(wide);
}
