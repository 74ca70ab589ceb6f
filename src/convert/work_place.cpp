// Work directories beside the archive or below WorkDir, so that a read-only
// collection converts without a single write into its own tree.
#include "convert/work_place.h"

#include "config/settings.h"
#include "convert/work_files.h"
#include "platform/platform.h"

bool enterWorkPlace(WorkPlace& place) {
  place = WorkPlace{};
  if (settings.workDir) {
    place.archiveDir = platform::currentDirectory();
    if (place.archiveDir.empty()) return false;
  }
  place.dir = createWorkDirectory(settings.workDir.value_or(""));
  if (place.dir.empty()) return false;
  if (platform::changeDirectory(place.dir)) return true;
  platform::removeDirectory(place.dir);
  return false;
}

void leaveWorkPlace(const WorkPlace& place) {
  if (place.archiveDir.empty()) {
    platform::changeDirectory("..");
    removeTree(place.dir);
    return;
  }
  // Removing leaves WorkDir current; the archive's directory comes last.
  removeTree(place.dir);
  platform::changeDirectory(place.archiveDir);
}

std::string archiveDirFromWork() {
  return settings.workDir ? platform::currentDirectory() : std::string("..");
}

std::string archiveFromWork(const std::string& name) {
  return archiveDirFromWork() + platform::kSeparator + name;
}
