// Keeping other runs out of a catalog's directory while the catalog changes.
#include "describe/catalog_lock.h"

#include "run/output.h"

namespace {

bool toldUnlocked = false;

}  // namespace

CatalogLock::CatalogLock(const std::string& directory) {
  if (lock_.lock(directory) || toldUnlocked) return;
  toldUnlocked = true;
  logMessage("Catalog not locked:  %s\n", directory);
}

std::string catalogDirectory(const std::string& catalogPath) {
  const size_t slash = catalogPath.rfind(platform::kSeparator);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return std::string(1, platform::kSeparator);
  return catalogPath.substr(0, slash);
}
