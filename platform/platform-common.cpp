// The part of the operating-system layer that every OS shares.
#include "platform/platform.h"

#include <atomic>

#include "platform/platform-backend.h"

namespace platform {

namespace {

std::atomic<TickSource> tickSource{nullptr};

} // namespace

uint64_t TickCount64()
{
	const TickSource source = tickSource.load(std::memory_order_relaxed);
	return source ? source() : backend::TickCount64();
}

void SetTickSource(TickSource source)
{
	tickSource.store(source, std::memory_order_relaxed);
}

} // namespace platform
