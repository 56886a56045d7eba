#include "monitor/shared-sample.h"

#include <utility>

#include <util/base.h>

namespace {

// The server clock's anchor: the tick counter and the machine's clock, read
// together before anything else runs, so that without a server time from the
// command line every record time is the machine's time at start plus the
// elapsed ticks.
ActiveInfoRecord AnchoredAtStart()
{
	ActiveInfoRecord record;
	record.landing_tick_count = platform::TickCount64();
	record.landing_server_time = platform::WallClockSeconds();
	return record;
}

} // namespace

ActiveInfoRecord SharedSample::ActiveInfo = AnchoredAtStart();
std::string SharedSample::record_dir;
std::string SharedSample::cipher_key;

void SharedSample::SetUserInfo(int32_t user_id, int32_t member_id)
{
	ActiveInfo.user_id = user_id;
	ActiveInfo.member_id = member_id;
}

void SharedSample::SetRecordDir(std::string dir)
{
	record_dir = std::move(dir);
}

void SharedSample::SetCipherKey(std::string key)
{
	cipher_key = std::move(key);
}

void SharedSample::SetLandingServerTime(int64_t landing_server_time)
{
	// The tick count stays the one of process start: the server time given
	// at log-in is paired with it, not with the moment of this call.
	ActiveInfo.landing_server_time = landing_server_time;
	blog(LOG_INFO, "SetLandingServerTime %lld landing_tick_count:%lld",
	     static_cast<long long>(landing_server_time),
	     static_cast<long long>(ActiveInfo.landing_tick_count));
}

int64_t SharedSample::ToServerTime(uint64_t tick)
{
	// A reading before the anchor lies before the server time at log-in:
	// the signed difference in whole seconds, rounded toward minus
	// infinity, so 5.5 s before is 6 s before and never lands after it.
	// The sum wraps like the 64-bit arithmetic it stands for instead of
	// overflowing a signed value.
	const int64_t difference =
		static_cast<int64_t>(tick - ActiveInfo.landing_tick_count);
	int64_t seconds = difference / 1000;
	if (difference % 1000 < 0)
		--seconds;
	return static_cast<int64_t>(
		static_cast<uint64_t>(ActiveInfo.landing_server_time) +
		static_cast<uint64_t>(seconds));
}
