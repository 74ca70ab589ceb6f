// Where the packers' own output goes: the shared console, whole lines in the
// log, or nowhere.
#include "convert/program_output.h"

#include <cstdio>

#include "config/settings.h"
#include "run/output.h"
#include "run/progress.h"

void OutputLines::take(std::string_view piece) {
  for (const char c : piece) {
    const auto byte = static_cast<unsigned char>(c);
    if (carriageReturn_ && byte != '\n') add('\r');
    carriageReturn_ = byte == '\r';
    if (byte == '\n') {
      if (!justCut_ || !line_.empty()) endLine();
      justCut_ = false;
    } else if (byte != '\r') {
      add(byte);
    }
  }
}

void OutputLines::finish() {
  if (carriageReturn_) add('\r');
  carriageReturn_ = false;
  if (!line_.empty()) endLine();
}

void OutputLines::add(unsigned char c) {
  if ((c < 0x20 && c != '\t') || c == 0x7F) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
    line_ += escaped;
  } else {
    line_ += char(c);
  }
  justCut_ = false;
  if (line_.size() >= kMaxOutputLineBytes) {
    endLine();
    justCut_ = true;
  }
}

void OutputLines::endLine() {
  emit_(line_);
  line_.clear();
}

namespace {

void logOutputLine(std::string_view line) { logMessage("Output:              %s\n", line); }

platform::RunResult runIntoLog(const std::string& program, const std::vector<std::string>& args,
                               const std::string& line,
                               platform::RunOptions options) {
  OutputLines lines(logOutputLine);
  options.output = platform::ProgramOutput::Capture;
  options.takeOutput = [&lines](std::string_view piece) { lines.take(piece); };
  const platform::RunResult result = platform::runCommandLine(program, args, line, options);
  lines.finish();
  return result;
}

}  // namespace

platform::RunResult runWithPackerOutput(const std::string& program,
                                        const std::vector<std::string>& args,
                                        const std::string& line) {
  platform::RunOptions options;
  options.timeLimitSeconds = settings.timeoutSeconds;
  if (settings.packerOutput == PackerOutput::Log && logIsOpen()) {
    return runIntoLog(program, args, line, options);
  }
  if (settings.packerOutput != PackerOutput::Console) {
    options.output = platform::ProgramOutput::Discard;
    return platform::runCommandLine(program, args, line, options);
  }
  // The program writes where the status line is: it goes first, and comes
  // back when the program is done.
  hideProgress();
  const platform::RunResult result = platform::runCommandLine(program, args, line, options);
  restoreProgress();
  return result;
}
