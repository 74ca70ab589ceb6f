// The archive search: input names to directories and masks, the walk, and
// the hand-off of every detected archive.
#include "search/archive_search.h"

#include <optional>
#include <vector>

#include "config/settings.h"
#include "convert/conversion.h"
#include "convert/target_claim.h"
#include "convert/type_detection.h"
#include "convert/work_files.h"
#include "describe/catalog.h"
#include "platform/platform.h"
#include "run/driver.h"
#include "run/output.h"
#include "search/directory_trail.h"
#include "search/listing_cache.h"
#include "search/wildcard.h"

std::string relativeDir;

namespace {

// One directory of the walk under way: its listing and how far it got. The
// walk keeps these on a stack of its own, so no tree is too deep for it.
struct WalkLevel {
  const std::vector<platform::ListedName>* kept = nullptr;  // the top's kept listing
  std::vector<platform::ListedName> owned;                  // a subdirectory's own
  std::optional<std::vector<size_t>> positions;             // absent: every entry
  size_t next = 0;
  size_t relativeLength = 0;  // relativeDir's length to go back to

  const std::vector<platform::ListedName>& names() const { return kept ? *kept : owned; }
  size_t count() const { return positions ? positions->size() : names().size(); }
  const platform::ListedName& take() { return names()[positions ? (*positions)[next++] : next++]; }
};

bool lockMissingLogged = false;

// The destination's identity; absent without a destination or while it does
// not exist.
std::optional<platform::FileId> destinationId() {
  if (!settings.destinationDir) return std::nullopt;
  // A root destination is kept without its separator ("" or "C:").
  const std::string dest = *settings.destinationDir + platform::kSeparator;
  const auto status = platform::fileStatus(dest, true);
  if (!status) return std::nullopt;
  return status->id;
}

// A work directory left by a stopped run holds an unpacked archive, not a
// part of the collection.
bool isWorkDirectoryName(const std::string& name) {
  constexpr std::string_view kPrefix = "$TMP$.";
  if (name.size() != kPrefix.size() + 3 || !startsWithIgnoreCase(name, kPrefix)) return false;
  for (size_t i = kPrefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

void mirrorDirectory() {
  if (!settings.destinationDir) return;
  platform::makeSharedDirectory(*settings.destinationDir + platform::kSeparator + relativeDir);
}

// Enters the subdirectory `name` and puts its level on the stack; nothing
// when it is to be passed over or cannot be entered.
void enterSubdirectory(const std::string& name, const std::optional<platform::FileId>& destination,
                       std::vector<WalkLevel>& levels, DirectoryTrail& trail) {
  if (name.empty() || name[0] == '.' || !settings.recurse || isWorkDirectoryName(name)) return;
  // The listing is older than this moment: only what is still a real
  // directory is entered, never a link that took its place.
  platform::DirectoryHandle child;
  if (!child.openChild(trail.deepest(), name)) return;
  // A destination inside the walked tree must not be walked itself, or the
  // mirror would grow below itself level by level.
  if (destination && child.id() == *destination) return;
  if (!trail.descend(std::move(child), name)) return;
  WalkLevel level;
  level.relativeLength = relativeDir.size();
  if (!relativeDir.empty()) relativeDir += platform::kSeparator;
  relativeDir += name;
  mirrorDirectory();
  trail.deepest().list(level.owned);
  levels.push_back(std::move(level));
}

// Leaves the deepest level, and every level above that can no longer be
// reached where the walk left it.
void leaveLevel(std::vector<WalkLevel>& levels, DirectoryTrail& trail) {
  relativeDir.resize(levels.back().relativeLength);
  levels.pop_back();
  while (!levels.empty() && !trail.ascend()) {
    relativeDir.resize(levels.back().relativeLength);
    levels.pop_back();
  }
}

// Claims the source for this run; false when it is to be passed over.
bool claimSource(const std::string& name, platform::FileClaim& claim) {
  switch (claim.claim(name)) {
    case platform::ClaimOutcome::Claimed:
      return true;
    case platform::ClaimOutcome::Missing:
      // Gone since the listing: another run has converted it.
      return false;
    case platform::ClaimOutcome::HeldElsewhere:
      ++runStats.skipped;
      logMessage("Archive in use:      %s\n", platform::absolutePath(name));
      return false;
    case platform::ClaimOutcome::NoLocks:
      if (!lockMissingLogged) logMessage("Can't lock archives: %s\n", platform::absolutePath(name));
      lockMissingLogged = true;
      return true;
  }
  return false;
}

// Converts a claimed source and removes it when allowed and unchanged; false
// when the walk could not come back to the source's directory. The new
// archive's name stays claimed until the source is removed or kept: another
// run packing into it meanwhile could replace an archive whose source is gone.
bool convertSource(const std::string& name, int packer, const DirectoryTrail& trail) {
  platform::FileClaim claim;
  if (!claimSource(name, claim)) return true;
  platform::NameClaim sourceNameClaim;
  if (!claimSourceName(name, sourceNameClaim)) return true;
  platform::NameClaim targetClaim;
  if (!claimTarget(name, targetClaim)) return true;
  // What the source is as its conversion starts; it goes only if it is still so.
  const auto listed = platform::fileStatus(name, false);
  if (!listed || listed->kind == platform::EntryKind::Directory) return true;
  runStats.currentSize = listed->size;
  const bool removable = convertArchive(name, packer) != 0;
  if (!trail.returnHere()) return false;
  if (removable) removeSourceIfUnchanged(name, *listed);
  return true;
}

// Hands a fitting archive on; false when the walk could not come back to
// its directory afterwards.
bool handleFile(const std::string& name, const std::string& mask, const DirectoryTrail& trail) {
  stopIfInterrupted();
  if (!wildcardMatch(name, mask)) return true;
  const int packer = detectPacker(name);
  if (packer < 0) return true;
  if (!settings.makeDescription) return convertSource(name, packer, trail);
  catalogArchive(name);
  return trail.returnHere();
}

// The first level: the kept listing of the current directory, and of it
// only what the mask can fit when nothing else is to be walked.
bool startLevel(const CurrentListing& top, const std::string& mask, WalkLevel& level) {
  if (!top.names) return false;
  level.kept = top.names;
  level.relativeLength = relativeDir.size();
  if (!settings.recurse && fitsOnlyItsBeginnings(mask))
    level.positions = beginningsOf(*top.names, mask);
  return true;
}

}  // namespace

void searchInput(std::string_view input) {
  const NameParts parts = splitName(input);
  const std::string directory = parts.drive + parts.directory;
  if (!directory.empty() && !platform::changeDirectory(directory)) return;
  walkDirectory(parts.baseName + parts.extension);
}

void walkDirectory(const std::string& mask) {
  const CurrentListing top = listCurrentDirectory();
  std::vector<WalkLevel> levels(1);
  if (!startLevel(top, mask, levels.front())) return;
  DirectoryTrail trail(*top.directory);
  const std::optional<platform::FileId> destination = destinationId();
  while (!levels.empty()) {
    WalkLevel& level = levels.back();
    if (level.next == level.count()) {
      leaveLevel(levels, trail);
      continue;
    }
    const platform::ListedName& entry = level.take();
    if (entry.kind == platform::EntryKind::Directory) {
      enterSubdirectory(std::string(entry.name), destination, levels, trail);
    } else if (entry.kind != platform::EntryKind::Other && !handleFile(entry.name, mask, trail)) {
      level.next = level.count();
    }
  }
}

void removeSourceIfUnchanged(const std::string& name, const platform::FileStatus& listed) {
  const auto status = platform::fileStatus(name, false);
  if (!status || status->kind == platform::EntryKind::Directory) return;
  if (!(status->id == listed.id) || status->size != listed.size ||
      status->lastWrite != listed.lastWrite || status->changeTime != listed.changeTime) {
    return;
  }
  // A source on a read-only medium stays; the log must say so, as the run
  // counts it converted.
  if (!removeFile(name)) logMessage("Can't delete source: %s\n", platform::absolutePath(name));
}
