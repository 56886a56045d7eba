// Clocks and files on POSIX.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

uint64_t RealTickCount()
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<uint64_t>(now.tv_sec) * 1000u +
	       static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

std::atomic<TickSource> tickSource{nullptr};

} // namespace

uint64_t TickCount64()
{
	const TickSource source = tickSource.load(std::memory_order_relaxed);
	return source ? source() : RealTickCount();
}

void SetTickSource(TickSource source)
{
	tickSource.store(source, std::memory_order_relaxed);
}

int64_t WallClockSeconds()
{
	return static_cast<int64_t>(time(nullptr));
}

uint64_t WallClock100ns()
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	return static_cast<uint64_t>(now.tv_sec) * 10000000u +
	       static_cast<uint64_t>(now.tv_nsec) / 100u;
}

bool LocalTime(int64_t seconds, std::tm *out)
{
	const time_t t = static_cast<time_t>(seconds);
	return localtime_r(&t, out) != nullptr;
}

CreateResult CreateFileExclusively(const char *path)
{
	const int fd = ::open(path, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC,
			      0644);
	if (fd < 0)
		return errno == EEXIST ? CreateResult::Exists
				       : CreateResult::Failed;
	::close(fd);
	return CreateResult::Created;
}

} // namespace platform

namespace platform {

std::string ExecutableDirectory()
{
	char path[4096];
	const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
	if (n <= 0)
		return std::string();
	const std::string exe(path, static_cast<size_t>(n));
	return exe.substr(0, exe.rfind('/'));
}

} // namespace platform
