#pragma once
// The summary as text for a reader: aligned tables of the tally's figures.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/records-tally.h"

// "66.7%" (one decimal); "-" when `total` is 0.
std::string FormatShare(int64_t part, int64_t total);

// "10 s", or "5 to 10 s" when the files differ.
std::string FormatRange(int64_t low, int64_t high);

// An aligned text table: two spaces between columns, those marked in
// `right` aligned to the right, no padding after the last column.
void AppendAligned(const std::vector<std::vector<std::string>> &rows,
		   const std::vector<bool> &right, std::string &out);

// The summary command's text: the heading, the time per executable (and
// per category), the titles, then the groups of the tally, if any.
std::string FormatSummaryText(const Tally &tally);
