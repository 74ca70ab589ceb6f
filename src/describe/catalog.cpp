// Description catalogs beside the archives: making and updating lines.
#include "describe/catalog.h"

#include <string_view>

#include "config/settings.h"
#include "convert/type_detection.h"
#include "convert/work_files.h"
#include "describe/catalog_lock.h"
#include "describe/description.h"
#include "describe/temporary_file.h"
#include "platform/platform.h"
#include "run/output.h"

namespace {

constexpr size_t kPieceBytes = 79;

bool isCatalogFile(const std::string& name) {
  const auto status = platform::fileStatus(name, false);
  return status && status->kind == platform::EntryKind::File && !status->readOnly;
}

// A TAB or line end in a name would split or forge catalog lines.
bool holdsControlByte(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

// A path's directory (with the separator that ends it) and its last component.
struct PathParts {
  std::string directory;
  std::string name;
};

// Splits a path this program built: only its own separator divides it, so a
// listed name holding "\" stays one name.
PathParts splitPath(const std::string& path) {
  const size_t slash = path.rfind(platform::kSeparator);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  return {path.substr(0, start), path.substr(start)};
}

// The catalog's path with the extension "tmp", or "tm$" when that would be
// the catalog's own name: the first name its rewrite tries.
std::string temporaryName(const std::string& catalog) {
  const PathParts parts = splitPath(catalog);
  std::string base = parts.name;
  std::string_view extension;
  if (const size_t dot = parts.name.rfind('.'); dot != std::string::npos) {
    base = parts.name.substr(0, dot);
    extension = std::string_view(parts.name).substr(dot + 1);
  }
  return parts.directory + base + (equalsIgnoreCase(extension, "tmp") ? ".tm$" : ".tmp");
}

// A directory whose owner may not write to it takes no new files, whoever
// runs the program.
bool takesNewFiles(const std::string& directory) {
  const auto status = platform::fileStatus(directory, true);
  return status && status->kind == platform::EntryKind::Directory && !status->readOnly;
}

bool mayOpenForAppending(const std::string& catalog) {
  return platform::fileStatus(catalog, false) || takesNewFiles(catalogDirectory(catalog));
}

// Reads a catalog piece by piece, one piece ahead, so that the caller knows
// whether a piece is the catalog's last.
class CatalogReader {
 public:
  bool open(const std::string& path) {
    if (!reader_.open(path, false)) return false;
    haveNext_ = reader_.readPiece(next_, kPieceBytes);
    return true;
  }
  bool next(std::string& piece) {
    if (!haveNext_) return false;
    piece.swap(next_);
    haveNext_ = reader_.readPiece(next_, kPieceBytes);
    return true;
  }
  bool atEnd() const { return !haveNext_; }
  bool failed() const { return reader_.failed(); }
  void close() { reader_.close(); }

 private:
  platform::TextReader reader_;
  std::string next_;
  bool haveNext_ = false;
};

bool endsLine(const std::string& piece) { return !piece.empty() && piece.back() == '\n'; }

std::string renamedPiece(const std::string& piece, const std::string& oldName,
                         const std::string& newName) {
  return newName + piece.substr(oldName.size());
}

enum class Append { Done, NotOpened, Failed };

// Adds `lines` to the end of `catalog`, whose directory the caller holds
// locked. A catalog that ends in the middle of a line gets its line end first,
// so no two lines are glued together; when a write fails the catalog is cut
// back to what it was, so no partial line stays.
Append appendToCatalog(const std::string& catalog, const std::string& lines) {
  if (!mayOpenForAppending(catalog)) return Append::NotOpened;
  platform::TextWriter out;
  if (!out.open(catalog, platform::TextWriter::Mode::Append)) return Append::NotOpened;
  const int64_t before = out.size();
  bool written = before >= 0;
  if (written && before > 0) {
    std::string tail;
    written = platform::readFileTail(catalog, 1, tail) && (tail == "\n" || out.write("\n"));
  }
  written = written && out.write(lines);
  if (!written && before >= 0) out.truncate(before);
  written = out.close() && written;
  return written ? Append::Done : Append::Failed;
}

std::string chosenCatalog() { return findCatalog().value_or(settings.descFiles.front()); }

// Make mode opens (and so creates) the catalog before anything is extracted;
// false when it cannot be opened.
bool openCatalog(const std::string& catalog) {
  if (!mayOpenForAppending(catalog)) return false;
  platform::TextWriter out;
  return out.open(catalog, platform::TextWriter::Mode::Append);
}

// A catalog left behind its archives is worth a word: nothing else shows it.
void reportNotUpdated(const std::string& catalog) {
  logMessage("Catalog not updated: %s\n", catalog);
}

void appendCatalogLine(const std::string& line) {
  const std::string catalog = chosenCatalog();
  const CatalogLock lock(catalogDirectory(catalog));
  if (appendToCatalog(catalog, line) == Append::Failed) reportNotUpdated(catalog);
}

enum class LineMove { Moved, NotFound, Failed };

// Same directory: the catalog is rewritten with every line of the old name
// under the new name. The new text goes to a temporary of this run's own
// beside the catalog, which one rename then puts in the catalog's place: at
// every moment the catalog is whole, and when anything fails it stays exactly
// as it was.
LineMove renameLines(const std::string& catalog, const std::string& oldName,
                     const std::string& newName) {
  const std::string directory = catalogDirectory(catalog);
  const CatalogLock lock(directory);
  CatalogReader reader;
  if (!reader.open(catalog)) return LineMove::NotFound;
  platform::TextWriter out;
  const std::string temporary =
      takesNewFiles(directory) ? createTemporary(out, temporaryName(catalog)) : "";
  if (temporary.empty()) {
    reportNotUpdated(catalog);
    return LineMove::Failed;
  }
  bool found = false;
  bool written = true;
  std::string piece;
  while (written && reader.next(piece)) {
    const bool matches = catalogLineMatches(piece, oldName, reader.atEnd());
    found = found || matches;
    written = out.write(matches ? renamedPiece(piece, oldName, newName) : piece);
  }
  written = written && !reader.failed();
  reader.close();
  written = out.close() && written;
  if (written && platform::renameFile(temporary, catalog)) {
    return found ? LineMove::Moved : LineMove::NotFound;
  }
  platform::deleteFile(temporary);
  reportNotUpdated(catalog);
  return LineMove::Failed;
}

// The first line of the old name, whole however long and renamed, with its
// line end; "" when the catalog has none.
std::string firstLineOf(CatalogReader& reader, const std::string& oldName,
                        const std::string& newName) {
  std::string piece;
  while (reader.next(piece)) {
    if (!catalogLineMatches(piece, oldName, reader.atEnd())) continue;
    std::string line = renamedPiece(piece, oldName, newName);
    while (!endsLine(line) && reader.next(piece)) line += piece;
    if (!endsLine(line)) line += '\n';
    return line;
  }
  return {};
}

// Other directory: the first line of the old name goes under the new name to
// the end of the catalog of the same name in the new directory.
LineMove carryLine(const std::string& catalog, const std::string& newDirectory,
                   const std::string& oldName, const std::string& newName) {
  CatalogReader reader;
  if (!reader.open(catalog)) return LineMove::NotFound;
  const std::string line = firstLineOf(reader, oldName, newName);
  reader.close();
  if (line.empty()) return LineMove::NotFound;
  const std::string destination = newDirectory + splitPath(catalog).name;
  const CatalogLock lock(catalogDirectory(destination));
  switch (appendToCatalog(destination, line)) {
    case Append::Done:
      return LineMove::Moved;
    case Append::NotOpened:
      return LineMove::NotFound;
    case Append::Failed:
      break;
  }
  reportNotUpdated(destination);
  return LineMove::Failed;
}

}  // namespace

bool catalogLineMatches(std::string_view piece, std::string_view name, bool lastPiece) {
  if (name.empty() || !startsWithIgnoreCase(piece, name)) return false;
  if (piece.size() == name.size()) return lastPiece;
  const char next = piece[name.size()];
  return next == ' ' || next == '\t' || next == '\n';
}

std::optional<std::string> findCatalog() {
  for (const std::string& name : settings.descFiles) {
    if (isCatalogFile(name)) return name;
  }
  return std::nullopt;
}

void catalogArchive(const std::string& name) {
  if (settings.descFiles.empty()) return;
  if (!openCatalog(chosenCatalog())) return;
  // The name is a listed or built one: looked up exactly, never as a pattern.
  if (holdsControlByte(name)) return;
  const auto status = platform::fileStatus(name, false);
  if (!status || status->kind == platform::EntryKind::Directory) return;
  const int packer = detectPacker(name);
  if (packer < 0) return;
  // Extracted before the lock is taken: other runs wait for no unpacker.
  if (const auto description = extractDescription(name, packer)) {
    appendCatalogLine(name + "\t" + *description + "\n");
  }
}

void updateCatalog(int enabled, const std::string& oldPath, const std::string& newPath) {
  if (!enabled) return;
  const PathParts oldParts = splitPath(oldPath);
  const PathParts newParts = splitPath(newPath);
  if (holdsControlByte(newParts.name)) return;

  // A name holding a TAB or line end is no line's name: it must not take
  // over the line of another archive.
  LineMove move = LineMove::NotFound;
  const auto catalog = holdsControlByte(oldParts.name) ? std::nullopt : findCatalog();
  if (catalog && oldParts.directory == newParts.directory) {
    move = renameLines(*catalog, oldParts.name, newParts.name);
  } else if (catalog) {
    move = carryLine(*catalog, newParts.directory, oldParts.name, newParts.name);
  }
  if (move == LineMove::NotFound) catalogArchive(newParts.name);
}
