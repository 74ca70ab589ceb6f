// Unit tests of find-first patterns on Windows, where a name without
// wildcards names its entry in any case.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "convert/work_files.h"
#include "scratch_dir.h"

namespace {

TEST(WorkFilesWin32, APlainNameFindsItsEntryInAnyCase) {
  ScratchDir scratch("workfiles");
  std::ofstream("old.txt") << "x";
  std::ofstream("keep.txt") << "x";
  EXPECT_TRUE(findPatternMatch("foo.zip", "Foo.ZIP"));
  EXPECT_FALSE(findPatternMatch("foo.zip", "foo.zi"));
  EXPECT_EQ(findMatching("OLD.TXT"), std::vector<std::string>{"OLD.TXT"});
  deleteMatching("OLD.TXT");
  EXPECT_FALSE(std::filesystem::exists("old.txt"));
  EXPECT_TRUE(std::filesystem::exists("keep.txt"));
}

}  // namespace
