#include "platform/linux-session.h"

#include <cstdlib>
#include <ctime>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace platform::session {

namespace {

bool IsSet(const char *name)
{
	const char *value = std::getenv(name);
	return value && *value;
}

// The folder of the object that holds this code, with its final slash. The
// main program's link map has no name: its file is /proc/self/exe.
std::string OwnFolder()
{
	Dl_info info{};
	link_map *map = nullptr;
	std::string file;
	if (dladdr1(reinterpret_cast<void *>(&OwnFolder), &info, reinterpret_cast<void **>(&map),
		    RTLD_DL_LINKMAP) &&
	    map && map->l_name && map->l_name[0] == '/') {
		file = map->l_name;
	} else {
		char path[4096];
		const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
		if (n > 0)
			file.assign(path, static_cast<size_t>(n));
	}
	const size_t slash = file.rfind('/');
	return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

} // namespace

int64_t BootTickMilliseconds()
{
	struct timespec now;
	clock_gettime(CLOCK_BOOTTIME, &now);
	return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool IsWaylandSession()
{
	return IsSet("WAYLAND_DISPLAY") || IsSet("SWAYSOCK");
}

const wayland::DesktopApi *LoadWaylandDesktop(std::string *why)
{
	const std::string path = OwnFolder() + VORLIX_WAYLAND_LIBRARY;
	void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
	if (!library) {
		const char *error = dlerror();
		*why = path + " could not be loaded: " + (error ? error : "unknown error");
		return nullptr;
	}
	using Entry = const wayland::DesktopApi *(*)();
	const auto entry = reinterpret_cast<Entry>(dlsym(library, "VorlixWaylandDesktop"));
	if (!entry) {
		*why = path + " has no VorlixWaylandDesktop";
		return nullptr;
	}
	return entry();
}

} // namespace platform::session
