// Keeping other runs out of a catalog's directory while the catalog changes.
#pragma once

#include <string>

#include "platform/platform.h"

/// Holds the exclusive lock on `directory` ("." for the current one) for as
/// long as it lives, waiting while another run holds it. Where no lock can be
/// taken (a file system without locks) the work goes on unlocked and the log
/// says so, once per run.
class CatalogLock {
 public:
  explicit CatalogLock(const std::string& directory);

 private:
  platform::DirectoryLock lock_;
};

/// The directory a catalog path lies in, as the system sees it: the part
/// before its last "/" ("/" for a name right below the root), "." when it has
/// none.
std::string catalogDirectory(const std::string& catalogPath);
