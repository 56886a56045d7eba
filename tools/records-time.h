#pragma once
// Times of the records: Unix seconds on the server clock, shown and given in
// the local time zone.
#include <cstdint>
#include <string>

// Reads a --since/--until value: Unix seconds (digits, optionally after
// "-") or a local date "YYYY-MM-DD", optionally followed by " " or "T" and
// "HH:MM" or "HH:MM:SS". False when the text is neither or names no real
// date.
bool ParseTimeArgument(const std::string &text, int64_t &seconds);

// "YYYY-MM-DD HH:MM:SS" in local time; "" when it cannot be converted.
std::string FormatLocalTime(int64_t seconds);

// "H:MM:SS" (hours as many digits as needed); negative values as 0.
std::string FormatDuration(int64_t seconds);
