// Proving a new archive by a round trip: snapshots of two trees and the first
// difference between them.
#include "convert/round_trip.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "config/settings.h"
#include "convert/external_program.h"
#include "convert/work_files.h"
#include "search/directory_trail.h"

namespace {

// Names come from archives: no byte of one may end or forge a log line.
std::string printable(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
  }
  return out;
}

const char* kindWord(platform::EntryKind kind) {
  switch (kind) {
    case platform::EntryKind::File:
      return "file";
    case platform::EntryKind::Directory:
      return "directory";
    case platform::EntryKind::Link:
      return "link";
    case platform::EntryKind::Other:
      break;
  }
  return "special file";
}

bool digestFile(const std::string& name, SnapshotEntry& entry) {
  Sha256 sha;
  const bool read = platform::readFilePieces(name, [&](std::string_view piece) {
    sha.add(piece);
    entry.size += piece.size();
    return platform::stopSignal() == 0;
  });
  entry.digest = sha.finish();
  return read;
}

// Records the entry `name` of the current directory, named `prefix` + name;
// "" or what could not be read.
std::string recordEntry(const std::string& name, const std::string& prefix, SnapshotEntry& entry) {
  entry.name = prefix + name;
  const auto status = platform::fileStatus(name, false);
  if (!status) return printable(entry.name) + ": cannot be read";
  entry.kind = status->kind;
  bool read = true;
  if (entry.kind == platform::EntryKind::File) {
    read = digestFile(name, entry);
  } else if (entry.kind == platform::EntryKind::Link) {
    const auto target = platform::readLinkTarget(name);
    read = target.has_value();
    entry.linkTarget = target.value_or("");
  }
  return read ? "" : printable(entry.name) + ": cannot be read";
}

// One directory of the tree being recorded: its names, how far the record
// got, and what its entries' names begin with.
struct RecordLevel {
  std::vector<platform::ListedName> names;
  size_t next = 0;
  std::string prefix;
};

// Lists the deepest directory of `trail` as the next level; false when it
// cannot be listed.
bool pushLevel(const DirectoryTrail& trail, const std::string& prefix,
               std::vector<RecordLevel>& levels) {
  RecordLevel level;
  level.prefix = prefix;
  if (!trail.deepest().list(level.names)) return false;
  levels.push_back(std::move(level));
  return true;
}

// Adds the tree below `top` (the current directory) and leaves `top` current.
// The levels are a stack of their own, come back to through held handles:
// an archive's tree may be deeper than any stack or path.
std::string addTree(const platform::DirectoryHandle& top, Snapshot& out) {
  DirectoryTrail trail(top);
  std::vector<RecordLevel> levels;
  std::string problem = pushLevel(trail, "", levels) ? "" : ": cannot be listed";
  while (problem.empty() && !levels.empty()) {
    RecordLevel& level = levels.back();
    if (level.next == level.names.size()) {
      levels.pop_back();
      if (!levels.empty() && !trail.ascend()) problem = "lost its way back";
      continue;
    }
    if (platform::stopSignal() != 0) {
      problem = "stopped";
      break;
    }
    const std::string name = level.names[level.next++].name;
    SnapshotEntry entry;
    problem = recordEntry(name, level.prefix, entry);
    if (!problem.empty()) break;
    out.entries.push_back(entry);
    if (entry.kind != platform::EntryKind::Directory) continue;
    platform::DirectoryHandle child;
    if (!child.openChild(trail.deepest(), name) || !trail.descend(std::move(child), name)) {
      problem = printable(entry.name) + ": cannot be read";
    } else if (!pushLevel(trail, entry.name + "/", levels)) {
      problem = printable(entry.name + "/") + ": cannot be listed";
    }
  }
  top.makeCurrent();
  return problem;
}

std::string compareEntries(const SnapshotEntry& packed, const SnapshotEntry& unpacked) {
  const std::string name = printable(packed.name);
  if (packed.kind != unpacked.kind) {
    return name + ": packed as a " + kindWord(packed.kind) + ", comes back as a " +
           kindWord(unpacked.kind);
  }
  if (packed.kind == platform::EntryKind::Link && packed.linkTarget != unpacked.linkTarget) {
    return name + ": link to \"" + printable(packed.linkTarget) + "\" packed, link to \"" +
           printable(unpacked.linkTarget) + "\" comes back";
  }
  if (packed.kind != platform::EntryKind::File) return "";
  if (packed.size != unpacked.size) {
    return name + ": " + std::to_string(packed.size) + " bytes packed, " +
           std::to_string(unpacked.size) + " come back";
  }
  if (packed.digest != unpacked.digest) return name + ": other bytes of the same size come back";
  return "";
}

std::string unpackAndCompare(const Snapshot& packed, const std::string& program,
                             const std::string& args, const std::string& targetReference,
                             const std::string& append) {
  const int code = runProgram(program, args, targetReference, append);
  if (code == kProgramStopped) return "unpacking the new archive was stopped";
  if (code != 0) return "unpacking the new archive failed with exit code " + std::to_string(code);
  Snapshot unpacked;
  const std::string problem = takeSnapshot(unpacked);
  if (!problem.empty()) return "unpacked " + problem;
  return firstDifference(packed, unpacked);
}

}  // namespace

std::string takeSnapshot(Snapshot& out) {
  out.entries.clear();
  platform::DirectoryHandle top;
  const std::string problem = top.openCurrent() ? addTree(top, out) : ": cannot be listed";
  std::sort(out.entries.begin(), out.entries.end(),
            [](const SnapshotEntry& a, const SnapshotEntry& b) { return a.name < b.name; });
  return problem;
}

std::string firstDifference(const Snapshot& packed, const Snapshot& unpacked) {
  const auto& a = packed.entries;
  const auto& b = unpacked.entries;
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() || (i < a.size() && a[i].name < b[j].name)) {
      return printable(a[i].name) + ": missing from the new archive";
    }
    if (i == a.size() || b[j].name < a[i].name) {
      return printable(b[j].name) + ": in the new archive but never packed";
    }
    std::string difference = compareEntries(a[i++], b[j++]);
    if (!difference.empty()) return difference;
  }
  return "";
}

std::string checkRoundTrip(const Snapshot& packed, const std::string& targetReference,
                           const std::string& workDir) {
  const PackerDef& target = settings.packers[size_t(settings.targetPacker)];
  if (!target.unpack) return "the target packer has no Unpack template";
  const SplitTemplate unpack = splitTemplate(*target.unpack);
  const std::optional<std::string> program = locateProgram(unpack.program, LocateScope::InSearch);
  if (!program) return "unpack program not found: " + unpack.program;

  platform::changeDirectory("..");
  const std::string checkDir = createWorkDirectory();
  std::string difference = "no work directory to unpack the new archive in";
  if (!checkDir.empty() && platform::changeDirectory(checkDir)) {
    difference = unpackAndCompare(packed, *program, unpack.args, targetReference,
                                  target.append.value_or(""));
    platform::changeDirectory("..");
  }
  if (!checkDir.empty()) removeTree(checkDir);
  platform::changeDirectory(workDir);
  return difference;
}
