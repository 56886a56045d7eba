#pragma once
// The time arithmetic of summary and report: intervals, runs, idle rows and
// the totals per executable and per title (the rules are in the --help
// text).
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

struct SummaryLine {
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
	std::vector<SummaryLine> Executables() const;
	std::vector<SummaryLine> Titles() const;
	std::vector<SummaryLine> CategoryLines() const;
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

// "66.7%" (one decimal); "-" when `total` is 0.
std::string FormatShare(int64_t part, int64_t total);

// The summary command's text.
std::string FormatSummary(const SummaryInfo &info,
			  const SummaryTotals &totals);

// "10 s", or "5 to 10 s" when the files differ.
std::string FormatRange(int64_t low, int64_t high);

// An aligned text table: two spaces between columns, those marked in
// `right` aligned to the right, no padding after the last column.
void AppendAligned(const std::vector<std::vector<std::string>> &rows,
		   const std::vector<bool> &right, std::string &out);

// The table of time per executable (per category when `categories`), with
// idle time and the total.
void AppendTimeTable(const SummaryTotals &totals, bool categories,
		     std::string &out);
