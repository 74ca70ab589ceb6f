// Obtaining an archive's one-line description, and treating file_id.diz.
#include "describe/description.h"

#include <string_view>
#include <vector>

#include "config/settings.h"
#include "convert/external_program.h"
#include "convert/work_files.h"
#include "platform/platform.h"
#include "run/output.h"

unsigned char lastKept = 0;

namespace {

constexpr size_t kPieceBytes = 79;
constexpr size_t kMaxDescriptionBytes = 254;
constexpr std::string_view kDecoration = "-=*/#!.$%&+<>_^~\\";
constexpr std::string_view kFileIdDiz = "file_id.diz";
constexpr std::string_view kFileIdTmp = "file_id.tmp";

bool isBoxDrawing(unsigned char c) { return c >= 0xB0 && c <= 0xDF; }

bool becomesSpace(unsigned char c) { return c < 0x20 || c == 0x7F || isBoxDrawing(c) || c > 0xF2; }

bool isDecoration(unsigned char c) { return kDecoration.find(char(c)) != std::string_view::npos; }

bool isDotEntry(const std::string& name) { return name == "." || name == ".."; }

// The entry of `dir` spelled like `name` in any case that passes `wanted`;
// the first in listing order when several do.
template <typename Wanted>
std::optional<std::string> findEntryIgnoringCase(const std::string& dir, std::string_view name,
                                                 Wanted wanted) {
  std::vector<platform::DirEntry> entries;
  if (!platform::listDirectory(dir, entries)) return std::nullopt;
  for (const auto& entry : entries) {
    if (isDotEntry(entry.name) || !equalsIgnoreCase(entry.name, name)) continue;
    const std::string path = dir == "." ? entry.name : dir + platform::kSeparator + entry.name;
    if (wanted(entry, path)) return path;
  }
  return std::nullopt;
}

bool isRealDirectory(const platform::DirEntry& entry, const std::string&) {
  return entry.isDirectory;
}

bool isRegularFile(const platform::DirEntry&, const std::string& path) {
  const auto status = platform::fileStatus(path, false);
  return status && status->kind == platform::EntryKind::File;
}

size_t firstSeparator(std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (platform::isSeparator(name[i])) return i;
  }
  return std::string_view::npos;
}

// Finds a description file the unpacker left in the current directory, in
// whatever case it was stored. Only real directories are entered and only a
// regular file counts, so a link in an archive cannot lead outside.
std::optional<std::string> findDescriptionFile(std::string_view name) {
  if (name.empty() || platform::isSeparator(name.front())) return std::nullopt;
  std::string dir = ".";
  for (size_t end = firstSeparator(name); end != std::string_view::npos;
       end = firstSeparator(name)) {
    const auto sub = findEntryIgnoringCase(dir, name.substr(0, end), isRealDirectory);
    if (!sub) return std::nullopt;
    dir = *sub;
    name.remove_prefix(end + 1);
  }
  return findEntryIgnoringCase(dir, name, isRegularFile);
}

// An argument text that splitWords turns back into exactly `word`, so a
// description file name with blanks or quotes reaches the unpacker whole.
std::string quoteAsOneWord(std::string_view word) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    out += c;
    backslashes = 0;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string readCleanedText(platform::TextReader& reader) {
  std::string text;
  std::string piece;
  while (text.size() < kMaxDescriptionBytes && reader.readPiece(piece, kPieceBytes)) {
    appendCleanedText(text, piece);
  }
  return text;
}

// Runs the unpacker once per fileOrder name until one of them comes out;
// its cleaned text is the result, even when empty.
std::string readFirstDescriptionFile(const std::string& program, const std::string& args,
                                     const std::string& reference) {
  for (const std::string& name : settings.fileOrder) {
    runProgram(program, args, reference, quoteAsOneWord(name));
    const auto found = findDescriptionFile(name);
    if (!found) continue;
    platform::TextReader reader;
    if (!reader.open(*found, false)) continue;
    std::string text = readCleanedText(reader);
    reader.close();
    removeFile(*found);
    return text;
  }
  return {};
}

std::string rebuildFileIdPiece(std::string_view piece, int mode) {
  std::string rebuilt;
  for (char c : piece) {
    const auto byte = static_cast<unsigned char>(c);
    if (mode == 0 || !isBoxDrawing(byte)) {
      rebuilt += c;
    } else if (mode == 2) {
      rebuilt += char(boxCharToAscii(byte));
    } else if (mode == 3) {
      rebuilt += ' ';
    }
  }
  return rebuilt;
}

}  // namespace

unsigned char cleanDescriptionChar(unsigned char c) {
  if (c == '\n') return ' ';
  const unsigned char d = becomesSpace(c) ? ' ' : c;
  if (d == lastKept && (d == ' ' || isDecoration(d))) return 0;
  lastKept = d;
  return d;
}

void appendCleanedText(std::string& text, std::string_view bytes) {
  for (char c : bytes) {
    if (text.size() >= kMaxDescriptionBytes) return;
    if (const unsigned char kept = cleanDescriptionChar(static_cast<unsigned char>(c))) {
      text += char(kept);
    }
  }
}

unsigned char boxCharToAscii(unsigned char c) {
  constexpr std::string_view kShadesAndBlocks = "\xB0\xB1\xB2\xDB\xDC\xDD\xDE\xDF";
  constexpr std::string_view kCorners =
      "\xB7\xB8\xBB\xBC\xBD\xBE\xBF\xC0\xC8\xC9\xD3\xD4\xD5\xD6\xD9\xDA";
  constexpr std::string_view kHorizontals = "\xC4\xCD";
  const char byte = char(c);
  if (kShadesAndBlocks.find(byte) != std::string_view::npos) return '#';
  if (kCorners.find(byte) != std::string_view::npos) return '+';
  if (kHorizontals.find(byte) != std::string_view::npos) return '-';
  return '|';
}

void filterFileIdDiz(int mode) {
  const auto original = findDescriptionFile(kFileIdDiz);
  if (!original) return;
  platform::TextReader reader;
  if (!reader.open(*original, false)) return;
  platform::TextWriter writer;
  if (!writer.open(std::string(kFileIdTmp), platform::TextWriter::Mode::Truncate)) {
    reader.close();
    return;
  }
  std::string piece;
  while (reader.readPiece(piece, kPieceBytes)) {
    const std::string rebuilt = rebuildFileIdPiece(piece, mode);
    // A frame line that shrank to nothing goes with its line end.
    if (piece.size() > 1 && rebuilt.size() <= 1) continue;
    writer.write(rebuilt);
  }
  reader.close();
  writer.close();
  platform::deleteFile(*original);
  platform::renameFile(std::string(kFileIdTmp), std::string(kFileIdDiz));
}

std::optional<std::string> extractDescription(const std::string& archiveName, int packerIndex) {
  const bool known = packerIndex >= 0 && size_t(packerIndex) < settings.packers.size() &&
                     settings.packers[packerIndex].unpack.has_value();
  if (!known) {
    logMessage("Unknown unpacker:     %s\n", archiveName);
    if (settings.breakOnError) fatalStop("Unknown unpacker.");
    return std::nullopt;
  }
  // Located before the work directory exists, in the archive's directory.
  const SplitTemplate unpack = splitTemplate(*settings.packers[packerIndex].unpack);
  const auto program =
      unpack.program.empty() ? std::nullopt : locateProgram(unpack.program, LocateScope::InSearch);
  if (!program) {
    logMessage("Can't run unpacker:  %s\n", unpack.program);
    if (settings.breakOnError) fatalStop("");
    return std::nullopt;
  }

  const std::string workDir = createWorkDirectory();
  if (workDir.empty()) return std::nullopt;
  if (!platform::changeDirectory(workDir)) {
    removeTree(workDir);
    return std::nullopt;
  }
  std::string reference = std::string("..") + platform::kSeparator + archiveName;
  if (reference.find(' ') != std::string::npos) reference = "\"" + reference + "\"";
  std::string text = readFirstDescriptionFile(*program, unpack.args, reference);
  platform::changeDirectory("..");
  removeTree(workDir);

  if (text.empty()) return std::nullopt;
  return text;
}
