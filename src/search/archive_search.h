// Turning input names into archives: splitting, walking, handing on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

/// The walked directory relative to the current input's directory,
/// components joined by "/"; empty at the input's own directory.
extern std::string relativeDir;

/// Splits `input` into directory and mask, makes the directory current
/// (not restored afterwards) and walks it. Yields nothing when the directory
/// cannot be entered.
void searchInput(std::string_view input);

/// Walks the current directory, and with settings.recurse its subdirectories
/// (not dot-directories, work directories, links or the destination), handing
/// every fitting archive on. Each source is claimed for its conversion; one
/// held by another run is logged and skipped, one gone since the listing is
/// passed over. Returns in the directory it started in.
void walkDirectory(const std::string& mask);

/// Deletes `name` in the current directory if it is still the very file
/// `listed` describes: same identity, size, last-write and change time; logs
/// "Can't delete source:" with its full path when it cannot be deleted.
void removeSourceIfUnchanged(const std::string& name, const platform::FileStatus& listed);
