// Work directories and the small file operations of a conversion.
#include "convert/work_files.h"

#include "config/settings.h"
#include "platform/platform.h"
#include "search/directory_trail.h"
#include "search/wildcard.h"

namespace {

int workDirCounter = 0;  // the digits of the last name handed out

bool hasWildcard(const std::string& pattern) {
  return pattern.find_first_of("*?") != std::string::npos;
}

// "*" is any run of characters, "?" any one character, other bytes match
// themselves with a-z as A-Z. A "*" or "?" in the name is an ordinary byte,
// so a star of the pattern is tried before a literal match; on a mismatch the
// last star takes one more character and the match goes on from there.
bool globMatch(std::string_view name, std::string_view pattern) {
  size_t n = 0;
  size_t p = 0;
  size_t starP = std::string_view::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || upperAscii(pattern[p]) == upperAscii(name[n]))) {
      ++n;
      ++p;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool hasDirectoryPart(const std::string& name) {
  for (char c : name) {
    if (platform::isSeparator(c)) return true;
  }
  return platform::driveLength(name) > 0;
}

// One directory being emptied: what in it fits the mask, and how far the
// emptying got.
struct EmptyingLevel {
  std::string name;  // as the directory above lists it
  std::vector<platform::ListedName> fitting;
  size_t next = 0;
};

EmptyingLevel fittingNames(const platform::DirectoryHandle& dir, const std::string& name,
                           const std::string& mask) {
  EmptyingLevel level;
  level.name = name;
  std::vector<platform::ListedName> names;
  dir.list(names);
  for (platform::ListedName& entry : names) {
    if (findPatternMatch(entry.name, mask)) level.fitting.push_back(std::move(entry));
  }
  return level;
}

// Deletes what fits `mask` in `top` (the current directory) and, by the same
// mask, in every fitting subdirectory, which goes once emptied. The levels
// are a stack of their own and each is come back to through the trail's
// held handles, never "..": an archive's tree may be deeper than any stack
// or path, and a link is deleted, never entered. A directory that cannot be
// come back to (moved away meanwhile) ends the emptying. Leaves `top` current.
void deleteFittingBelow(const platform::DirectoryHandle& top, const std::string& mask) {
  DirectoryTrail trail(top);
  std::vector<EmptyingLevel> levels;
  levels.push_back(fittingNames(top, "", mask));
  while (!levels.empty()) {
    EmptyingLevel& level = levels.back();
    if (level.next == level.fitting.size()) {
      const std::string emptied = level.name;
      levels.pop_back();
      if (levels.empty() || !trail.ascend()) break;
      platform::removeDirectory(emptied);
      continue;
    }
    const platform::ListedName entry = level.fitting[level.next++];
    if (entry.kind != platform::EntryKind::Directory) {
      platform::setNormalAttributes(entry.name);
      platform::deleteFile(entry.name);
      continue;
    }
    platform::DirectoryHandle child;
    if (child.openChild(trail.deepest(), entry.name) &&
        trail.descend(std::move(child), entry.name)) {
      levels.push_back(fittingNames(trail.deepest(), entry.name, mask));
    }
  }
  top.makeCurrent();
}

}  // namespace

std::string nextWorkDirName() {
  workDirCounter = (workDirCounter + 1) % 1000;
  char digits[4];
  digits[0] = char('0' + workDirCounter / 100);
  digits[1] = char('0' + workDirCounter / 10 % 10);
  digits[2] = char('0' + workDirCounter % 10);
  digits[3] = '\0';
  return std::string("$TMP$.") + digits;
}

std::string createWorkDirectory(const std::string& parent) {
  // A name that exists already may hold a stranger's files or another run's
  // work: never share it, take the next one.
  const std::string prefix = parent.empty() ? "" : parent + platform::kSeparator;
  for (int tries = 0; tries < 1000; ++tries) {
    std::string path = prefix + nextWorkDirName();
    if (platform::makeDirectory(path)) return path;
  }
  return {};
}

bool findPatternMatch(const std::string& name, const std::string& pattern) {
  if (!hasWildcard(pattern)) return platform::sameEntryName(name, pattern);
  // "*.*" is every name, with or without a dot; "NAME.*" needs the dot.
  if (pattern == "*.*") return true;
  return globMatch(name, pattern);
}

std::vector<std::string> findMatching(const std::string& pattern) {
  std::vector<std::string> names;
  if (!hasWildcard(pattern)) {
    if (pattern != "." && pattern != ".." && platform::fileStatus(pattern, false)) {
      names.push_back(pattern);
    }
    return names;
  }
  std::vector<platform::DirEntry> entries;
  platform::listDirectory(".", entries);
  for (const auto& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    if (findPatternMatch(entry.name, pattern)) names.push_back(entry.name);
  }
  return names;
}

void deleteMatching(const std::string& mask) {
  if (hasDirectoryPart(mask)) return;  // would reach outside this directory
  platform::DirectoryHandle here;
  if (here.openCurrent()) deleteFittingBelow(here, mask);
}

void removeTree(const std::string& dir) {
  const auto status = platform::fileStatus(dir, false);
  if (!status) return;
  if (status->kind != platform::EntryKind::Directory) {
    removeFile(dir);
    return;
  }
  const NameParts parts = splitName(dir);
  const std::string holding = parts.drive + parts.directory;
  const std::string name = parts.baseName + parts.extension;
  if (!holding.empty() && !platform::changeDirectory(holding)) return;
  platform::DirectoryHandle holder;
  platform::DirectoryHandle top;
  if (!holder.openCurrent()) return;
  if (top.openChild(holder, name) && top.makeCurrent()) {
    deleteFittingBelow(top, "*.*");
    holder.makeCurrent();
  }
  platform::removeDirectory(name);
}

void copyFileIn(const std::string& path) {
  const NameParts parts = splitName(path);
  const std::string copyName = parts.baseName + parts.extension;
  if (copyName.empty()) return;
  platform::copyFile(parts.drive + parts.directory + copyName, copyName);
}

int fileExists(const std::string& name) { return platform::fileStatus(name, false) ? 1 : 0; }

uint64_t fileSize(const std::string& name) {
  const auto status = platform::fileStatus(name, true);
  return status ? status->size : 0;
}

bool removeFile(const std::string& name) {
  if (platform::deleteFile(name)) return true;
  platform::setNormalAttributes(name);
  return platform::deleteFile(name);
}
