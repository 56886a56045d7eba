#include "tools/records-time.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace {

// Reads exactly `count` digits at `pos`.
bool ReadDigits(const std::string &text, size_t &pos, int count, int &value)
{
	value = 0;
	for (int i = 0; i < count; ++i, ++pos) {
		if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
			return false;
		value = value * 10 + (text[pos] - '0');
	}
	return true;
}

bool ReadSeparator(const std::string &text, size_t &pos, const char *allowed)
{
	if (pos >= text.size())
		return false;
	for (const char *c = allowed; *c; ++c)
		if (text[pos] == *c) {
			++pos;
			return true;
		}
	return false;
}

bool ParseUnixSeconds(const std::string &text, int64_t &seconds)
{
	const size_t start = text[0] == '-' ? 1 : 0;
	if (start == text.size() ||
	    text.find_first_not_of("0123456789", start) != std::string::npos)
		return false;
	errno = 0;
	char *end = nullptr;
	const long long value = std::strtoll(text.c_str(), &end, 10);
	if (errno == ERANGE)
		return false;
	seconds = value;
	return true;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar (Howard Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t year, int month, int day)
{
	year -= month <= 2;
	const int64_t era = (year >= 0 ? year : year - 399) / 400;
	const int64_t year_of_era = year - era * 400;
	const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
	const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 -
				   year_of_era / 100 + day_of_year;
	return era * 146097 + day_of_era - 719468;
}

// Reads an offset from UTC at `pos`: "Z", or "+" or "-" and HH:MM,
// optionally :SS, as FormatLocalTime writes it.
bool ReadOffset(const std::string &text, size_t &pos, int64_t &offset)
{
	if (text[pos] == 'Z' || text[pos] == 'z') {
		++pos;
		offset = 0;
		return true;
	}
	const int sign = text[pos] == '-' ? -1 : 1;
	int hours, minutes, seconds = 0;
	if (!ReadSeparator(text, pos, "+-") || !ReadDigits(text, pos, 2, hours) ||
	    !ReadSeparator(text, pos, ":") || !ReadDigits(text, pos, 2, minutes) ||
	    hours > 23 || minutes > 59)
		return false;
	if (pos < text.size() && (!ReadSeparator(text, pos, ":") ||
				  !ReadDigits(text, pos, 2, seconds) ||
				  seconds > 59))
		return false;
	offset = sign * (hours * 3600 + minutes * 60 + seconds);
	return true;
}

// A date and time given with its offset: no time zone involved.
bool DateWithOffset(const std::tm &parts, int64_t offset, int64_t &seconds)
{
	const int64_t year = parts.tm_year + 1900;
	const int month = parts.tm_mon + 1;
	const int64_t first = DaysFromCivil(year, month, 1);
	const int64_t next = month == 12 ? DaysFromCivil(year + 1, 1, 1)
					 : DaysFromCivil(year, month + 1, 1);
	if (parts.tm_mday > next - first)
		return false;
	seconds = (first + parts.tm_mday - 1) * 86400 + parts.tm_hour * 3600 +
		  parts.tm_min * 60 + parts.tm_sec - offset;
	return true;
}

// Reads "YYYY-MM-DD[( |T)HH:MM[:SS][OFFSET]]" into `parts`, and the
// offset, when one is given, into `offset`.
bool ParseDateText(const std::string &text, std::tm &parts, bool &has_offset,
		   int64_t &offset)
{
	size_t pos = 0;
	int year, month, day, hour = 0, minute = 0, second = 0;
	has_offset = false;
	if (!ReadDigits(text, pos, 4, year) || !ReadSeparator(text, pos, "-") ||
	    !ReadDigits(text, pos, 2, month) || !ReadSeparator(text, pos, "-") ||
	    !ReadDigits(text, pos, 2, day))
		return false;
	if (pos < text.size()) {
		if (!ReadSeparator(text, pos, " T") ||
		    !ReadDigits(text, pos, 2, hour) ||
		    !ReadSeparator(text, pos, ":") ||
		    !ReadDigits(text, pos, 2, minute))
			return false;
		if (pos < text.size() && text[pos] == ':' &&
		    (!ReadSeparator(text, pos, ":") ||
		     !ReadDigits(text, pos, 2, second)))
			return false;
		has_offset = pos < text.size();
		if (has_offset && !ReadOffset(text, pos, offset))
			return false;
	}
	if (pos != text.size() || month < 1 || month > 12 || day < 1 ||
	    day > 31 || hour > 23 || minute > 59 || second > 59)
		return false;
	parts = std::tm{};
	parts.tm_year = year - 1900;
	parts.tm_mon = month - 1;
	parts.tm_mday = day;
	parts.tm_hour = hour;
	parts.tm_min = minute;
	parts.tm_sec = second;
	parts.tm_isdst = -1;
	return true;
}

} // namespace

bool ParseTimeArgument(const std::string &text, int64_t &seconds)
{
	if (text.empty())
		return false;
	if (ParseUnixSeconds(text, seconds))
		return true;
	std::tm parts;
	bool has_offset = false;
	int64_t offset = 0;
	if (!ParseDateText(text, parts, has_offset, offset))
		return false;
	if (has_offset)
		return DateWithOffset(parts, offset, seconds);
	const int year = parts.tm_year, month = parts.tm_mon, day = parts.tm_mday;
	parts.tm_wday = -1; // left alone by a failing mktime (-1 is a real time)
	const std::time_t local = std::mktime(&parts);
	if (parts.tm_wday == -1)
		return false;
	// mktime carries 31 April into 1 May; such a date is refused. A time
	// that a daylight-saving change skips is moved on, as mktime does.
	if (parts.tm_year != year || parts.tm_mon != month ||
	    parts.tm_mday != day)
		return false;
	seconds = static_cast<int64_t>(local);
	return true;
}

namespace {

// Two digits of `value` (0 to 99) at `at`. The list formats two times a
// row: snprintf was a large part of its time.
char *TwoDigits(char *at, int64_t value)
{
	at[0] = static_cast<char>('0' + value / 10 % 10);
	at[1] = static_cast<char>('0' + value % 10);
	return at + 2;
}

// "+HH:MM", with ":SS" when the offset holds seconds.
void AppendOffset(int64_t offset, std::string &out)
{
	const int64_t magnitude = offset < 0 ? -offset : offset;
	char text[16];
	char *end = text;
	*end++ = offset < 0 ? '-' : '+';
	end = TwoDigits(end, magnitude / 3600);
	*end++ = ':';
	end = TwoDigits(end, magnitude / 60 % 60);
	if (magnitude % 60 != 0) {
		*end++ = ':';
		end = TwoDigits(end, magnitude % 60);
	}
	out.append(text, end);
}

} // namespace

std::string FormatLocalTime(int64_t seconds)
{
	std::tm local{};
	if (!platform::LocalTime(seconds, &local))
		return std::string();
	// The offset from the local clock itself, not from tm_gmtoff, which
	// Windows' C library lacks.
	const int64_t as_utc =
		DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) *
			86400 +
		local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
	const int year = local.tm_year + 1900;
	std::string out;
	if (year >= 0 && year <= 9999) {
		char text[20];
		char *end = TwoDigits(TwoDigits(text, year / 100), year % 100);
		*end++ = '-';
		end = TwoDigits(end, local.tm_mon + 1);
		*end++ = '-';
		end = TwoDigits(end, local.tm_mday);
		*end++ = ' ';
		end = TwoDigits(end, local.tm_hour);
		*end++ = ':';
		end = TwoDigits(end, local.tm_min);
		*end++ = ':';
		end = TwoDigits(end, local.tm_sec);
		out.assign(text, end);
	} else {
		char text[64];
		snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year,
			 local.tm_mon + 1, local.tm_mday, local.tm_hour,
			 local.tm_min, local.tm_sec);
		out = text;
	}
	AppendOffset(as_utc - seconds, out);
	return out;
}

std::string TimeZoneDescription()
{
	const char *tz = std::getenv("TZ");
	if (tz && *tz)
		return std::string(tz[0] == ':' ? tz + 1 : tz) + " (TZ)";
	const std::string name = platform::SystemTimeZoneName();
	return (name.empty() ? "local time" : name) + " (the system's)";
}

std::string FormatDuration(int64_t seconds)
{
	if (seconds < 0)
		seconds = 0;
	char text[48];
	snprintf(text, sizeof(text), "%lld:%02d:%02d",
		 static_cast<long long>(seconds / 3600),
		 static_cast<int>(seconds / 60 % 60),
		 static_cast<int>(seconds % 60));
	return text;
}
