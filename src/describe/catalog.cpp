// Description catalogs beside the archives: making and updating lines.
#include "describe/catalog.h"

#include <string_view>

#include "config/settings.h"
#include "convert/type_detection.h"
#include "convert/work_files.h"
#include "describe/description.h"
#include "platform/platform.h"

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

// A path's drive and directory (with the separator that ends them) and its
// last component.
struct PathParts {
  std::string directory;
  std::string name;
};

PathParts splitPath(const std::string& path) {
  size_t start = path.size();
  while (start > 0 && !platform::isSeparator(path[start - 1])) --start;
  if (start < platform::driveLength(path)) start = platform::driveLength(path);
  return {path.substr(0, start), path.substr(start)};
}

// The catalog's name with the extension "tmp", or "tm$" when that would be
// the catalog's own name.
std::string temporaryName(const std::string& catalogName) {
  std::string base = catalogName;
  std::string_view extension;
  if (const size_t dot = catalogName.rfind('.'); dot != std::string::npos) {
    base = catalogName.substr(0, dot);
    extension = std::string_view(catalogName).substr(dot + 1);
  }
  return base + (equalsIgnoreCase(extension, "tmp") ? ".tm$" : ".tmp");
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
  void close() { reader_.close(); }

 private:
  platform::TextReader reader_;
  std::string next_;
  bool haveNext_ = false;
};

// A catalog that ends in the middle of a line gets its line end before a
// line is added, so that no two lines are glued together.
void endOpenLine(const std::string& path, platform::TextWriter& out) {
  std::string tail;
  if (platform::readFileTail(path, 1, tail) && !tail.empty() && tail.back() != '\n') {
    out.write("\n");
  }
}

bool endsLine(const std::string& piece) { return !piece.empty() && piece.back() == '\n'; }

std::string renamedPiece(const std::string& piece, const std::string& oldName,
                         const std::string& newName) {
  return newName + piece.substr(oldName.size());
}

enum class Rewrite { Done, NoTemporary };

// Same directory: the catalog is rewritten with every line of the old name
// under the new name, through a temporary that then takes its place.
Rewrite rewriteCatalog(CatalogReader& reader, const std::string& catalog,
                       const std::string& directory, const std::string& oldName,
                       const std::string& newName, bool& found) {
  const std::string temporary = directory + temporaryName(splitPath(catalog).name);
  platform::TextWriter out;
  if (!out.open(temporary, platform::TextWriter::Mode::Truncate)) {
    reader.close();
    return Rewrite::NoTemporary;
  }
  std::string piece;
  while (reader.next(piece)) {
    if (catalogLineMatches(piece, oldName, reader.atEnd())) {
      found = true;
      out.write(renamedPiece(piece, oldName, newName));
    } else {
      out.write(piece);
    }
  }
  out.close();
  reader.close();
  platform::deleteFile(catalog);
  platform::renameFile(temporary, catalog);
  return Rewrite::Done;
}

// Other directory: the first line of the old name, whole however long,
// goes under the new name to the end of the destination's catalog.
bool carryLine(CatalogReader& reader, const std::string& destination, const std::string& oldName,
               const std::string& newName) {
  platform::TextWriter out;
  if (!out.open(destination, platform::TextWriter::Mode::Append)) {
    reader.close();
    return false;
  }
  bool found = false;
  std::string piece;
  while (!found && reader.next(piece)) {
    if (!catalogLineMatches(piece, oldName, reader.atEnd())) continue;
    found = true;
    endOpenLine(destination, out);
    out.write(renamedPiece(piece, oldName, newName));
    bool ended = endsLine(piece);
    while (!ended && reader.next(piece)) {
      out.write(piece);
      ended = endsLine(piece);
    }
    if (!ended) out.write("\n");
  }
  out.close();
  reader.close();
  return found;
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
  const std::string catalog = findCatalog().value_or(settings.descFiles.front());
  platform::TextWriter out;
  if (!out.open(catalog, platform::TextWriter::Mode::Append)) return;
  for (const std::string& entry : findMatching(name)) {
    if (holdsControlByte(entry)) continue;
    const auto status = platform::fileStatus(entry, false);
    if (!status || status->kind == platform::EntryKind::Directory) continue;
    const int packer = detectPacker(entry);
    if (packer < 0) continue;
    if (const auto description = extractDescription(entry, packer)) {
      endOpenLine(catalog, out);
      out.write(entry + "\t" + *description + "\n");
    }
  }
  out.close();
}

void updateCatalog(int enabled, const std::string& oldPath, const std::string& newPath) {
  if (!enabled) return;
  const PathParts oldParts = splitPath(oldPath);
  const PathParts newParts = splitPath(newPath);
  if (holdsControlByte(newParts.name)) return;

  bool found = false;
  if (const auto catalog = findCatalog()) {
    CatalogReader reader;
    if (reader.open(*catalog)) {
      if (oldParts.directory == newParts.directory) {
        // Without its temporary the catalog is left exactly as it was.
        if (rewriteCatalog(reader, *catalog, newParts.directory, oldParts.name, newParts.name,
                           found) == Rewrite::NoTemporary) {
          return;
        }
      } else {
        const std::string destination = newParts.directory + splitPath(*catalog).name;
        found = carryLine(reader, destination, oldParts.name, newParts.name);
      }
    }
  }
  if (!found) catalogArchive(newParts.name);
}
