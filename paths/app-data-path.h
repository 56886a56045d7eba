#pragma once
// Where the program keeps its files: the names it is given (log and record
// directories) resolved below the user's application-data folder, and the
// folders made there.
#include <string>

// The application-data folder, a separator and `name`, as libobs resolves it,
// with the platform's separators (platform::NativeSeparators). A set but
// empty XDG_CONFIG_HOME counts as unset. Returns an empty string when no
// application-data folder can be found (no HOME either).
std::string ConfigPath(const std::string &name);

// Creates the folder `path` and every missing folder above it, each private
// to its owner (platform::MakeDirectory); folders that exist keep their mode.
// False when the folder cannot be made.
bool MakeDirectories(const std::string &path);

// Makes sure the folder `path` exists, making it (MakeDirectories) when it
// does not. The log names the folder `label` ("logDir"): an info line when
// it is made, an error line when it cannot be. False when it cannot be made,
// an empty `path` (no application-data folder) included.
bool EnsureDirectory(const std::string &path, const char *label);
