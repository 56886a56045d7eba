#pragma once
// The report command's page: one HTML file with inline SVG timelines and
// the summary tables, needing nothing from elsewhere.
#include <cstddef>
#include <string>
#include <vector>

#include "tools/records-tally.h"

// What the page says besides the tally.
struct ReportNotes {
	bool categories = false; // colour by category, else by executable
	size_t files = 0;	 // the record files given
	std::vector<std::string> left_out;	// why each file was left out
	std::vector<std::string> empty_folders; // folders without record files
};

// The page for `tally` (grouped by day, and by user when it holds several):
// first what was left out, then one timeline row per day, its stretches of
// work coloured by category or by executable, then the tables.
std::string RenderReport(const Tally &tally, const ReportNotes &notes);
