// Unit tests of the platform services the walk stands on: directory handles,
// name listings, change reports, file claims, and current directories longer
// than a path may be.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using Changes = std::vector<platform::DirectoryWatch::Change>;

std::vector<std::string> namesOf(const std::vector<platform::ListedName>& listing) {
  std::vector<std::string> names;
  for (const auto& entry : listing) {
    const char* marks[] = {"", "/", "@", "|"};
    names.push_back(entry.name + marks[int(entry.kind)]);
  }
  return names;
}

TEST(PlatformWalk, AListingHoldsNamesAndKindsInListingOrder) {
  const ScratchDir scratch("walk");
  for (const char* name : {"b", "_x", "a", "Z", "A", "abc", ".hidden"}) std::ofstream{name};
  fs::create_directory("Dir");
  fs::create_symlink("Dir", "link");
  ASSERT_EQ(::mkfifo("pipe", 0666), 0);
  platform::DirectoryHandle here;
  ASSERT_TRUE(here.openCurrent());
  std::vector<platform::ListedName> listing;
  ASSERT_TRUE(here.list(listing));
  EXPECT_EQ(namesOf(listing), (std::vector<std::string>{".hidden", "A", "a", "abc", "b", "Dir/",
                                                        "link@", "pipe|", "Z", "_x"}));
}

TEST(PlatformWalk, AHandleLeadsBackToItsDirectoryAfterItWasMoved) {
  const ScratchDir scratch("walk");
  fs::create_directories("tree/sub");
  fs::create_directories("elsewhere");
  fs::create_symlink("tree", "linked");
  platform::DirectoryHandle start;
  ASSERT_TRUE(start.openCurrent());
  platform::DirectoryHandle tree;
  ASSERT_TRUE(tree.openChild(start, "tree"));
  platform::DirectoryHandle sub;
  ASSERT_TRUE(sub.openChild(tree, "sub"));
  platform::DirectoryHandle refused;
  EXPECT_FALSE(refused.openChild(start, "linked"));
  EXPECT_FALSE(refused.openChild(start, "missing"));

  ASSERT_TRUE(sub.makeCurrent());
  fs::rename(scratch.path() / "tree", scratch.path() / "elsewhere/tree");
  ASSERT_TRUE(tree.makeCurrent());
  EXPECT_TRUE(tree.isCurrent());
  EXPECT_FALSE(start.isCurrent());
  EXPECT_EQ(platform::currentDirectory(), (scratch.path() / "elsewhere/tree").string());
  ASSERT_TRUE(start.makeCurrent());
}

TEST(PlatformWalk, AWatchReportsEveryNameThatCameOrWent) {
  const ScratchDir scratch("walk");
  std::ofstream{"old"};
  platform::DirectoryWatch watch;
  ASSERT_TRUE(watch.watchCurrent());
  std::ofstream{"new"};
  fs::create_directory("dir");
  fs::rename("old", "renamed");
  fs::remove("new");
  Changes changes;
  ASSERT_TRUE(watch.changes(changes));
  std::vector<std::string> seen;
  for (const auto& change : changes) {
    seen.push_back((change.present ? "+" : "-") + change.name + (change.isDirectory ? "/" : ""));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"+new", "+dir/", "-old", "+renamed", "-new"}));
  changes.clear();
  EXPECT_TRUE(watch.changes(changes));
  EXPECT_TRUE(changes.empty());
}

TEST(PlatformWalk, AWatchOfARemovedDirectoryEnds) {
  const ScratchDir scratch("walk");
  fs::create_directory("gone");
  fs::current_path("gone");
  platform::DirectoryWatch watch;
  ASSERT_TRUE(watch.watchCurrent());
  fs::current_path(scratch.path());
  fs::remove("gone");
  Changes changes;
  EXPECT_FALSE(watch.changes(changes));
  EXPECT_FALSE(watch.changes(changes));
}

TEST(PlatformWalk, AClaimIsHeldUntilReleasedAndNeverTakenOnAGoneFile) {
  const ScratchDir scratch("walk");
  std::ofstream{"archive"} << "bytes";
  platform::FileClaim first;
  platform::FileClaim second;
  EXPECT_EQ(first.claim("archive"), platform::ClaimOutcome::Claimed);
  EXPECT_EQ(second.claim("archive"), platform::ClaimOutcome::HeldElsewhere);
  first.release();
  EXPECT_EQ(second.claim("archive"), platform::ClaimOutcome::Claimed);
  second.release();
  EXPECT_EQ(first.claim("missing"), platform::ClaimOutcome::Missing);
}

TEST(PlatformWalk, ACurrentDirectoryLongerThanAPathHasItsFullName) {
  const ScratchDir scratch("walk");
  std::string expected = scratch.path().string();
  const std::string name(200, 'n');
  for (int level = 0; level < 40; ++level) {
    ASSERT_EQ(::mkdir(name.c_str(), 0755), 0);
    ASSERT_EQ(::chdir(name.c_str()), 0);
    expected += "/" + name;
  }
  EXPECT_EQ(platform::currentDirectory(), expected);
  EXPECT_EQ(platform::absolutePath("file"), expected + "/file");
  // Removed name by name: the whole path is too long for the system.
  for (int level = 0; level < 40; ++level) {
    ASSERT_EQ(::chdir(".."), 0);
    ASSERT_EQ(::rmdir(name.c_str()), 0);
  }
}

}  // namespace
