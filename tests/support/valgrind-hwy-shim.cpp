// Preloaded only for runs under valgrind. libobs pulls in libhwy (through
// libjxl), whose start-up code measures its timer with RDTSCP, an
// instruction valgrind 3.19 cannot execute here, so the program would die
// with SIGILL before main. This stands in for that one measurement, which
// the program never uses.
#include <cstdint>

namespace hwy {
namespace platform {
__attribute__((visibility("default"))) uint64_t TimerResolution()
{
	return 1;
}
} // namespace platform
} // namespace hwy
