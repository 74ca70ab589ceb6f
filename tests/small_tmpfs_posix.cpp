// The small tmpfs of the tests on Linux.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

#include "small_tmpfs.h"

SmallTmpfs::SmallTmpfs(const std::string& dir, size_t bytes) : dir_(dir) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("zelm-test", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

bool SmallTmpfs::fill(const std::string& name) const {
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
