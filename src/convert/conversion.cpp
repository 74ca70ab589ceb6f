// Converting one archive: unpack into a work directory, adjust, pack, test,
// keep the time, count, clean up and give the removal verdict.
#include "convert/conversion.h"

#include <optional>

#include "config/settings.h"
#include "convert/external_program.h"
#include "convert/round_trip.h"
#include "convert/target_claim.h"
#include "convert/work_files.h"
#include "convert/work_place.h"
#include "describe/catalog.h"
#include "describe/description.h"
#include "platform/platform.h"
#include "run/driver.h"
#include "run/output.h"
#include "run/progress.h"

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
  const std::string targetFile = targetFileName(sourceName);
  const std::string archiveDir = archiveDirFromWork();
  names.sourceFromWork = archiveFromWork(sourceName);
  // A blank in the extension alone would split the reference too.
  const bool quoteSource = hasBlank(sourceName) || hasBlank(archiveDir);
  names.sourceReference = quoteSource ? quoted(names.sourceFromWork) : names.sourceFromWork;

  const std::string targetDir = settings.destinationDir ? targetDirectory() : archiveDir;
  names.targetName = targetDir + platform::kSeparator + targetFile;
  const bool quote = hasBlank(targetFile) || hasBlank(targetDir);
  names.targetReference = quote ? quoted(names.targetName) : names.targetName;
  return names;
}

// A failure that a stop signal caused is the stop's business, not BreakOnError's.
void stopIf(bool condition, std::string_view message) {
  if (condition && settings.breakOnError && platform::stopSignal() == 0) fatalStop(message);
}

// What the clean-up of one conversion needs to know.
struct Conversion {
  ConversionNames names;
  WorkPlace place;
  std::string targetFullPath;
  bool targetExisted = false;  // the new archive's name was taken before it began
};

// A new archive this conversion made goes when its success was not logged;
// one that was there before stays.
void removeUnloggedTarget(const Conversion& c) {
  if (!c.targetExisted && platform::fileStatus(c.names.targetName, false)) {
    removeFile(c.names.targetName);
  }
}

// After a stop signal: the work directory and the archive being made go, the
// source stays, and the run stops. Called inside the work directory.
void abandonIfStopped(const Conversion& c) {
  if (platform::stopSignal() == 0) return;
  removeUnloggedTarget(c);
  leaveWorkPlace(c.place);
  stopIfInterrupted();
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

// The new archive itself, never a link that a packer left in its place.
bool isRegularFile(const std::string& path) {
  const auto status = platform::fileStatus(path, false);
  return status && status->kind == platform::EntryKind::File;
}

// Pack, then test when asked; true when either failed or no archive came.
// A packer stopped at its time limit leaves at most part of an archive:
// one that this conversion began goes, so it is never taken for a result.
bool packAndTest(const Conversion& c) {
  const ConversionNames& names = c.names;
  const PackerDef& target = settings.packers[size_t(settings.targetPacker)];
  const std::string append = target.append.value_or("");
  const int packed = runProgram(packProgram, packArgs, names.targetReference, append);
  if (packed == kProgramStopped) removeUnloggedTarget(c);
  bool failed = packed != 0;
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

// Logs why the new archive is not trusted and takes away what this
// conversion made; always true (the conversion failed).
bool reportVerifyError(const Conversion& c, const std::string& difference) {
  logMessage("Verify error:       %s\n", c.names.sourceFullPath);
  logMessage("                    %s\n", difference);
  if (c.targetExisted) {
    logMessage("                    existed before, left in place: %s\n", c.targetFullPath);
  } else {
    removeUnloggedTarget(c);
  }
  stopIf(true, "Can't verify archive.");
  return true;
}

// Pack and test; with Verify the new archive is then unpacked again and must
// give back exactly what the pack step was given. True when anything failed.
bool packTestAndVerify(const Conversion& c) {
  if (!settings.verify) return packAndTest(c);
  // Taken before the packer runs: one that moves the files away cannot
  // make the comparison empty.
  Snapshot packed;
  const std::string unreadable = takeSnapshot(packed);
  abandonIfStopped(c);
  if (!unreadable.empty()) return reportVerifyError(c, unreadable);
  const bool failed = packAndTest(c);
  abandonIfStopped(c);
  if (failed) return true;
  const std::string difference = checkRoundTrip(packed, c.names.targetReference, c.place.dir);
  abandonIfStopped(c);
  return !difference.empty() && reportVerifyError(c, difference);
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
  stopIfInterrupted();
  const PackerDef& source = settings.packers[size_t(sourcePacker)];
  if (!source.unpack) fatalStop("Unknown unpacker.\n");

  Conversion c;
  c.names = buildNames(sourceName);
  showProgress(c.names.sourceFullPath);
  // Read before anything runs, so a repack onto the same file keeps it.
  std::optional<platform::DosDateTime> sourceTime;
  if (platform::DosDateTime when; platform::readDosTime(sourceName, when)) {
    sourceTime = when;
  }

  if (!enterWorkPlace(c.place)) {
    logMessage("Convert error:       %s\n", c.names.sourceFullPath);
    stopIf(true, "Can't make directory.");
    ++runStats.errors;
    return 0;
  }
  const ConversionNames& names = c.names;
  c.targetFullPath = platform::absolutePath(names.targetName);
  c.targetExisted = fileExists(names.targetName) != 0;

  if (settings.skipExisting && c.targetExisted) {
    ++runStats.skipped;
    logMessage("Archive skipped:     %s\n", names.sourceFullPath);
    leaveWorkPlace(c.place);
    return 0;
  }

  bool failed = unpackArchive(source, names);
  abandonIfStopped(c);
  if (!failed) {
    failed = adjustWorkDirectory();
    abandonIfStopped(c);
    filterFileIdDiz(settings.fileIdDizMode);
    if (!failed) failed = packTestAndVerify(c);
    // A pack cut short leaves a part of an archive that no one has checked.
    abandonIfStopped(c);
  }

  int verdict = 0;
  failed = finishConversion(failed, names, sourceTime, verdict);

  leaveWorkPlace(c.place);
  // Stopped after its success was logged: the new archive stays, and so do
  // the source and its catalog line, which still agree with each other.
  if (platform::stopSignal() != 0) return 0;
  if (!failed) updateCatalog(settings.updateDescription, names.sourceFullPath, c.targetFullPath);
  return settings.keepSource ? 0 : verdict;
}
