// Unit tests of the lookup of packers by name.
#include "config/settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = Settings{}; }

  void definePackers(const std::vector<std::optional<std::string>>& exts) {
    for (const auto& ext : exts) {
      PackerDef packer;
      packer.ext = ext;
      settings.packers.push_back(packer);
    }
  }
};

TEST_F(SettingsTest, FindPackerTakesTheFirstWholeCaseInsensitiveMatch) {
  definePackers({"ZIP", std::nullopt, "arj", "zip", "", "\xE9", "R+X", "ARJ"});
  struct Row {
    std::string name;
    int expected;
  };
  const Row rows[] = {
      {"ZIP", 0},   {"zip", 0},   {"Zip", 0},   {"arj", 2},   {"ARJ", 2},
      {"", 4},      {"\xE9", 5},  {"\xC9", -1}, {"r+x", 6},   {"ZI", -1},
      {"zip ", -1}, {" zip", -1}, {"rar", -1},  {"zipx", -1}, {"zip.", -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(findPacker(row.name), row.expected) << "[" << row.name << "]";
  }
}

TEST_F(SettingsTest, PackerWithoutExtIsNeverFound) {
  definePackers({std::nullopt});
  EXPECT_EQ(findPacker(""), -1);
  EXPECT_EQ(findPacker("x"), -1);
}

TEST_F(SettingsTest, EmptyTableFindsNothing) { EXPECT_EQ(findPacker("zip"), -1); }

TEST_F(SettingsTest, CaseFoldingCoversOnlyAsciiLetters) {
  struct Row {
    std::string a;
    std::string b;
    bool equal;
  };
  const Row rows[] = {
      {"abcxyz", "ABCXYZ", true}, {"a-z", "A-Z", true}, {"@[`{", "@[`{", true},
      {"`", "@", false},          {"{", "[", false},    {"\xE4", "\xC4", false},
      {"ab", "abc", false},       {"", "", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(equalsIgnoreCase(row.a, row.b), row.equal) << "[" << row.a << "] [" << row.b << "]";
  }
  EXPECT_TRUE(startsWithIgnoreCase("/D:x", "/d:"));
  EXPECT_FALSE(startsWithIgnoreCase("/d", "/d:"));
}

}  // namespace
