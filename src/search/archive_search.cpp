// The archive search: input names to directories and masks, the walk, and
// the hand-off of every detected archive.
#include "search/archive_search.h"

#include <vector>

#include "config/settings.h"
#include "convert/conversion.h"
#include "convert/type_detection.h"
#include "convert/work_files.h"
#include "describe/catalog.h"
#include "platform/platform.h"
#include "run/output.h"
#include "search/wildcard.h"

std::string relativeDir;

namespace {

// A destination inside the walked tree must not be walked itself, or the
// mirror would grow below itself level by level.
bool isDestinationRoot(const std::string& dirName) {
  if (!settings.destinationDir) return false;
  const std::string dest = *settings.destinationDir + platform::kSeparator;
  const auto destStatus = platform::fileStatus(dest, true);
  const auto dirStatus = platform::fileStatus(dirName, false);
  return destStatus && dirStatus && destStatus->id == dirStatus->id;
}

void mirrorDirectory() {
  if (!settings.destinationDir) return;
  platform::makeSharedDirectory(*settings.destinationDir + platform::kSeparator + relativeDir);
}

void walkSubdirectory(const std::string& name, const std::string& mask) {
  if (name.empty() || name[0] == '.' || !settings.recurse) return;
  // The listing is older than this moment: enter only what is still a real
  // directory, never a link that took its place.
  const auto status = platform::fileStatus(name, false);
  if (!status || status->kind != platform::EntryKind::Directory) return;
  if (isDestinationRoot(name)) return;
  if (!platform::changeDirectory(name)) return;
  const size_t keptLength = relativeDir.size();
  if (!relativeDir.empty()) relativeDir += platform::kSeparator;
  relativeDir += name;
  mirrorDirectory();
  walkDirectory(mask);
  platform::changeDirectory("..");
  relativeDir.resize(keptLength);
}

void handleFile(const platform::DirEntry& entry, const std::string& mask) {
  if (!wildcardMatch(entry.name, mask)) return;
  const int packer = detectPacker(entry.name);
  if (packer < 0) return;
  if (settings.makeDescription) {
    catalogArchive(entry.name);
    return;
  }
  runStats.currentSize = uint32_t(entry.size);
  if (convertArchive(entry.name, packer)) removeSourceIfUnchanged(entry.name, entry.lastWrite);
}

}  // namespace

void searchInput(std::string_view input) {
  const NameParts parts = splitName(input);
  const std::string directory = parts.drive + parts.directory;
  if (!directory.empty() && !platform::changeDirectory(directory)) return;
  walkDirectory(parts.baseName + parts.extension);
}

void walkDirectory(const std::string& mask) {
  std::vector<platform::DirEntry> listing;
  if (!platform::listDirectory(".", listing)) return;
  for (const auto& entry : listing) {
    if (entry.isDirectory) {
      walkSubdirectory(entry.name, mask);
    } else {
      handleFile(entry, mask);
    }
  }
}

void removeSourceIfUnchanged(const std::string& name, int64_t lastWrite) {
  const auto status = platform::fileStatus(name, false);
  if (!status || status->kind == platform::EntryKind::Directory) return;
  if (status->lastWrite != lastWrite) return;
  removeFile(name);
}
