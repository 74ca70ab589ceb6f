// Start-up checks of the destination, WorkDir and LogFile: a run that could
// not write where it is told stops before it converts anything.
#include "run/run_places.h"

#include <string>

#include "config/settings.h"
#include "platform/platform.h"
#include "run/output.h"

namespace {

[[noreturn]] void stopAt(std::string_view what, const std::string& path) {
  fatalStop(std::string(what) + path);
}

bool isDirectory(const std::string& path) {
  const auto status = platform::fileStatus(path, true);
  return status && status->kind == platform::EntryKind::Directory;
}

std::string parentOf(const std::string& absolute) {
  const size_t slash = absolute.rfind(platform::kSeparator);
  return slash == 0 || slash == std::string::npos ? std::string(1, platform::kSeparator)
                                                  : absolute.substr(0, slash);
}

}  // namespace

void prepareDestination() {
  if (!settings.destinationDir || settings.destinationDir->empty()) return;
  const std::string& dest = *settings.destinationDir;
  if (platform::fileStatus(dest, true)) {
    if (!isDirectory(dest)) stopAt("Destination is not a directory: ", dest);
    return;
  }
  if (!platform::makeDirectoryPath(dest)) stopAt("Can't make destination: ", dest);
}

void prepareWorkDir() {
  if (!settings.workDir) return;
  const std::string dir = platform::absolutePath(*settings.workDir);
  settings.workDir = dir;
  if (!platform::fileStatus(dir, true)) stopAt("WorkDir does not exist: ", dir);
  if (!isDirectory(dir)) stopAt("WorkDir is not a directory: ", dir);
  if (!platform::canCreateEntriesIn(dir)) stopAt("WorkDir is not writable: ", dir);
}

void openRunLog() {
  if (!settings.logEnabled) return;
  if (!settings.logFile) {
    openLog(settings.logPath);
    return;
  }
  settings.logPath = platform::absolutePath(*settings.logFile);
  const std::string& path = settings.logPath;
  if (!isDirectory(parentOf(path))) stopAt("LogFile directory does not exist: ", path);
  if (isDirectory(path)) stopAt("LogFile is a directory: ", path);
  if (!openLogQuietly(path)) stopAt("LogFile is not writable: ", path);
}
