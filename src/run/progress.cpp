// The status line on a terminal: archives done, errors so far, and the
// archive being converted.
#include "run/progress.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "config/settings.h"
#include "describe/utf8_text.h"
#include "platform/platform.h"
#include "run/output.h"

namespace {

// The width used when the terminal does not tell its own.
constexpr size_t kFixedColumns = 80;

std::string currentArchive;
size_t shownColumns = 0;  // 0: no status line on the screen

bool isAscii(unsigned char c) { return c < 0x80; }

size_t columnsOf(std::string_view character) {
  return isAscii(static_cast<unsigned char>(character[0])) ? 1 : 2;
}

// The archive's name as characters a terminal shows and never acts on.
std::vector<std::string> printableCharacters(std::string_view name) {
  Utf8Check check;
  check.feed(name);
  const bool utf8 = check.isMultiByteUtf8();
  std::vector<std::string> characters;
  for (size_t at = 0; at < name.size();) {
    const auto lead = static_cast<unsigned char>(name[at]);
    const size_t length = utf8 ? utf8Length(lead) : 1;
    if (lead < 0x20 || lead == 0x7F || (!utf8 && !isAscii(lead))) {
      characters.emplace_back("?");
    } else {
      characters.emplace_back(name.substr(at, length));
    }
    at += length;
  }
  return characters;
}

// The end of `characters` that fits into `columns`.
std::string tailWithin(const std::vector<std::string>& characters, size_t columns) {
  size_t first = characters.size();
  size_t used = 0;
  while (first > 0 && used + columnsOf(characters[first - 1]) <= columns) {
    used += columnsOf(characters[--first]);
  }
  std::string tail;
  for (size_t i = first; i < characters.size(); ++i) tail += characters[i];
  return tail;
}

void writeToConsole(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// A line that reached the terminal's last column would wrap, and "\r" would
// then go back to the start of its second half only.
size_t usableColumns() {
  const int columns = platform::consoleColumns();
  return (columns > 0 ? size_t(columns) : kFixedColumns) - 1;
}

}  // namespace

std::string progressText(const RunStats& stats, std::string_view archive, size_t columns) {
  const uint64_t done = uint64_t(stats.converted) + stats.errors + stats.skipped;
  const std::string counters =
      "Done " + std::to_string(done) + "  Errors " + std::to_string(stats.errors) + "  ";
  if (counters.size() >= columns) return counters.substr(0, columns);
  const std::vector<std::string> characters = printableCharacters(archive);
  size_t needed = 0;
  for (const std::string& character : characters) needed += columnsOf(character);
  const size_t room = columns - counters.size();
  if (needed <= room) return counters + tailWithin(characters, room);
  // The end of a path says most: it keeps its end, after a mark.
  return counters + (room >= 3 ? "..." + tailWithin(characters, room - 3) : std::string());
}

size_t progressColumns(std::string_view text) {
  size_t columns = 0;
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    columns += isAscii(lead) ? 1 : 2;
    at += isAscii(lead) ? 1 : utf8Length(lead);
  }
  return columns;
}

void showProgress(std::string_view archive) {
  currentArchive = archive;
  restoreProgress();
}

void hideProgress() {
  if (shownColumns == 0) return;
  writeToConsole("\r" + std::string(shownColumns, ' ') + "\r");
  shownColumns = 0;
}

void restoreProgress() {
  if (currentArchive.empty() || !settings.progress || !platform::consoleIsTerminal()) return;
  const std::string text = progressText(runStats, currentArchive, usableColumns());
  const size_t columns = progressColumns(text);
  // The new line covers the old one; blanks cover what is left of it.
  const size_t leftOver = shownColumns > columns ? shownColumns - columns : 0;
  writeToConsole("\r" + text + std::string(leftOver, ' '));
  shownColumns = columns + leftOver;
}
