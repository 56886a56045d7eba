#pragma once
// The summary command: the time per executable, title and category, and per
// user and day.
#include "tools/records-reading.h"

// Writes the summary; gives the exit status.
int RunSummary(Context &c);
