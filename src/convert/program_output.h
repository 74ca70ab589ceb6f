// Where the packers' own output goes: the shared console, whole lines in the
// log, or nowhere.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

/// The longest line handed on; a longer run of output without a line end is
/// cut into lines of this many bytes.
constexpr size_t kMaxOutputLineBytes = 4096;

/// Cuts a program's output, arriving in pieces of any size, into text lines.
/// A CR right before a LF belongs to the line end. Bytes 0x80-0xFF stay as
/// they are (no code page is assumed anywhere); control bytes other than TAB
/// (a lone CR, ESC, NUL ...) are written as "\xNN", so that a line can never
/// end early, move a terminal's cursor or colour it when the log is shown.
class OutputLines {
 public:
  explicit OutputLines(std::function<void(std::string_view line)> emit) : emit_(std::move(emit)) {}

  /// Takes the next piece; hands every line it completes to `emit`, without
  /// its line end.
  void take(std::string_view piece);

  /// Hands on the last line when it had no line end; nothing otherwise.
  void finish();

 private:
  void add(unsigned char c);
  void endLine();

  std::function<void(std::string_view)> emit_;
  std::string line_;
  bool carriageReturn_ = false;  // a CR is waiting to see whether a LF follows
  bool justCut_ = false;         // a long line was just cut: a LF now adds no line
};

/// Runs a located program with `args` (or, where programs take one raw
/// command line, with `line`) within the settings' time limit, its
/// output going where PackerOutput says: the shared console (the status line
/// is put away while the program has it), each line into the log as
/// "Output:" and the line, or nowhere. Log without an open log is nowhere.
platform::RunResult runWithPackerOutput(const std::string& program,
                                        const std::vector<std::string>& args,
                                        const std::string& line);
