// Temporary text files made exclusively, so they never replace anything.
#pragma once

#include <string>

#include "platform/platform.h"

/// Creates a new file for `out` under `firstName` or, when something of
/// that name exists, under the first free one of `firstName` with its last two
/// characters replaced by 01 ... 99 ("files.tmp", "files.t01", ...). No
/// existing file, link or directory is ever opened or replaced, so the file is
/// this run's alone. Returns the name created; "" when none could be made
/// (every name taken, or the directory refuses new files).
std::string createTemporary(platform::TextWriter& out, const std::string& firstName);
