#pragma once
// Resolution of the names the program is given (log and record directories)
// below the user's application-data folder.
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
