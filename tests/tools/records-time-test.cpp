#include "tools/records-time.h"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "tests/support/test-support.h"

namespace {

// Sets TZ for the test's lifetime.
class TimeZone {
public:
	explicit TimeZone(const char *zone)
	{
		if (const char *old = std::getenv("TZ"))
			saved_ = old, had_ = true;
		setenv("TZ", zone, 1);
		tzset();
	}
	~TimeZone()
	{
		if (had_)
			setenv("TZ", saved_.c_str(), 1);
		else
			unsetenv("TZ");
		tzset();
	}

private:
	std::string saved_;
	bool had_ = false;
};

// The date command is the known answer.
std::string DateOutput(const char *zone, const std::string &args)
{
	std::string out = testing_support::Shell(std::string("TZ=") + zone +
						 " date " + args);
	while (!out.empty() && out.back() == '\n')
		out.pop_back();
	return out;
}

const char *const kZones[] = {"UTC", "CST-8", "EST5EDT,M3.2.0,M11.1.0"};

TEST(RecordsTime, LocalTimeMatchesDateCommandInSeveralZones)
{
	const int64_t times[] = {0, 1714550400, 1710054000, -86400, 4102444799};
	for (const char *zone : kZones) {
		TimeZone tz(zone);
		for (int64_t t : times)
			EXPECT_EQ(DateOutput(zone, "-d @" + std::to_string(t) +
							   " '+%Y-%m-%d %H:%M:%S%:z'"),
				  FormatLocalTime(t))
				<< zone << " " << t;
	}
}

TEST(RecordsTime, DateArgumentsMatchDateCommand)
{
	// With an offset, the zone plays no part.
	const char *const dates[] = {"2024-05-01", "2024-05-01 08:30",
				     "2024-05-01T08:30:15", "1999-12-31 23:59:59",
				     "2024-02-29", "2024-05-01 08:30+08:00",
				     "2024-05-01T08:30:15Z", "2024-05-01 08:30:15-04:00",
				     "2024-02-29 23:59:59+05:30"};
	for (const char *zone : kZones) {
		TimeZone tz(zone);
		for (const char *date : dates) {
			std::string text = date;
			std::string for_date = text;
			if (for_date.size() > 10)
				for_date[10] = ' ';
			int64_t seconds = 0;
			ASSERT_TRUE(ParseTimeArgument(text, seconds)) << text;
			EXPECT_EQ(DateOutput(zone, "-d '" + for_date + "' +%s"),
				  std::to_string(seconds))
				<< zone << " " << text;
		}
	}
}

TEST(RecordsTime, UnixSecondsAreTakenAsGiven)
{
	const struct {
		const char *text;
		int64_t seconds;
	} cases[] = {{"0", 0},
		     {"1714550400", 1714550400},
		     {"-5", -5},
		     {"9223372036854775807", INT64_MAX}};
	for (const auto &c : cases) {
		int64_t seconds = 1;
		ASSERT_TRUE(ParseTimeArgument(c.text, seconds)) << c.text;
		EXPECT_EQ(c.seconds, seconds) << c.text;
	}
}

TEST(RecordsTime, MalformedOrImpossibleDatesAreRefused)
{
	TimeZone tz("UTC");
	const char *const bad[] = {"",           "yesterday",        "-",
				   "12ab",       "1e9",              "2024-5-1",
				   "2024-02-30", "2023-02-29",       "2024-13-01",
				   "2024-00-10", "2024-05-01 24:00", "2024-05-01 08:60",
				   "2024-05-01 08:30:60", "2024-05-01x", "2024-05-01 8:30",
				   "2024-05-01 08:30:", "99999999999999999999",
				   "2024-02-30 10:00Z", "2024-05-01+08:00",
				   "2024-05-01 08:30+24:00", "2024-05-01 08:30+0800",
				   "2024-05-01 08:30:00-04:00x"};
	for (const char *text : bad) {
		int64_t seconds = 0;
		EXPECT_FALSE(ParseTimeArgument(text, seconds)) << text;
	}
}

TEST(RecordsTime, DurationsAsHoursMinutesSeconds)
{
	const struct {
		int64_t seconds;
		const char *text;
	} cases[] = {{0, "0:00:00"},    {59, "0:00:59"},   {60, "0:01:00"},
		     {3600, "1:00:00"}, {90061, "25:01:01"}, {-5, "0:00:00"}};
	for (const auto &c : cases)
		EXPECT_EQ(c.text, FormatDuration(c.seconds)) << c.seconds;
}

} // namespace
