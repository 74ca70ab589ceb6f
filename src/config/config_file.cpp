// Reading zelm.cfg into the settings: the key table, the ID line, DefaultPacker.
#include "config/config_file.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string_view>

#include "config/settings.h"
#include "platform/platform.h"

namespace {

// A line is read in pieces of at most this many bytes; every rule below
// applies to one piece.
constexpr size_t kPieceBytes = 79;

// What one pass over the file remembers until its end.
struct ReadState {
  std::optional<std::string> defaultPacker;
  // A path key whose line was longer than one piece: the next pieces up to
  // the line end belong to its value.
  std::optional<std::string>* pathGoingOn = nullptr;
  bool pieceEndsLine = false;  // the piece being applied ends with its line
};

bool isWordDelimiter(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\n'; }

// Takes the next word off the front of `rest`; empty when none is left.
std::string_view nextWord(std::string_view& rest) {
  size_t start = 0;
  while (start < rest.size() && isWordDelimiter(rest[start])) ++start;
  size_t end = start;
  while (end < rest.size() && !isWordDelimiter(rest[end])) ++end;
  std::string_view word = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return word;
}

std::string_view firstWord(std::string_view value) { return nextWord(value); }

std::string restOfLine(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
  return std::string(value);
}

// A missing word is simply not the literal, so it gives the other value.
bool wordIs(std::string_view value, std::string_view literal) {
  return equalsIgnoreCase(firstWord(value), literal);
}

// Any byte gets a value, so that a stray character shifts a signature
// instead of rejecting the line.
unsigned digitValue(char c) {
  uint8_t value = uint8_t(upperAscii(c) - '0');
  if (value > 9) value = uint8_t(value - 7);
  return value;
}

// An optional sign, then decimal digits up to the first other byte; values
// past the range of int are held at its bounds.
int leadingInteger(std::string_view word) {
  size_t at = 0;
  bool negative = false;
  if (at < word.size() && (word[at] == '+' || word[at] == '-')) negative = word[at++] == '-';
  int64_t magnitude = 0;
  for (; at < word.size() && word[at] >= '0' && word[at] <= '9'; ++at) {
    magnitude = magnitude * 10 + (word[at] - '0');
    if (magnitude > int64_t(INT_MAX) + 1) magnitude = int64_t(INT_MAX) + 1;
  }
  if (negative) return int(-magnitude);
  return magnitude > INT_MAX ? INT_MAX : int(magnitude);
}

void markNoSignature(PackerDef& packer) { packer.sigBytes[0] = 0xFF; }

void readSignature(PackerDef& packer, std::string_view value) {
  std::string_view offsetWord = nextWord(value);
  if (offsetWord.empty()) return markNoSignature(packer);
  packer.sigOffset = offsetWord.size() == 1
                         ? int(digitValue(offsetWord[0]))
                         : int(16 * digitValue(offsetWord[0]) + digitValue(offsetWord[1]));
  std::string_view bytesWord = nextWord(value);
  if (bytesWord.empty()) return markNoSignature(packer);
  for (size_t at = 0; at + 1 < bytesWord.size() && packer.sigLength < kMaxSignatureBytes; at += 2) {
    packer.sigBytes[packer.sigLength++] =
        uint8_t(16 * digitValue(bytesWord[at]) + digitValue(bytesWord[at + 1]));
  }
}

void applyId(ReadState&, std::string_view value) {
  PackerDef packer;
  readSignature(packer, value);
  settings.packers.push_back(std::move(packer));
}

PackerDef& currentPacker() { return settings.packers.back(); }

bool roomForPacker() { return settings.packers.size() < size_t(kMaxPackers); }
bool havePacker() { return !settings.packers.empty(); }
bool roomInDel() { return settings.delList.size() < size_t(kMaxListEntries); }
bool roomInAdd() { return settings.addList.size() < size_t(kMaxListEntries); }
bool roomInExec() { return settings.execList.size() < size_t(kMaxListEntries); }
bool always() { return true; }

// A path is the whole rest of its line, however long, so that a long path
// is never cut into a different one; blanks around it are dropped once the
// line is complete. An empty path sets nothing.
void applyPath(ReadState& state, std::optional<std::string>& field, std::string_view value) {
  field = restOfLine(value);
  if (!state.pieceEndsLine) state.pathGoingOn = &field;
}

void continuePath(ReadState& state, std::string_view piece) {
  if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
  state.pathGoingOn->value().append(piece);
  if (state.pieceEndsLine) state.pathGoingOn = nullptr;
}

void finishPath(std::optional<std::string>& field) {
  if (!field) return;
  while (!field->empty() && (field->back() == ' ' || field->back() == '\t')) field->pop_back();
  if (field->empty()) field.reset();
}

void appendWord(std::vector<std::string>& list, std::string_view value) {
  std::string_view word = firstWord(value);
  if (!word.empty() && word.front() != '-') list.emplace_back(word);
}

void appendWords(std::vector<std::string>& list, std::string_view value) {
  for (std::string_view word = nextWord(value); !word.empty(); word = nextWord(value)) {
    list.emplace_back(word);
  }
}

struct KeyRule {
  std::string_view key;
  bool (*allowed)();
  void (*apply)(ReadState& state, std::string_view value);
};

// Tested in this order. A key that begins another key stands after it
// (LogFile before Log), so the first key that matches is the right one.
constexpr KeyRule kKeys[] = {
    {"ID", roomForPacker, applyId},
    {"Ext", havePacker,
     [](ReadState&, std::string_view v) { currentPacker().ext = restOfLine(v); }},
    {"Pack", havePacker,
     [](ReadState&, std::string_view v) { currentPacker().pack = restOfLine(v); }},
    {"Unpack", havePacker,
     [](ReadState&, std::string_view v) { currentPacker().unpack = restOfLine(v); }},
    {"Test", havePacker,
     [](ReadState&, std::string_view v) { currentPacker().test = restOfLine(v); }},
    {"Append", havePacker,
     [](ReadState&, std::string_view v) { currentPacker().append = restOfLine(v); }},
    {"DefaultPacker", always,
     [](ReadState& state, std::string_view v) {
       std::string_view word = firstWord(v);
       if (!word.empty()) state.defaultPacker = std::string(word);
     }},
    {"BreakOnError", always,
     [](ReadState&, std::string_view v) { settings.breakOnError = wordIs(v, "Yes") ? 1 : 0; }},
    {"ExistArchive", always,
     [](ReadState&, std::string_view v) {
       settings.skipExisting = wordIs(v, "Overwrite") ? 0 : 1;
     }},
    {"LogFile", always,
     [](ReadState& state, std::string_view v) { applyPath(state, settings.logFile, v); }},
    {"Log", always,
     [](ReadState&, std::string_view v) { settings.logEnabled = wordIs(v, "Yes") ? 1 : 0; }},
    {"SourceArchive", always,
     [](ReadState&, std::string_view v) { settings.keepSource = wordIs(v, "Keep") ? 1 : 0; }},
    {"KeepTime", always,
     [](ReadState&, std::string_view v) { settings.keepTime = wordIs(v, "Yes") ? 1 : 0; }},
    {"Description", always,
     [](ReadState&, std::string_view v) {
       settings.updateDescription = wordIs(v, "Update") ? 1 : 0;
     }},
    {"Descfiles", always,
     [](ReadState&, std::string_view v) { appendWords(settings.descFiles, v); }},
    {"File_ID.DIZ", always,
     [](ReadState&, std::string_view v) {
       int mode = leadingInteger(firstWord(v));
       settings.fileIdDizMode = mode > 3 ? 0 : mode;
     }},
    {"Fileorder", always,
     [](ReadState&, std::string_view v) { appendWords(settings.fileOrder, v); }},
    {"Del", roomInDel, [](ReadState&, std::string_view v) { appendWord(settings.delList, v); }},
    {"Add", roomInAdd, [](ReadState&, std::string_view v) { appendWord(settings.addList, v); }},
    {"Exec", roomInExec,
     [](ReadState&, std::string_view v) { settings.execList.push_back(restOfLine(v)); }},
    {"Detect", always,
     [](ReadState&, std::string_view v) { settings.detectById = wordIs(v, "Ext") ? 0 : 1; }},
    {"ErrorExit", always,
     [](ReadState&, std::string_view v) { settings.errorExit = wordIs(v, "Yes") ? 1 : 0; }},
    {"WorkDir", always,
     [](ReadState& state, std::string_view v) { applyPath(state, settings.workDir, v); }},
    {"Verify", always,
     [](ReadState&, std::string_view v) { settings.verify = wordIs(v, "Yes") ? 1 : 0; }},
    {"Timeout", always,
     [](ReadState&, std::string_view v) {
       settings.timeoutSeconds = std::max(0, leadingInteger(firstWord(v)));
     }},
};

void applyLine(ReadState& state, std::string_view line) {
  for (const KeyRule& rule : kKeys) {
    if (!startsWithIgnoreCase(line, rule.key)) continue;
    if (rule.allowed()) rule.apply(state, line.substr(rule.key.size()));
    return;
  }
}

void prepareSettings() {
  settings.packers.clear();
  settings.delList.clear();
  settings.addList.clear();
  settings.execList.clear();
  settings.descFiles.clear();
  settings.fileOrder.clear();
  settings.targetPacker = -1;
  settings.breakOnError = 0;
  settings.destinationDir.reset();
  settings.detectById = 1;
  settings.keepTime = 1;
  settings.skipExisting = 0;
  settings.keepSource = 0;
  settings.makeDescription = 0;
}

// `fileName` in the executable's directory; when that path is unknown the
// file is looked for in the current directory.
std::string besideExecutable(const std::string& fileName) {
  const std::string exe = platform::executablePath();
  const size_t slash = exe.rfind(platform::kSeparator);
  if (slash == std::string::npos) return fileName;
  return exe.substr(0, slash) + platform::kSeparator + fileName;
}

}  // namespace

int readConfig() {
  settings.logPath = besideExecutable("zelm.log");
  return readConfigFile(besideExecutable("zelm.cfg"));
}

int readConfigFile(const std::string& path) {
  // A directory or a pipe of that name is no configuration: reading it would
  // fail or block instead of reporting the file as missing.
  auto status = platform::fileStatus(path, true);
  if (!status || status->kind != platform::EntryKind::File) return 0;
  platform::TextReader reader;
  if (!reader.open(path)) return 0;

  prepareSettings();
  ReadState state;
  std::string piece;
  while (reader.readPiece(piece, kPieceBytes)) {
    state.pieceEndsLine = !piece.empty() && piece.back() == '\n';
    // No key value can carry a NUL into a name or a command: it ends the
    // piece's text, as it ends a C string.
    if (size_t nul = piece.find('\0'); nul != std::string::npos) piece.resize(nul);
    if (state.pathGoingOn) {
      continuePath(state, piece);
    } else {
      applyLine(state, piece);
    }
  }
  reader.close();
  finishPath(settings.workDir);
  finishPath(settings.logFile);

  if (state.defaultPacker) settings.targetPacker = findPacker(*state.defaultPacker);
  return 1;
}
