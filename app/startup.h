#pragma once
// The program's entry point up to the application run.
#include <fstream>

#include "app/launch-options.h"

// Scans the command line, opens the log, checks the options and hands them to
// RunApplication. Returns the exit status (start-up failures exit at once).
int VorlixMain(int argc, char **argv);

// Makes sure the log directory `log_dir` exists below the application-data
// folder; on failure logs and prints why and returns false.
bool EnsureLogDirectory(const std::string &log_dir);

// The second phase: the application object, the monitor and the event loop.
// Returns the exit status.
int RunApplication(int &argc, char **argv, const LaunchOptions &options,
		   std::fstream &log_stream);
