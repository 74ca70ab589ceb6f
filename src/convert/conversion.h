// Converting one archive through a work directory.
#pragma once

#include <string>

/// Converts the archive `sourceName` of packer `sourcePacker`, in the current
/// directory, into an archive of the target packer. Returns nonzero when the
/// source archive may now be removed. Starts and ends in the archive's
/// directory; a breakOnError stop ends the process.
int convertArchive(const std::string& sourceName, int sourcePacker);
