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

// Reads "YYYY-MM-DD[( |T)HH:MM[:SS]]" into `parts`.
bool ParseDateText(const std::string &text, std::tm &parts)
{
	size_t pos = 0;
	int year, month, day, hour = 0, minute = 0, second = 0;
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
		if (pos < text.size() && (!ReadSeparator(text, pos, ":") ||
					  !ReadDigits(text, pos, 2, second)))
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
	if (!ParseDateText(text, parts))
		return false;
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

std::string FormatLocalTime(int64_t seconds)
{
	std::tm local{};
	if (!platform::LocalTime(seconds, &local))
		return std::string();
	char text[64];
	snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d",
		 local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
		 local.tm_hour, local.tm_min, local.tm_sec);
	return text;
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
