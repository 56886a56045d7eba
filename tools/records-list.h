#pragma once
// The list command: every row of the period, file after file.
#include "tools/records-reading.h"

// Writes the rows in the chosen format; gives the exit status.
int RunList(Context &c);
