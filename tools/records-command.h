#pragma once
// vorlix-records as a function, so that tests and benchmarks can run it in
// the process.
#include <cstdio>
#include <string>
#include <vector>

// Runs the program with the arguments after its name: results go to `out`,
// the help text too; error and warning lines to `err`. Returns the exit
// status (see RecordsUsage).
int RunRecords(const std::vector<std::string> &args, FILE *out, FILE *err);
