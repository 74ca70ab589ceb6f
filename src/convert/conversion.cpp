// Converting one archive: unpack into a work directory, adjust, pack, test,
// keep the time, count, clean up and give the removal verdict.
#include "convert/conversion.h"

#include <optional>

#include "config/settings.h"
#include "convert/external_program.h"
#include "convert/work_files.h"
#include "describe/catalog.h"
#include "describe/description.h"
#include "platform/platform.h"
#include "run/driver.h"
#include "run/output.h"
#include "search/archive_search.h"

namespace {

// The names one conversion works with.
struct ConversionNames {
  std::string sourceFullPath;   // for the log and the catalog
  std::string sourceFromWork;   // the source as seen from the work directory
  std::string sourceReference;  // sourceFromWork, quoted where it needs it
  std::string targetName;       // as seen from the work directory
  std::string targetReference;  // targetName, quoted where it needs it
};

bool hasBlank(const std::string& text) { return text.find(' ') != std::string::npos; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

ConversionNames buildNames(const std::string& sourceName) {
  ConversionNames names;
  names.sourceFullPath = platform::absolutePath(sourceName);
  // A listed name is bare: a backslash in it is an ordinary byte.
  const size_t dot = sourceName.rfind('.');
  const std::string baseName = sourceName.substr(0, dot);
  const bool baseHasBlank = hasBlank(baseName);
  names.sourceFromWork = std::string("..") + platform::kSeparator + sourceName;
  // A blank in the extension alone would split the reference too.
  names.sourceReference =
      hasBlank(sourceName) ? quoted(names.sourceFromWork) : names.sourceFromWork;

  std::string targetDir = "..";
  if (settings.destinationDir) {
    targetDir = *settings.destinationDir;
    if (!relativeDir.empty()) targetDir += platform::kSeparator + relativeDir;
  }
  const PackerDef& target = settings.packers[size_t(settings.targetPacker)];
  names.targetName = targetDir + platform::kSeparator + baseName + "." + target.ext.value_or("");
  const bool quote = baseHasBlank || (settings.destinationDir && hasBlank(targetDir));
  names.targetReference = quote ? quoted(names.targetName) : names.targetName;
  return names;
}

void stopIf(bool condition, std::string_view message) {
  if (condition && settings.breakOnError) fatalStop(message);
}

// Runs the source packer's unpack program; true when it failed.
bool unpackArchive(const PackerDef& source, const ConversionNames& names) {
  const SplitTemplate unpack = splitTemplate(*source.unpack);
  const std::optional<std::string> program = locateProgram(unpack.program, LocateScope::InSearch);
  if (!program) {
    logMessage("Can't run unpacker:  %s\n", unpack.program);
    stopIf(true, "");
    return true;
  }
  const bool failed =
      runProgram(*program, unpack.args, names.sourceReference, source.append.value_or("")) != 0;
  stopIf(failed, "Can't run unpacker.");
  return failed;
}

// The Del, Add and Exec lists; true when an Exec entry failed.
bool adjustWorkDirectory() {
  for (const std::string& mask : settings.delList) deleteMatching(mask);
  for (const std::string& path : settings.addList) copyFileIn(path);
  bool failed = false;
  for (const std::string& entry : settings.execList) {
    if (!entry.empty() && entry[0] == '-') continue;
    if (runCommand(entry) != 0) failed = true;
  }
  stopIf(failed, "Exec error.");
  return failed;
}

bool isRegularFile(const std::string& path) {
  const auto status = platform::fileStatus(path, true);
  return status && status->kind == platform::EntryKind::File;
}

// Pack, then test when asked; true when either failed or no archive came.
bool packAndTest(const ConversionNames& names) {
  const PackerDef& target = settings.packers[size_t(settings.targetPacker)];
  const std::string append = target.append.value_or("");
  bool failed = runProgram(packProgram, packArgs, names.targetReference, append) != 0;
  // A packer that says yes but made nothing has failed.
  if (!failed && !isRegularFile(names.targetName)) failed = true;
  stopIf(failed, "Can't run packer.");
  if (settings.testArchive && testProgram) {
    if (runProgram(*testProgram, testArgs, names.targetReference, append) != 0) failed = true;
    if (!isRegularFile(names.targetName)) failed = true;
    stopIf(failed, "Can't test archive.");
  }
  return failed;
}

// Gives the removal verdict: the source may go only when it and the new
// archive are different files, however their paths are spelled. Relative
// names still work where a full path would be too long for the system.
int removalVerdict(const ConversionNames& names) {
  const auto source = platform::fileStatus(names.sourceFromWork, true);
  const auto target = platform::fileStatus(names.targetName, true);
  if (!source || !target) return 0;
  return source->id == target->id ? 0 : 1;
}

// Counts and logs the result; returns the failure flag afterwards.
bool finishConversion(bool failed, const ConversionNames& names,
                      const std::optional<platform::DosDateTime>& sourceTime, int& verdict) {
  if (failed) {
    ++runStats.errors;
    logMessage("Convert error:       %s\n", names.sourceFullPath);
    return true;
  }
  if (settings.keepTime) {
    failed = !sourceTime || !platform::writeDosTime(names.targetName, *sourceTime);
  }
  runStats.sizeBefore += runStats.currentSize;
  runStats.sizeAfter += fileSize(names.targetName);
  ++runStats.converted;
  logMessage("Convert successfull: %s\n", names.sourceFullPath);
  verdict = removalVerdict(names);
  return failed;
}

}  // namespace

int convertArchive(const std::string& sourceName, int sourcePacker) {
  const PackerDef& source = settings.packers[size_t(sourcePacker)];
  if (!source.unpack) fatalStop("Unknown unpacker.\n");

  const ConversionNames names = buildNames(sourceName);
  // Read before anything runs, so a repack onto the same file keeps it.
  std::optional<platform::DosDateTime> sourceTime;
  if (platform::DosDateTime when; platform::readDosTime(sourceName, when)) {
    sourceTime = when;
  }

  const std::string workDir = createWorkDirectory();
  if (workDir.empty() || !platform::changeDirectory(workDir)) {
    if (!workDir.empty()) platform::removeDirectory(workDir);
    stopIf(true, "Can't make directory.");
    ++runStats.errors;
    return 0;
  }

  if (settings.skipExisting && fileExists(names.targetName)) {
    ++runStats.skipped;
    logMessage("Archive skipped:     %s\n", names.sourceFullPath);
    platform::changeDirectory("..");
    removeTree(workDir);
    return 0;
  }

  bool failed = unpackArchive(source, names);
  if (!failed) {
    failed = adjustWorkDirectory();
    filterFileIdDiz(settings.fileIdDizMode);
    if (!failed) failed = packAndTest(names);
  }

  const std::string targetFullPath = platform::absolutePath(names.targetName);
  int verdict = 0;
  failed = finishConversion(failed, names, sourceTime, verdict);

  platform::changeDirectory("..");
  removeTree(workDir);
  if (!failed) updateCatalog(settings.updateDescription, names.sourceFullPath, targetFullPath);
  return settings.keepSource ? 0 : verdict;
}
