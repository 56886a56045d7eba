#pragma once
// The report command's page: one HTML file with an inline SVG timeline and
// the summary tables, needing nothing from elsewhere.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/records-summary.h"

struct Segment {
	int64_t start;
	int64_t end;
};

// The stretches of counted active time per executable. Stretches of one
// executable less than `join` seconds apart are kept as one, so that the
// page stays small however many rows the file holds.
class Timeline {
public:
	explicit Timeline(int64_t join) : join_(join) {}
	void Add(const std::string &process, int64_t start, int64_t seconds);
	// nullptr when the executable has no stretch.
	const std::vector<Segment> *Segments(const std::string &process) const;
	bool empty() const { return !any_; }
	int64_t start() const { return start_; }
	int64_t end() const { return end_; }

private:
	int64_t join_;
	std::unordered_map<std::string, std::vector<Segment>> bands_;
	bool any_ = false;
	int64_t start_ = 0;
	int64_t end_ = 0;
};

// The join distance for a period of `span` seconds: half a pixel of the
// timeline.
int64_t TimelineJoin(int64_t span);

std::string RenderReport(const SummaryInfo &info, const SummaryTotals &totals,
			 const Timeline &timeline);
