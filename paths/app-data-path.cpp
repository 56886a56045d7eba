#include "paths/app-data-path.h"

#include <util/base.h>
#include <util/bmem.h>
#include <util/platform.h>

#include "platform/platform.h"

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

bool EnsureDirectory(const std::string &path, const char *label)
{
	if (!path.empty()) {
		if (os_dir_t *listing = os_opendir(path.c_str())) {
			os_closedir(listing);
			return true;
		}
		blog(LOG_INFO, "%s %s not exist", label, path.c_str());
	}
	if (!MakeDirectories(path)) {
		blog(LOG_ERROR, "mkdir %s %s fail", label, path.c_str());
		return false;
	}
	return true;
}

std::string ConfigPath(const std::string &name)
{
	if (!platform::ApplicationDataFolderKnown())
		return std::string();
	char *resolved = os_get_config_path_ptr(name.c_str());
	if (!resolved)
		return std::string();
	std::string path(resolved);
	bfree(resolved);
	return platform::NativeSeparators(std::move(path));
}
