// The spine of one run: read the settings, check them, locate the target
// packer's programs, search every input and list file, close with the report.
#include "run/driver.h"

#include <cstdlib>

#include "config/command_line.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "convert/external_program.h"
#include "platform/platform.h"
#include "run/output.h"
#include "run/run_places.h"
#include "search/archive_search.h"
#include "search/wildcard.h"

std::string packProgram;
std::string packArgs;
std::optional<std::string> testProgram;
std::string testArgs;

namespace {

std::string startDirectory;

void closeOut() {
  platform::changeDirectory(startDirectory);
  logFooter();
  printReport();
  closeLog();
}

void checkStartUp(bool configRead) {
  if (!configRead) fatalStop("Can't open ZELM.CFG\n");
  if (settings.inputNames.empty() && settings.listFiles.empty()) {
    fatalStop("No arhives to process.\n");
  }
  if (settings.targetPacker < 0 || !settings.packers[size_t(settings.targetPacker)].pack) {
    fatalStop("Unknown packer.\n");
  }
}

void locateTargetPrograms() {
  const PackerDef& target = settings.packers[size_t(settings.targetPacker)];
  const SplitTemplate pack = splitTemplate(*target.pack);
  std::optional<std::string> packPath;
  if (!pack.program.empty()) packPath = locateProgram(pack.program, LocateScope::StartUp);
  if (!packPath) fatalStop("Packer not found.\n");
  packProgram = *packPath;
  packArgs = pack.args;

  if (!target.test) return;
  const SplitTemplate test = splitTemplate(*target.test);
  if (!test.program.empty()) testProgram = locateProgram(test.program, LocateScope::StartUp);
  testArgs = test.args;
}

// The name of the file a list-file argument names: without its "@".
std::string listFilePath(const std::string& entry) {
  const NameParts parts = splitName(std::string_view(entry).substr(entry.empty() ? 0 : 1));
  return parts.drive + parts.directory + parts.baseName + parts.extension;
}

std::string firstWord(const std::string& line) {
  const size_t end = line.find_first_of(" \t\n");
  return end == std::string::npos ? line : line.substr(0, end);
}

void scanListFile(const std::string& entry) {
  logMessage("\nScanning %s...\n", entry);
  platform::TextReader list;
  if (!list.open(listFilePath(entry))) {
    logMessage("Can't open:    %s\n", entry);
    if (settings.breakOnError) fatalStop("Can't open file.");
    return;
  }
  std::string line;
  while (list.readPiece(line, 79)) searchInput(firstWord(line));
  list.close();
}

// A script can tell a run with failed archives from a good one when asked.
int exitCode() { return settings.errorExit && runStats.errors > 0 ? 2 : 0; }

}  // namespace

void stopIfInterrupted() {
  const int signal = platform::stopSignal();
  if (signal == 0) return;
  logMessage("Interrupted.\n");
  closeOut();
  std::_Exit(128 + signal);
}

int runDriver(int argc, const char* const* argv) {
  platform::catchStopSignals();
  const bool configRead = readConfig() != 0;
  relativeDir.clear();
  parseCommandLine(argc, argv);
  checkStartUp(configRead);
  locateTargetPrograms();
  prepareDestination();
  prepareWorkDir();

  startDirectory = platform::currentDirectory();
  openRunLog();
  logHeader();

  for (const std::string& input : settings.inputNames) {
    logMessage("\nSearch %s...\n", input);
    searchInput(input);
  }
  for (const std::string& entry : settings.listFiles) scanListFile(entry);

  stopIfInterrupted();
  closeOut();
  return exitCode();
}
