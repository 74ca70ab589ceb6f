// Claiming the new archive's name, so that two runs whose sources share a
// target (FOO.ARJ and FOO.LZH both becoming FOO.ZIP) never make it at once.
#pragma once

#include <string>

#include "platform/platform.h"

/// The new archive's file name for the source `sourceName`: the source's
/// name up to its last dot, a dot and the target packer's extension.
std::string targetFileName(const std::string& sourceName);

/// The directory the new archives of the current directory go to: the
/// destination's mirror of it (an absolute path), or "" without a
/// destination, where they go beside their sources.
std::string targetDirectory();

/// Claims the new archive's name for the source `sourceName` of the current
/// directory, for as long as `claim` holds it. False when another run holds
/// that name: the source is then logged as in use, counted as skipped and
/// must stay. A name that cannot be claimed (no such directory, a system
/// without claims) lets the conversion go on unclaimed.
bool claimTarget(const std::string& sourceName, platform::NameClaim& claim);

/// Claims the source `sourceName`'s own name the way a new archive's name is
/// claimed, so that a file another run is still packing is never taken as
/// a source. False when another run holds it, treated as by claimTarget.
bool claimSourceName(const std::string& sourceName, platform::NameClaim& claim);
