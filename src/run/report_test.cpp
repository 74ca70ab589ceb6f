// Tests of the report block: its fixed layout and its 64-bit sizes.
#include <gtest/gtest.h>

#include "run/output.h"

namespace {

TEST(Report, FiguresOfTenPlacesKeepTheLayoutAndLongerOnesWidenEveryColumn) {
  RunStats stats;
  stats.converted = 12;
  stats.sizeBefore = 4294967296ull + 5;
  stats.sizeAfter = 9999999999ull;
  EXPECT_EQ(reportBlock(stats),
            "------------ Report ------------\n"
            "Converted  :\t        12 files\n"
            "Error      :\t         0 files\n"
            "Skipped    :\t         0 files\n"
            "Size before:\t4294967301 bytes\n"
            "Size after :\t9999999999 bytes\n\n");

  stats.sizeBefore = 12345678901234ull;
  stats.errors = 4294967295u;
  EXPECT_EQ(reportBlock(stats),
            "------------ Report ------------\n"
            "Converted  :\t            12 files\n"
            "Error      :\t    4294967295 files\n"
            "Skipped    :\t             0 files\n"
            "Size before:\t12345678901234 bytes\n"
            "Size after :\t    9999999999 bytes\n\n");
}

}  // namespace
