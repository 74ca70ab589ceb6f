// Unit tests of the round-trip check: snapshots of a tree and their first
// difference.
#include "convert/round_trip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

Snapshot snapshotOf(const std::string& dir) {
  const fs::path back = fs::current_path();
  fs::current_path(dir);
  Snapshot snapshot;
  EXPECT_EQ(takeSnapshot(snapshot), "");
  fs::current_path(back);
  return snapshot;
}

TEST(RoundTrip, ASnapshotRecordsNamesKindsBytesAndLinksWithoutFollowingThem) {
  ScratchDir scratch("round-trip");
  fs::create_directories("tree/sub/deeper");
  fs::create_directories("outside");
  writeFile("outside/secret", "never read");
  writeFile("tree/a", std::string(70000, 'x'));
  writeFile("tree/sub/b", "");
  ASSERT_EQ(::symlink("../outside", "tree/sub/out"), 0);

  const Snapshot snapshot = snapshotOf("tree");
  std::vector<std::string> names;
  for (const auto& entry : snapshot.entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "sub", "sub/b", "sub/deeper", "sub/out"}));
  EXPECT_EQ(snapshot.entries[0].size, 70000u);
  EXPECT_EQ(snapshot.entries[1].kind, platform::EntryKind::Directory);
  EXPECT_EQ(snapshot.entries[4].kind, platform::EntryKind::Link);
  EXPECT_EQ(snapshot.entries[4].linkTarget, "../outside");
  EXPECT_EQ(fs::current_path(), scratch.path());
}

TEST(RoundTrip, TheFirstDifferenceNamesTheEntryAndWhatDiffers) {
  ScratchDir scratch("round-trip");
  struct Row {
    std::string label;
    std::string change;  // what makeTrees changes in "back"
    std::string difference;
  };
  // "packed" and "back" start alike; then one thing of "back" changes.
  const auto makeTrees = [](const std::string& change) {
    fs::remove_all("packed");
    fs::remove_all("back");
    for (const std::string dir : {"packed", "back"}) {
      fs::create_directories(dir + "/d");
      writeFile(dir + "/f", "12345");
      writeFile(dir + "/line\nbreak", "");
      fs::create_symlink("f", dir + "/l");
    }
    if (change == "kind") {
      fs::remove("back/f");
      fs::create_directory("back/f");
    } else if (change == "link") {
      fs::remove("back/l");
      fs::create_symlink("d", "back/l");
    } else if (change == "size") {
      writeFile("back/f", "1234");
    } else if (change == "escaped") {
      fs::remove("back/line\nbreak");
    }
  };
  const Row rows[] = {
      {"same", "", ""},
      {"a kind", "kind", "f: packed as a file, comes back as a directory"},
      {"a link", "link", "l: link to \"f\" packed, link to \"d\" comes back"},
      {"a size", "size", "f: 5 bytes packed, 4 come back"},
      {"a name with a line end", "escaped", "line\\x0Abreak: missing from the new archive"},
  };
  for (const Row& row : rows) {
    makeTrees(row.change);
    EXPECT_EQ(firstDifference(snapshotOf("packed"), snapshotOf("back")), row.difference)
        << row.label;
  }
}

}  // namespace
