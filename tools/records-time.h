#pragma once
// Times of the records: Unix seconds on the server clock, shown and given in
// the local time zone.
#include <cstdint>
#include <string>

// Reads a --since/--until value: Unix seconds (digits, optionally after
// "-") or a local date "YYYY-MM-DD", optionally followed by " " or "T" and
// "HH:MM" or "HH:MM:SS", and then optionally an offset from UTC ("Z",
// "+08:00", "-04:00"), as the list shows times: with an offset the time is
// exact, without one it is local. False when the text is neither or names
// no real date.
bool ParseTimeArgument(const std::string &text, int64_t &seconds);

// "YYYY-MM-DD HH:MM:SS+HH:MM" (RFC 3339 with a space): local time and its
// offset from UTC, so that the two times of a fall-back hour differ; an
// offset of a zone's early history that holds seconds shows them
// ("+08:05:43"). "" when the time cannot be converted.
std::string FormatLocalTime(int64_t seconds);

// The zone that local times and days are in: "NAME (TZ)" when TZ is set,
// else "NAME (the system's)".
std::string TimeZoneDescription();

// "H:MM:SS" (hours as many digits as needed); negative values as 0.
std::string FormatDuration(int64_t seconds);
