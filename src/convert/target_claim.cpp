// Claiming the new archive's name, so that two runs whose sources share a
// target never make it at once.
#include "convert/target_claim.h"

#include "config/settings.h"
#include "run/output.h"
#include "search/archive_search.h"

namespace {

bool claimsMissingLogged = false;

}  // namespace

std::string targetFileName(const std::string& sourceName) {
  // A listed name is bare: a backslash in it is an ordinary byte.
  const std::string baseName = sourceName.substr(0, sourceName.rfind('.'));
  const PackerDef& target = settings.packers[size_t(settings.targetPacker)];
  return baseName + "." + target.ext.value_or("");
}

std::string targetDirectory() {
  if (!settings.destinationDir) return "";
  if (relativeDir.empty()) return *settings.destinationDir;
  return *settings.destinationDir + platform::kSeparator + relativeDir;
}

namespace {

// Claims `name` in `dir`; false, with the source logged as in use and
// counted as skipped, when another run holds it.
bool claimName(const std::string& dir, const std::string& name, const std::string& sourceName,
               platform::NameClaim& claim) {
  switch (claim.claim(dir, name)) {
    case platform::ClaimOutcome::Claimed:
    case platform::ClaimOutcome::Missing:
      return true;
    case platform::ClaimOutcome::HeldElsewhere:
      ++runStats.skipped;
      logMessage("Archive in use:      %s\n", platform::absolutePath(sourceName));
      return false;
    case platform::ClaimOutcome::NoLocks:
      if (!claimsMissingLogged)
        logMessage("Can't lock archives: %s\n", platform::absolutePath(name));
      claimsMissingLogged = true;
      return true;
  }
  return true;
}

// True when the new archives of the current directory go into it, whatever
// path the destination takes to it.
bool targetIsHere() {
  if (!settings.destinationDir) return true;
  const auto target = platform::fileStatus(targetDirectory() + platform::kSeparator, true);
  const auto here = platform::fileStatus(".", true);
  return target && here && target->id == here->id;
}

}  // namespace

bool claimTarget(const std::string& sourceName, platform::NameClaim& claim) {
  const std::string dir = settings.destinationDir ? targetDirectory() + platform::kSeparator : ".";
  return claimName(dir, targetFileName(sourceName), sourceName, claim);
}

bool claimSourceName(const std::string& sourceName, platform::NameClaim& claim) {
  // Where the source is its own new archive, claiming the target covers it.
  if (platform::sameEntryName(targetFileName(sourceName), sourceName) && targetIsHere())
    return true;
  return claimName(".", sourceName, sourceName, claim);
}
