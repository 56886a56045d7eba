#include "logging/config-path.h"

#include <cstdlib>

#include <util/bmem.h>
#include <util/platform.h>

#include "platform/platform.h"

std::string NativeSeparators(std::string path)
{
#ifndef _WIN32
	for (char &c : path)
		if (c == '\\')
			c = '/';
#endif
	return path;
}

bool MakeDirectories(const std::string &path)
{
	if (path.empty())
		return false;
	// Every folder on the way, from the top; those that exist answer Exists.
	for (size_t at = path.find_first_of("/\\", 1); at != std::string::npos;
	     at = path.find_first_of("/\\", at + 1))
		if (path[at - 1] != '/' && path[at - 1] != '\\' && path[at - 1] != ':')
			platform::MakeDirectory(path.substr(0, at).c_str());
	return platform::MakeDirectory(path.c_str()) != platform::CreateResult::Failed;
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
