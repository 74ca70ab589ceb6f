// The two output channels, console and log, and the run's counters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

/// The run's counters. Sizes are 64-bit, so a run over many CD-ROMs' worth
/// of archives still adds up.
struct RunStats {
  uint32_t converted = 0;
  uint32_t errors = 0;
  uint32_t skipped = 0;
  uint64_t sizeBefore = 0;
  uint64_t sizeAfter = 0;
  uint64_t currentSize = 0;  // listed size of the archive being converted
};

extern RunStats runStats;

/// Writes `message` and a newline to the console and ends the process with
/// exit code 1. The log keeps what it has and gets nothing more.
[[noreturn]] void fatalStop(std::string_view message);

/// Writes `format` with `text` in place of its one "%s" to the log when it is
/// open; does nothing otherwise. Adds no newline.
void logMessage(std::string_view format, std::string_view text = {});

/// Writes `format` with `text` in place of its "%s" to the console.
void consoleMessage(std::string_view format, std::string_view text = {});

/// Opens the log at `path` for appending, through a link of that name; on
/// failure says "Can't open log file: " and the path on the console and
/// gives false (the run goes on without a log).
bool openLog(const std::string& path);

/// Opens the log like openLog, but says nothing on failure.
bool openLogQuietly(const std::string& path);

/// True while the log is open.
bool logIsOpen();

/// Closes the log if it is open.
void closeLog();

/// Writes the log header and footer with the current local time.
void logHeader();
void logFooter();

/// Writes the report block to the console and to the log; nothing at all in
/// description-making mode.
void printReport();

/// The report block for the given counters: every figure right-aligned in
/// ten places, or all of them in as many as the longest one needs.
std::string reportBlock(const RunStats& stats);
