#pragma once
// The report command: one HTML page of the tally.
#include "tools/records-reading.h"

// Writes the page named by --html; gives the exit status.
int RunReport(Context &c);
