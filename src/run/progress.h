// The status line on a terminal: archives done, errors so far, and the
// archive being converted.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct RunStats;

/// Shows the status line for `archive` with the run's counters, in place of
/// the one shown before. Only when Progress is on and the console is a
/// terminal in whose foreground this program runs; nothing otherwise.
void showProgress(std::string_view archive);

/// Erases the status line, if one is shown, and leaves the cursor at the
/// start of its line, so that any other console text starts on a clean line.
void hideProgress();

/// Shows the status line again for the archive last shown, after something
/// else had the console; nothing when no archive is being converted.
void restoreProgress();

/// The status line for `stats` and `archive`, at most `columns` columns wide
/// (a character beyond ASCII is counted as two). Bytes that a terminal would
/// act on, or that do not form UTF-8, are shown as '?'; a path too long
/// keeps its end.
std::string progressText(const RunStats& stats, std::string_view archive, size_t columns);

/// The columns the text of progressText takes on the screen, at most.
size_t progressColumns(std::string_view text);
