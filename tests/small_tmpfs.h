// A small tmpfs for tests that need a file system to run full.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <string>

/// Mounts a tmpfs of `bytes` bytes on the existing directory `dir` while it
/// lives (this needs root and a system that lets tests mount; check
/// mounted() and skip otherwise). fill() then takes every free byte.
class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& dir, size_t bytes) : dir_(dir) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = ::mount("zelm-test", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }

  /// Writes the file `name` (inside the tmpfs) until the file system is full;
  /// false when it could not be written at all.
  bool fill(const std::string& name = "filler") const {
    const int fd = ::open((dir_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    static const std::string kBlock(4096, 'f');
    for (size_t chunk = kBlock.size(); chunk > 0;) {
      if (::write(fd, kBlock.data(), chunk) < 0) {
        if (errno != ENOSPC) break;
        chunk /= 2;
      }
    }
    ::close(fd);
    return true;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};
