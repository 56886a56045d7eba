#pragma once
// The companion input-hook library (libvorlix.so / vorlix.dll). The program
// loads it at run time and looks these up by name; all three take no
// arguments and have C linkage.
#include <stdint.h>

#if defined(_WIN32)
#define VORLIX_HOOK_API __declspec(dllexport)
#else
#define VORLIX_HOOK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The tick counter's value (milliseconds since boot, sleep included: the
// clock of GetTickCount64 / CLOCK_BOOTTIME) at the user's last keyboard or
// mouse input; 0 or less when none is known (no hook set, no display).
VORLIX_HOOK_API int64_t GetLastActiveTime(void);

// Starts following the user's input; non-zero on success. On X11 it fails
// without a display, or on a server with neither XInput2 nor the
// MIT-SCREEN-SAVER extension.
VORLIX_HOOK_API int32_t SetVorlixHook(void);

// Stops following it; non-zero when a hook was set and is now removed.
VORLIX_HOOK_API int32_t UnSetVorlixHook(void);

#ifdef __cplusplus
}
#endif

// The exports' types, for the program's GetProcAddress / dlsym casts.
typedef int64_t (*GetLastActiveTimeFunc)(void);
typedef int32_t (*SetVorlixHookFunc)(void);
typedef int32_t (*UnSetVorlixHookFunc)(void);
