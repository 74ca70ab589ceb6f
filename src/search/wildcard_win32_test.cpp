// Unit tests of splitting names on Windows: drives, and both separators read
// as the backslash.
#include <gtest/gtest.h>

#include "search/wildcard.h"

namespace {

TEST(SplitNameWin32, DrivesAndBothSeparators) {
  const NameParts parts = splitName("sub\\deep/My File.tar.ZIP");
  EXPECT_EQ(parts.drive, "");
  EXPECT_EQ(parts.directory, "sub\\deep\\");
  EXPECT_EQ(parts.baseName, "My File.tar");
  EXPECT_EQ(parts.extension, ".ZIP");
  const NameParts drive = splitName("c:x.arj");
  EXPECT_EQ(drive.drive, "c:");
  EXPECT_EQ(drive.directory, "");
  EXPECT_EQ(drive.baseName, "x");
  EXPECT_EQ(splitName("C:/abs/").directory, "\\abs\\");
  EXPECT_EQ(fileExtension("C:\\X.Y\\FOO"), "");
}

}  // namespace
