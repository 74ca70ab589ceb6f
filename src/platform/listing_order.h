// The order in which both platforms hand out a directory's entries.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace platform {

/// Sorts a listing: "." and ".." first, then by name with a-z compared as
/// A-Z (the order an NTFS volume gives), ties broken by the raw bytes.
void sortListing(std::vector<DirEntry>& entries);

}  // namespace platform
