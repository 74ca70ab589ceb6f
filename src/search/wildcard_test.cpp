// Tests of the wildcard matcher and the name splitter.
#include "search/wildcard.h"

#include <gtest/gtest.h>

namespace {

struct MatchRow {
  const char* name;
  const char* mask;
  bool match;
};

TEST(WildcardMatch, FollowsTheMatchingTable) {
  const MatchRow rows[] = {
      {"FOO.ARJ", "*.ARJ", true},
      {"foo.arj", "*.ARJ", true},
      {"FOO.ZIP", "*.ARJ", false},
      {"FOO.ARJX", "*.ARJ", false},
      {"FOO", "*.ARJ", true},
      {"FOO.A", "*.ARJ", true},
      {"A.B.ARJ", "*.ARJ", false},
      {"A.B.ARJ", "*.*", true},
      {"FOO.ARJ", "*", false},
      {"FOO", "*", true},
      {"README", "*.", true},
      {"FOO.ARJ", "*.", false},
      {"AB.ARJ", "A???.ARJ", true},
      {"ABCD.ARJ", "A???.ARJ", true},
      {"ABCDE.ARJ", "A???.ARJ", false},
      {"FOO.ARJ", "*O.ARJ", false},
      {"AB", "ABC", true},
      {"ABC", "AB", false},
      {"X", "", false},
      {"", "*.ARJ", true},
      {"", "", true},
      {"PKZIP", "*.COM", true},
      {".hidden.ARJ", "*.ARJ", false},
      {".hidden.ARJ", "*.*", true},
      {"my game.zip", "*.ZIP", true},
      {"a?b.zip", "a?b.zip", true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(wildcardMatch(row.name, row.mask), row.match)
        << "name '" << row.name << "' mask '" << row.mask << "'";
  }
}

TEST(WildcardMatch, QuestionMarkNeverTakesTheDot) {
  EXPECT_FALSE(wildcardMatch("A.B", "A?B"));
  EXPECT_TRUE(wildcardMatch("A.B", "A?.B"));
}

TEST(FileExtension, TakesTheLastDotOfTheLastComponent) {
  const std::pair<const char*, const char*> rows[] = {
      {"A.B.ARJ", "ARJ"}, {"README", ""},           {"README.", ""},         {"C:\\X.Y\\FOO", ""},
      {"x.y/foo", ""},    {"dir/pkg.tar.gz", "gz"}, {".profile", "profile"}, {"a\\b.zip", "zip"},
  };
  for (const auto& [name, ext] : rows) EXPECT_EQ(fileExtension(name), ext) << name;
}

TEST(SplitName, ReadsABackslashInTheDirectoryAsSlash) {
  const NameParts parts = splitName("sub\\deep/My File.tar.ZIP");
  EXPECT_EQ(parts.drive, "");
  EXPECT_EQ(parts.directory, "sub/deep/");
  EXPECT_EQ(parts.baseName, "My File.tar");
  EXPECT_EQ(parts.extension, ".ZIP");
  EXPECT_EQ(splitName("C:x").baseName, "C:x");
  EXPECT_EQ(splitName("/abs/").directory, "/abs/");
  EXPECT_EQ(splitName("/abs/").baseName, "");
}

}  // namespace
