#pragma once
// Time per local calendar day and per user, and the stretches of work that
// each day's timeline shows.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/records-summary.h"

// Local calendar days: where the one holding a time begins and ends.
class LocalDays {
public:
	struct Day {
		int64_t start = 0; // local midnight, Unix seconds
		int64_t end = 0;   // the next local midnight
		std::string label; // "YYYY-MM-DD"
	};
	// The day holding `t`; the last one is kept, as rows come in order.
	const Day &Of(int64_t t);

private:
	Day day_;
	bool known_ = false;
};

struct Segment {
	int64_t start;
	int64_t end;
};

struct GroupKey {
	std::string user; // "" when not grouped by user
	std::string day;  // "" when not grouped by day
	// Users by number, then days.
	bool operator<(const GroupKey &other) const;
};

struct GroupData {
	SummaryTotals totals{false};
	int64_t day_start = 0;
	int64_t day_end = 0;
	// Stretches of counted work per colour (the category, else the
	// executable), each in time order.
	std::map<std::string, std::vector<Segment>> bands;
};

struct TallySettings {
	bool by_user = false;
	bool by_day = false;
	bool bands = false; // the report's timeline
};

// What summary and report count, for one file or, merged, for all.
class Tally {
public:
	explicit Tally(const TallySettings &settings) : settings_(settings) {}
	// A counted row of `user`'s file: `seconds` from its check_tm, split
	// at local midnight where grouped by day. `category` is null without
	// categories.
	void Count(const std::string &user, const Record &record,
		   int64_t seconds, bool idle, const std::string *category);
	void Merge(const Tally &other);
	const TallySettings &settings() const { return settings_; }

	SummaryInfo info;
	SummaryTotals totals;
	std::map<GroupKey, GroupData> groups;

private:
	GroupData &Group(const std::string &user, const LocalDays::Day *day);

	TallySettings settings_;
	LocalDays days_;
	GroupData *last_ = nullptr; // rows of one day follow each other
	GroupKey last_key_;
};

// A user id as shown: a file whose name holds none is user "-".
std::string UserName(const std::string &user);

// The summary's part per user and/or day: a table of the time at work and
// idle per group, then each group's time per executable (and category).
std::string FormatGroups(const Tally &tally, bool by_user, bool by_day);
