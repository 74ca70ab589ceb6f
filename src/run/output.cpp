// Console and log output, the report and the run's counters.
#include "run/output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "config/settings.h"
#include "platform/platform.h"

RunStats runStats;

namespace {

platform::TextWriter logFile;

std::string fillFormat(std::string_view format, std::string_view text) {
  std::string out(format);
  if (auto at = out.find("%s"); at != std::string::npos) out.replace(at, 2, text);
  return out;
}

void writeConsole(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void fatalStop(std::string_view message) {
  writeConsole(std::string(message) + "\n");
  std::_Exit(1);
}

void logMessage(std::string_view format, std::string_view text) {
  if (logFile.isOpen()) logFile.write(fillFormat(format, text));
}

void consoleMessage(std::string_view format, std::string_view text) {
  writeConsole(fillFormat(format, text));
}

bool openLogQuietly(const std::string& path) {
  // The log is the user's own file: a link of that name is written through.
  return logFile.open(path, platform::TextWriter::Mode::Append, true);
}

bool openLog(const std::string& path) {
  if (openLogQuietly(path)) return true;
  consoleMessage("Can't open log file: %s\n", path);
  return false;
}

bool logIsOpen() { return logFile.isOpen(); }

void closeLog() { logFile.close(); }

void logHeader() { logMessage(";Log file ZELM utility, opened %s", platform::localTimeText()); }

void logFooter() { logMessage("\n;Log file ZELM utility, closed %s\n", platform::localTimeText()); }

std::string reportBlock(const RunStats& stats) {
  const uint64_t largest = std::max<uint64_t>(
      {stats.converted, stats.errors, stats.skipped, stats.sizeBefore, stats.sizeAfter});
  const int width = std::max<int>(10, int(std::to_string(largest).size()));
  char buffer[512];
  std::snprintf(buffer, sizeof buffer,
                "------------ Report ------------\n"
                "Converted  :\t%*u files\n"
                "Error      :\t%*u files\n"
                "Skipped    :\t%*u files\n"
                "Size before:\t%*llu bytes\n"
                "Size after :\t%*llu bytes\n\n",
                width, stats.converted, width, stats.errors, width, stats.skipped, width,
                static_cast<unsigned long long>(stats.sizeBefore), width,
                static_cast<unsigned long long>(stats.sizeAfter));
  return buffer;
}

void printReport() {
  if (settings.makeDescription) return;
  const std::string block = reportBlock(runStats);
  writeConsole(block);
  if (logFile.isOpen()) logFile.write(block);
}
