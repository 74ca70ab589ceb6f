// Tests of the work directory sequence and the find-first and deletion rules.
#include "convert/work_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

class WorkFiles : public ::testing::Test {
 protected:
  static void touch(const fs::path& p, const std::string& text = "x") {
    fs::create_directories(p.parent_path().empty() ? "." : p.parent_path());
    std::ofstream(p) << text;
  }
  ScratchDir scratch_{"workfiles"};
  const fs::path dir_ = scratch_.path();
};

TEST(WorkDirName, CountsLikeAnOdometerAndWraps) {
  std::string first = nextWorkDirName();
  ASSERT_EQ(first.size(), 9u);
  EXPECT_EQ(first.substr(0, 6), "$TMP$.");
  const int start = std::stoi(first.substr(6));
  for (int i = 1; i <= 1000; ++i) {
    const std::string name = nextWorkDirName();
    char expected[16];
    std::snprintf(expected, sizeof expected, "$TMP$.%03d", (start + i) % 1000);
    ASSERT_EQ(name, expected);
  }
}

TEST_F(WorkFiles, WorkDirectoryIsNeverShared) {
  // Every name of the sequence already taken but one: that one is used.
  const std::string probe = nextWorkDirName();
  const int next = (std::stoi(probe.substr(6)) + 1) % 1000;
  char stale[16];
  std::snprintf(stale, sizeof stale, "$TMP$.%03d", next);
  touch(fs::path(stale) / "stale.txt");
  const std::string made = createWorkDirectory();
  EXPECT_NE(made, stale);
  ASSERT_FALSE(made.empty());
  EXPECT_TRUE(fs::is_empty(made));
  EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(WorkFiles, FindPatternRules) {
  const std::tuple<const char*, const char*, bool> rows[] = {
      {"README", "*.*", true},
      {"a.b.c", "*.*", true},
      {"Foo.ZIP", "*.zip", true},
      {"foo.zip", "Foo.zip", false},
      {"foo.zip", "foo.zip", true},
      {"abc", "a?c", true},
      {"abc", "a?", false},
      {"x.bak", "*.BAK", true},
      {"file_id.diz", "FILE_ID.*", true},
      {"readme", "readme.*", false},
      {"readme", "readme*", true},
      {"README.*txt", "*.*", true},
      {"*x", "*.*", true},
      {"a*b.txt", "*b.txt", true},
      {"*", "?", true},
      {"ab", "*?*?*", true},
      {"a", "*?*?*", false},
  };
  for (const auto& [name, pattern, expected] : rows) {
    EXPECT_EQ(findPatternMatch(name, pattern), expected) << name << " ~ " << pattern;
  }
}

// The plain definition: "*" any run, "?" any one character, a-z as A-Z.
bool referenceMatch(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*') {
    return referenceMatch(name, pattern.substr(1)) ||
           (!name.empty() && referenceMatch(name.substr(1), pattern));
  }
  if (name.empty()) return false;
  const bool same = pattern[0] == '?' || std::toupper(static_cast<unsigned char>(pattern[0])) ==
                                             std::toupper(static_cast<unsigned char>(name[0]));
  return same && referenceMatch(name.substr(1), pattern.substr(1));
}

TEST(FindPattern, AgreesWithThePlainDefinitionOnRandomNames) {
  std::mt19937 random(20240611);
  const std::string nameBytes = "aAbB.*?x";
  const std::string patternBytes = "ab.*?*?X";
  const auto draw = [&](const std::string& bytes, size_t longest) {
    std::string text(random() % (longest + 1), ' ');
    for (char& c : text) c = bytes[random() % bytes.size()];
    return text;
  };
  for (int i = 0; i < 200000; ++i) {
    const std::string name = draw(nameBytes, 8);
    const std::string pattern = draw(patternBytes, 6);
    const bool wildcards = pattern.find_first_of("*?") != std::string::npos;
    const bool expected = !wildcards         ? name == pattern
                          : pattern == "*.*" ? true
                                             : referenceMatch(name, pattern);
    ASSERT_EQ(findPatternMatch(name, pattern), expected)
        << "'" << name << "' ~ '" << pattern << "'";
  }
}

TEST_F(WorkFiles, EmptyingATreeTakesNamesHoldingWildcards) {
  fs::create_directory("work");
  fs::current_path("work");
  for (const char* name : {"README.*txt", "*x", "?", "*", "a*b/c?d", "no dot"}) touch(name);
  deleteMatching("*.*");
  EXPECT_TRUE(fs::is_empty("."));
}

TEST_F(WorkFiles, DeleteMatchingEmptiesDotDirectoriesAndNeverFollowsLinks) {
  const fs::path outside = dir_ / "outside";
  touch(outside / "keep.txt");
  fs::create_directory("work");
  fs::current_path("work");
  touch(".git/objects/ab/cd");
  touch("sub/.hidden/file");
  touch("top.txt");
  fs::create_directory_symlink(outside, "linkdir");
  fs::create_symlink(outside / "keep.txt", "linkfile");
  fs::permissions("top.txt", fs::perms::owner_read);
  deleteMatching("*.*");
  EXPECT_TRUE(fs::is_empty("."));
  fs::current_path(dir_);
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));
  removeTree("work");
  EXPECT_FALSE(fs::exists("work"));
}

TEST_F(WorkFiles, DeleteMatchingTakesMatchingFilesAndEmptiedDirectories) {
  touch("a.bak");
  touch("b.txt");
  touch("old.bak/inner.bak");
  touch("keep.bak/inner.txt");
  deleteMatching("*.bak");
  EXPECT_FALSE(fs::exists("a.bak"));
  EXPECT_TRUE(fs::exists("b.txt"));
  EXPECT_FALSE(fs::exists("old.bak"));
  EXPECT_TRUE(fs::exists("keep.bak/inner.txt"));
  deleteMatching("../b.txt");  // a directory part never reaches outside
  EXPECT_TRUE(fs::exists("b.txt"));
}

TEST_F(WorkFiles, CopyFileInReplacesALinkInsteadOfWritingThroughIt) {
  touch("victim.txt", "victim");
  touch("src/notes.txt", "new notes");
  fs::create_directory("work");
  fs::create_symlink(dir_ / "victim.txt", "work/notes.txt");
  fs::current_path("work");
  copyFileIn("..\\src\\notes.txt");
  fs::current_path(dir_);
  EXPECT_FALSE(fs::is_symlink("work/notes.txt"));
  std::ifstream in("victim.txt");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "victim");
  std::ifstream copied("work/notes.txt");
  std::string copy((std::istreambuf_iterator<char>(copied)), {});
  EXPECT_EQ(copy, "new notes");
}

}  // namespace
