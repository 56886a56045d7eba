// The input hook on Windows: GetLastInputInfo already follows every
// keyboard and mouse input of the session, so no hook procedure is needed.
// Its time is the 32-bit tick counter, which wraps every 49.7 days; it is
// widened against GetTickCount64 by the distance back from now.
#include "hook/vorlix-hook.h"

#include <windows.h>

namespace {

bool hook_set = false;

} // namespace

extern "C" int32_t SetVorlixHook(void)
{
	LASTINPUTINFO info = {};
	info.cbSize = sizeof(info);
	if (!GetLastInputInfo(&info))
		return 0;
	hook_set = true;
	return 1;
}

extern "C" int32_t UnSetVorlixHook(void)
{
	if (!hook_set)
		return 0;
	hook_set = false;
	return 1;
}

extern "C" int64_t GetLastActiveTime(void)
{
	if (!hook_set)
		return 0;
	LASTINPUTINFO info = {};
	info.cbSize = sizeof(info);
	if (!GetLastInputInfo(&info))
		return 0;
	const ULONGLONG now = GetTickCount64();
	// Unsigned 32-bit subtraction gives the distance even across a wrap.
	const DWORD since = static_cast<DWORD>(now) - info.dwTime;
	return static_cast<int64_t>(now) - static_cast<int64_t>(since);
}
