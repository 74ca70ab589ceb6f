// The directories from the walk's start down to where it stands, each held
// so that the walk comes back to it, never through "..".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

/// The walk's way down from a start directory. Every level can be made
/// current again: the deepest ones through the handles kept for them, the
/// others by opening them again by name from a held level above and checking
/// that each is still the very directory that was entered. Only a few dozen
/// handles are held at any depth, so no tree is too deep for the open-file
/// limit.
class DirectoryTrail {
 public:
  /// Starts at `start` (held by the caller for the trail's whole life).
  explicit DirectoryTrail(const platform::DirectoryHandle& start);

  /// The number of levels entered below the start.
  size_t depth() const { return levels_.size() - 1; }

  /// The deepest level's handle (always held).
  const platform::DirectoryHandle& deepest() const { return handleAt(depth()); }

  /// Makes `child` (a subdirectory named `name` of the deepest level) current
  /// and the new deepest level; false, with nothing changed, when it cannot
  /// be made current.
  bool descend(platform::DirectoryHandle child, const std::string& name);

  /// Leaves the deepest level and makes the level above current again.
  /// False when that level cannot be reached any more (it was moved or
  /// removed meanwhile): it stays the deepest level, not current, and the
  /// caller leaves it in turn.
  bool ascend();

  /// Makes the deepest level current again; false when it cannot be.
  bool returnHere() const;

 private:
  struct Level {
    std::string name;
    platform::FileId id;
    platform::DirectoryHandle handle;  // not held for every level
  };

  const platform::DirectoryHandle& handleAt(size_t level) const;
  void releaseDistantHandles();
  bool reopen(size_t level);

  const platform::DirectoryHandle& start_;
  std::vector<Level> levels_;  // levels_[0] stands for the start
};

/// True when the trail keeps the handle of `level` while it is `depth`
/// levels deep: the last 16 levels, every 16th of the last 256, every 256th
/// of the last 4096, and so on, and the start.
bool keepsHandle(size_t level, size_t depth);
