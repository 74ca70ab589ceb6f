// Windows mounts no small file system for a test: those tests are skipped.
#include "small_tmpfs.h"

SmallTmpfs::SmallTmpfs(const std::string& dir, size_t) : dir_(dir) {}

SmallTmpfs::~SmallTmpfs() = default;

bool SmallTmpfs::fill(const std::string&) const { return false; }
