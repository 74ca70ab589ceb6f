// A small tmpfs for tests that need a file system to run full.
#pragma once

#include <string>

/// Mounts a tmpfs of `bytes` bytes on the existing directory `dir` while it
/// lives (this needs root and a system that lets tests mount; check
/// mounted() and skip otherwise: Windows never mounts one). fill() then takes
/// every free byte.
class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& dir, size_t bytes);
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }

  /// Writes the file `name` (inside the tmpfs) until the file system is full;
  /// false when it could not be written at all.
  bool fill(const std::string& name = "filler") const;

 private:
  std::string dir_;
  bool mounted_ = false;
};
