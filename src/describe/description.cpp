// Obtaining an archive's one-line description, and treating file_id.diz.
#include "describe/description.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "convert/external_program.h"
#include "convert/work_files.h"
#include "convert/work_place.h"
#include "describe/temporary_file.h"
#include "describe/utf8_text.h"
#include "platform/platform.h"
#include "platform/quoted_word.h"
#include "run/output.h"

unsigned char lastKept = 0;

namespace {

constexpr size_t kPieceBytes = 79;
constexpr size_t kMaxDescriptionBytes = 254;
constexpr std::string_view kDecoration = "-=*/#!.$%&+<>_^~\\";
constexpr std::string_view kFileIdDiz = "file_id.diz";
constexpr std::string_view kFileIdTmp = "file_id.tmp";
constexpr char32_t kByteOrderMark = 0xFEFF;

bool isBoxDrawing(unsigned char c) { return c >= 0xB0 && c <= 0xDF; }

bool becomesSpace(unsigned char c) { return c < 0x20 || c == 0x7F || isBoxDrawing(c) || c > 0xF2; }

bool isC1Control(char32_t c) { return c >= 0x80 && c <= 0x9F; }

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

// A description file is read as UTF-8 when the whole of it is valid UTF-8
// with multi-byte characters; anything else is code page 437, as ever.
bool isUtf8File(const std::string& path) {
  platform::TextReader reader;
  if (!reader.open(path, false)) return false;
  Utf8Check check;
  std::string piece;
  while (reader.readPiece(piece, 4096)) check.feed(piece);
  return !reader.failed() && check.isMultiByteUtf8();
}

// The next piece of a text file: it ends after a line feed or its 79th byte,
// but a piece of UTF-8 text also takes the rest of a character it would cut.
bool readTextPiece(platform::TextReader& reader, std::string& piece, bool utf8) {
  if (!reader.readPiece(piece, kPieceBytes)) return false;
  if (const size_t missing = utf8 ? missingUtf8Bytes(piece) : 0) {
    std::string rest;
    if (reader.readPiece(rest, missing)) piece += rest;
  }
  return true;
}

std::string readCleanedText(platform::TextReader& reader, bool utf8) {
  std::string text;
  std::string piece;
  bool room = true;
  while (room && text.size() < kMaxDescriptionBytes && readTextPiece(reader, piece, utf8)) {
    if (utf8) {
      room = appendCleanedUtf8(text, piece);
    } else {
      appendCleanedText(text, piece);
    }
  }
  return text;
}

// Runs the unpacker once per fileOrder name until one of them comes out;
// its cleaned text is the result, even when empty.
std::string readFirstDescriptionFile(const std::string& program, const std::string& args,
                                     const std::string& reference) {
  for (const std::string& name : settings.fileOrder) {
    // A program stopped half-way may have left half a file.
    if (runProgram(program, args, reference, platform::quoteWord(name)) == kProgramStopped)
      return {};
    const auto found = findDescriptionFile(name);
    if (!found) continue;
    const bool utf8 = isUtf8File(*found);
    platform::TextReader reader;
    if (!reader.open(*found, false)) continue;
    std::string text = readCleanedText(reader, utf8);
    reader.close();
    removeFile(*found);
    return text;
  }
  return {};
}

// A piece of file_id.diz rebuilt by the mode, with both lengths counted in
// characters (bytes of code page 437 text, whole characters of UTF-8).
struct RebuiltPiece {
  std::string text;
  size_t length = 0;
  size_t rebuiltLength = 0;
};

RebuiltPiece rebuildFileIdPiece(std::string_view piece, int mode, bool utf8) {
  RebuiltPiece out;
  for (size_t at = 0; at < piece.size();) {
    const auto lead = static_cast<unsigned char>(piece[at]);
    const size_t length = utf8 ? std::min(utf8Length(lead), piece.size() - at) : 1;
    const std::string_view character = piece.substr(at, length);
    at += length;
    ++out.length;
    const char32_t code = utf8 ? utf8CodePoint(character) : 0;
    const bool frame = utf8 ? isFrameCodePoint(code) : isBoxDrawing(lead);
    if (mode == 0 || !frame) {
      out.text += character;
    } else if (mode == 2) {
      out.text += char(utf8 ? frameCodePointToAscii(code) : boxCharToAscii(lead));
    } else if (mode == 3) {
      out.text += ' ';
    } else {
      continue;
    }
    ++out.rebuiltLength;
  }
  return out;
}

// Writes the treated text of `original` to `out`; false when anything could
// not be read or written.
bool writeTreatedFileId(const std::string& original, int mode, platform::TextWriter& out) {
  const bool utf8 = isUtf8File(original);
  platform::TextReader reader;
  if (!reader.open(original, false)) return false;
  bool written = true;
  std::string piece;
  while (written && readTextPiece(reader, piece, utf8)) {
    const RebuiltPiece rebuilt = rebuildFileIdPiece(piece, mode, utf8);
    // A frame line that shrank to nothing goes with its line end.
    if (rebuilt.length > 1 && rebuilt.rebuiltLength <= 1) continue;
    written = out.write(rebuilt.text);
  }
  return written && !reader.failed();
}

// The treated file is named file_id.diz, unless another member already has
// that very name: then it keeps its own, so no member is ever replaced.
std::string treatedFileIdName(const std::string& original) {
  const std::string lowerCase(kFileIdDiz);
  if (original == lowerCase || !platform::fileStatus(lowerCase, false)) return lowerCase;
  return original;
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

bool appendCleanedUtf8(std::string& text, std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) {
    if (text.size() >= kMaxDescriptionBytes) return false;
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const size_t length = std::min(utf8Length(lead), bytes.size() - at);
    const std::string_view character = bytes.substr(at, length);
    at += length;
    if (length == 1) {
      if (const unsigned char kept = cleanDescriptionChar(lead)) text += char(kept);
      continue;
    }
    const char32_t code = utf8CodePoint(character);
    if (code == kByteOrderMark) continue;
    if (isFrameCodePoint(code) || isC1Control(code)) {
      if (const unsigned char kept = cleanDescriptionChar(' ')) text += char(kept);
      continue;
    }
    if (text.size() + length > kMaxDescriptionBytes) return false;
    text += character;
    // A continuation byte: neither a blank nor a decoration, so the next
    // character is kept whatever it is.
    lastKept = static_cast<unsigned char>(character.back());
  }
  return text.size() < kMaxDescriptionBytes;
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
  // The temporary never takes a member's name, and the file is replaced only
  // when every byte of the treated text was written.
  platform::TextWriter writer;
  const std::string temporary = createTemporary(writer, std::string(kFileIdTmp));
  if (temporary.empty()) return;
  bool written = writeTreatedFileId(*original, mode, writer);
  written = writer.close() && written;
  const std::string treated = treatedFileIdName(*original);
  if (!written || !platform::renameFile(temporary, treated)) {
    platform::deleteFile(temporary);
    return;
  }
  if (treated != *original) platform::deleteFile(*original);
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

  std::string reference = archiveFromWork(archiveName);
  // Quoted as one word for a program that parses its own command line.
  if (reference.find(' ') != std::string::npos) reference = "\"" + reference + "\"";
  WorkPlace workPlace;
  if (!enterWorkPlace(workPlace)) return std::nullopt;
  std::string text = readFirstDescriptionFile(*program, unpack.args, reference);
  leaveWorkPlace(workPlace);

  if (text.empty()) return std::nullopt;
  return text;
}
