#pragma once
// The report command's page: one HTML file with inline SVG timelines and
// the summary tables, needing nothing from elsewhere.
#include <string>

#include "tools/records-tally.h"

// The page for `tally` (grouped by day, and by user when it holds several):
// one timeline row per day, its stretches of work coloured by category
// when `categories`, else by executable.
std::string RenderReport(const Tally &tally, bool categories);
