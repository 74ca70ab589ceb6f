// Unit tests of the status line's text: counters, names a terminal would act
// on, and paths too long for the screen.
#include "run/progress.h"

#include <gtest/gtest.h>

#include "run/output.h"

namespace {

TEST(Progress, TheLineFitsItsColumnsAndShowsNothingATerminalWouldActOn) {
  RunStats stats;
  stats.converted = 10;
  stats.errors = 2;
  stats.skipped = 1;
  struct Row {
    std::string archive;
    size_t columns;
    std::string text;
  };
  const Row rows[] = {
      {"/srv/bbs/OLD.ZIP", 79, "Done 13  Errors 2  /srv/bbs/OLD.ZIP"},
      {"/srv/bbs/OLD.ZIP", 35, "Done 13  Errors 2  /srv/bbs/OLD.ZIP"},
      {"/srv/bbs/OLD.ZIP", 34, "Done 13  Errors 2  .../bbs/OLD.ZIP"},
      {"/srv/bbs/OLD.ZIP", 22, "Done 13  Errors 2  ..."},
      {"/srv/bbs/OLD.ZIP", 21, "Done 13  Errors 2  "},
      {"/srv/bbs/OLD.ZIP", 10, "Done 13  E"},
      {"/srv/line\nfeed\r\x1B[2J\t.ZIP", 79, "Done 13  Errors 2  /srv/line?feed??[2J?.ZIP"},
      {"/srv/Caf\xC3\xA9.ZIP", 33, "Done 13  Errors 2  /srv/Caf\xC3\xA9.ZIP"},
      {"/srv/Caf\xC3\xA9.ZIP", 32, "Done 13  Errors 2  .../Caf\xC3\xA9.ZIP"},
      {"/srv/Caf\xC3\xA9.ZIP", 31, "Done 13  Errors 2  ...Caf\xC3\xA9.ZIP"},
      {"/srv/Caf\xC3\xA9.ZIP", 28, "Done 13  Errors 2  ...\xC3\xA9.ZIP"},
      {"/srv/Caf\xC3\xA9.ZIP", 27, "Done 13  Errors 2  ....ZIP"},
      {"/srv/CP437\x82\xC9\xCD.ZIP", 79, "Done 13  Errors 2  /srv/CP437???.ZIP"},
      {"/srv/cut\xC3", 79, "Done 13  Errors 2  /srv/cut?"},
  };
  for (const Row& row : rows) {
    const std::string text = progressText(stats, row.archive, row.columns);
    EXPECT_EQ(text, row.text) << row.archive << " in " << row.columns;
    EXPECT_LE(progressColumns(text), row.columns) << row.archive << " in " << row.columns;
  }
}

}  // namespace
