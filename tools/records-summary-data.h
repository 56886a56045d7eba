#pragma once
// The summary as data (CSV or JSON Lines) for a database, a spreadsheet or
// pandas: the figures of the text, one line per group and key.
#include <string>

#include "tools/records-options.h"
#include "tools/records-tally.h"

// Lines "group,user_id,day,kind,name,title,seconds": first the whole
// (group "all"), then each group of --by ("user", "day" or "user,day"),
// each with its time at work, idle and in total (kinds "at_work", "idle",
// "total"), per executable and per category ("executable", "category",
// the name in `name`), and, for the whole only, per title ("title": the
// executable in `name`). CSV with a header line, or one JSON object per
// line with the same keys (null for what does not apply).
std::string FormatSummaryData(const Tally &tally, ListFormat format);
