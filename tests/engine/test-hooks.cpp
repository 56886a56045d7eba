// Stand-ins for the input-hook library, one behaviour each, chosen at build
// time: they let the tests start the real program with a hook that lacks an
// export, refuses to install, or has never seen any input.
#include <cstdint>

extern "C" {

#if !defined(HOOK_WITHOUT_LAST_ACTIVE_TIME)
__attribute__((visibility("default"))) int64_t GetLastActiveTime()
{
	return 0; // no input known
}
#endif

__attribute__((visibility("default"))) int32_t SetVorlixHook()
{
#if defined(HOOK_REFUSES_TO_INSTALL)
	return 0;
#else
	return 1;
#endif
}

__attribute__((visibility("default"))) int32_t UnSetVorlixHook()
{
	return 0; // removal fails: the stop must go on all the same
}
}
