#pragma once
// The arithmetic of summary, report and the list's seconds: intervals,
// runs, idle rows, and the totals per executable, title, category, local
// day and user (the rules are in the --help text). What is counted here is
// written out by records-summary-text, records-summary-data and
// records-report-page.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/records-decode.h"

// The interval counted when no interval can be measured: the monitor's
// default check interval.
constexpr int64_t kDefaultInterval = 10;

// First pass: the intervals between consecutive rows.
class IntervalStats {
public:
	void Add(int64_t check_tm);
	// The median of the positive intervals, the lower middle one for an
	// even count; kDefaultInterval when there is none.
	int64_t Median() const;
	int64_t rows() const { return rows_; }
	int64_t earliest() const { return earliest_; }
	int64_t latest() const { return latest_; }

private:
	std::map<int64_t, int64_t> counts_; // interval -> how often
	int64_t positive_ = 0;
	int64_t rows_ = 0;
	int64_t previous_ = 0;
	int64_t earliest_ = 0;
	int64_t latest_ = 0;
};

// Second pass: gives every row, in the order written, the seconds it counts
// and whether they are idle. A row is counted once its successor is known.
class RunCounter {
public:
	using Sink = std::function<void(const Record &record, int64_t seconds,
					bool idle)>;
	RunCounter(int64_t median, int64_t cap, int64_t idle_threshold,
		   Sink sink);
	void Add(const Record &record);
	// Counts the last row; call once after the last Add.
	void Finish();
	int64_t runs() const { return runs_; }

private:
	void CountPending(int64_t seconds);

	int64_t last_of_run_;
	int64_t cap_;
	int64_t idle_threshold_;
	Sink sink_;
	Record pending_;
	bool has_pending_ = false;
	int64_t runs_ = 0;
};

// The time of one executable or one category.
struct NamedTime {
	std::string name;
	int64_t seconds = 0;
};

// The time of one window title of one executable.
struct TitleTime {
	std::string process;
	std::string title;
	int64_t seconds = 0;
};

// Executable name of a row for the totals: "?" when it did not decrypt.
const std::string &ProcessLabel(const Record &record);

class SummaryTotals {
public:
	// Totals of a day or a user keep no titles: their number would grow
	// with the days and users.
	explicit SummaryTotals(bool with_titles = true)
		: with_titles_(with_titles)
	{
	}
	// `category` (null without categories) names the row's kind of work.
	void Count(const Record &record, int64_t seconds, bool idle,
		   const std::string *category = nullptr);
	void Merge(const SummaryTotals &other);
	// Longest first, then by name.
	std::vector<NamedTime> Executables() const;
	std::vector<NamedTime> Categories() const;
	std::vector<TitleTime> Titles() const;
	bool has_categories() const { return !categories_.empty(); }
	int64_t active_seconds() const { return active_; }
	int64_t idle_seconds() const { return idle_; }
	int64_t total_seconds() const { return active_ + idle_; }

private:
	std::unordered_map<std::string, int64_t> executables_;
	// Key: name, NUL, title (a stored name holds no NUL).
	std::unordered_map<std::string, int64_t> titles_;
	std::unordered_map<std::string, int64_t> categories_;
	bool with_titles_;
	std::string title_key_; // reused, so that a known title costs no allocation
	int64_t active_ = 0;
	int64_t idle_ = 0;
};

// What the heading of summary and report states.
// Over several files the median and the cap are each file's own: the
// lowest and highest are stated.
struct SummaryInfo {
	int64_t files = 0;
	int64_t rows = 0;
	int64_t runs = 0;
	int64_t earliest = 0;
	int64_t latest = 0;
	int64_t median = 0;
	int64_t median_max = 0;
	int64_t cap = 0;
	int64_t cap_max = 0;
	int64_t idle_threshold = 0;

	// Adds the figures of another file (or files).
	void Merge(const SummaryInfo &other);
};

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
