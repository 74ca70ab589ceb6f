// Turning input names into archives: splitting, walking, handing on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

/// The walked directory relative to the current input's directory,
/// components joined by "/"; empty at the input's own directory.
extern std::string relativeDir;

/// Splits `input` into directory and mask, makes the directory current
/// (not restored afterwards) and walks it. Yields nothing when the directory
/// cannot be entered.
void searchInput(std::string_view input);

/// Walks the current directory, and with settings.recurse its subdirectories,
/// handing every fitting archive on. Returns in the directory it started in.
void walkDirectory(const std::string& mask);

/// Deletes `name` in the current directory if its last-write time still
/// equals `lastWrite` and it is still a file; logs "Can't delete source:"
/// with its full path when it cannot be deleted.
void removeSourceIfUnchanged(const std::string& name, int64_t lastWrite);
