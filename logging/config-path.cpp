#include "logging/config-path.h"

#include <cstdlib>

#include <util/bmem.h>
#include <util/platform.h>

std::string NativeSeparators(std::string path)
{
#ifndef _WIN32
	for (char &c : path)
		if (c == '\\')
			c = '/';
#endif
	return path;
}

std::string ConfigPath(const std::string &name)
{
#ifndef _WIN32
	// libobs would put an empty XDG_CONFIG_HOME in front as "" and so write
	// at the filesystem root; without HOME it ends the process.
	const char *xdg = std::getenv("XDG_CONFIG_HOME");
	if (xdg && !*xdg) {
		unsetenv("XDG_CONFIG_HOME");
		xdg = nullptr;
	}
	const char *home = std::getenv("HOME");
	if (!xdg && (!home || !*home))
		return std::string();
#endif
	char *resolved = os_get_config_path_ptr(name.c_str());
	if (!resolved)
		return std::string();
	std::string path(resolved);
	bfree(resolved);
	return NativeSeparators(std::move(path));
}
