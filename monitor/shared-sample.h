#pragma once
// The process-wide current sample, the record store's settings and the
// server clock. WindowMonitor inherits this class, so the state reads as the
// monitor's class-wide state (WindowMonitor::ActiveInfo) and is reachable
// from the enumeration callback and the record writer, which get no object.
#include <cstdint>
#include <string>

#include "platform/platform.h"

struct ActiveInfoRecord {
	int32_t user_id = 0;
	int32_t member_id = 0;
	int64_t landing_server_time = 0; // Unix seconds, anchor of the clock
	uint64_t landing_tick_count = 0; // tick counter at process start
	int64_t check_tm = 0;            // server time of the current tick
	int64_t active_tm = 0;           // server time of the last input; 0: none
	char16_t process[150] = {};      // executable name or "-", terminated
	char16_t title[150] = {};        // window title or "-", terminated
	platform::WindowHandle last_window = 0;
};

class SharedSample {
public:
	static ActiveInfoRecord ActiveInfo;
	static std::string record_dir; // relative to the application-data folder
	static std::string cipher_key; // 16 bytes, key and IV of the value cipher

	static void SetUserInfo(int32_t user_id, int32_t member_id);
	static void SetRecordDir(std::string record_dir);
	static void SetCipherKey(std::string cipher_key);
	// Replaces the server time at log-in, paired with the tick count of
	// process start, and logs both.
	static void SetLandingServerTime(int64_t landing_server_time);

	// landing_server_time + floor((tick - landing_tick_count) / 1000)
	static int64_t ToServerTime(uint64_t tick);
};
