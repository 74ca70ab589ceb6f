// Proving a new archive by a round trip: what the pack step was given against
// what the target packer's own unpack program gives back from the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/sha256.h"
#include "platform/platform.h"

/// One entry of a tree: a file with its size and digest, a directory, a link
/// with the text it holds, or anything else (compared by kind only).
struct SnapshotEntry {
  std::string name;  // relative, '/' between directories, bytes as stored
  platform::EntryKind kind = platform::EntryKind::Other;
  uint64_t size = 0;
  Sha256Digest digest{};
  std::string linkTarget;
};

/// A tree's entries, sorted by the bytes of their names.
struct Snapshot {
  std::vector<SnapshotEntry> entries;
};

/// Records the tree below the current directory, never following a link and
/// reading each file piece by piece. Returns "" on success, else which entry
/// could not be read (or that a stop signal cut the walk short).
std::string takeSnapshot(Snapshot& out);

/// The first difference between what was packed and what came back, as one
/// line naming the entry and what differs; "" when the two are the same.
/// Times and permissions are not compared.
std::string firstDifference(const Snapshot& packed, const Snapshot& unpacked);

/// Unpacks the new archive `targetReference` with the target packer's Unpack
/// template into a new work directory beside the current directory `workDir`,
/// compares what comes out with `packed`, removes that directory and returns
/// to `workDir`. Returns "" when the archive gave back exactly what was
/// packed, else the first difference or why unpacking failed.
std::string checkRoundTrip(const Snapshot& packed, const std::string& targetReference,
                           const std::string& workDir);
