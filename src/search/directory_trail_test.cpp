// Tests of the walk's trail: how few handles it holds, and how it comes back
// to every level, or refuses to when a level was moved away.
#include "search/directory_trail.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(DirectoryTrail, HoldsAFewHandlesAtAnyDepth) {
  for (const size_t depth : {1u, 15u, 16u, 17u, 300u, 5000u, 70000u}) {
    size_t held = 0;
    for (size_t level = 0; level <= depth; ++level) held += keepsHandle(level, depth) ? 1 : 0;
    EXPECT_LE(held, 16u * 5) << "depth " << depth;
    EXPECT_TRUE(keepsHandle(depth, depth));
    EXPECT_TRUE(keepsHandle(0, depth));
    EXPECT_TRUE(keepsHandle(depth - 1, depth));
  }
  EXPECT_FALSE(keepsHandle(3, 40));
  EXPECT_TRUE(keepsHandle(32, 40));
}

// Descends a chain of `depth` directories "d", then climbs back to the
// start, checking the current directory at every level.
void climbChain(size_t depth) {
  const ScratchDir scratch("trail");
  fs::path path = fs::current_path();
  for (size_t level = 0; level < depth; ++level) fs::create_directory(path /= "d");
  platform::DirectoryHandle start;
  ASSERT_TRUE(start.openCurrent());
  DirectoryTrail trail(start);
  for (size_t level = 0; level < depth; ++level) {
    platform::DirectoryHandle child;
    ASSERT_TRUE(child.openChild(trail.deepest(), "d"));
    ASSERT_TRUE(trail.descend(std::move(child), "d"));
  }
  for (size_t level = depth; level > 0; --level) {
    ASSERT_EQ(fs::current_path(), path) << "level " << level;
    path = path.parent_path();
    ASSERT_TRUE(trail.ascend()) << "level " << level;
  }
  EXPECT_EQ(fs::current_path(), scratch.path());
  EXPECT_EQ(trail.depth(), 0u);
}

TEST(DirectoryTrail, ComesBackToEveryLevelOfADeepChain) { climbChain(300); }

TEST(DirectoryTrail, RefusesALevelThatWasMovedAwayWithoutItsHandle) {
  const ScratchDir scratch("trail");
  fs::path deepest = scratch.path();
  for (int level = 0; level < 40; ++level)
    fs::create_directory(deepest /= "d" + std::to_string(level));
  platform::DirectoryHandle start;
  ASSERT_TRUE(start.openCurrent());
  DirectoryTrail trail(start);
  for (int level = 0; level < 40; ++level) {
    platform::DirectoryHandle child;
    ASSERT_TRUE(child.openChild(trail.deepest(), "d" + std::to_string(level)));
    ASSERT_TRUE(trail.descend(std::move(child), "d" + std::to_string(level)));
  }
  // Level 3 holds no handle at depth 40; a stranger takes its name.
  fs::path third = scratch.path() / "d0/d1/d2";
  fs::rename(third, scratch.path() / "moved");
  fs::create_directories(third / "d3");
  size_t ascents = 0;
  while (trail.depth() > 0) {
    if (trail.ascend()) {
      ++ascents;
      const fs::path within = scratch.path() / (trail.depth() > 2 ? "moved" : "d0");
      if (trail.depth() > 0) {
        EXPECT_EQ(fs::current_path().string().rfind(within.string(), 0), 0u) << fs::current_path();
      }
    }
  }
  EXPECT_EQ(fs::current_path(), scratch.path());
  EXPECT_LT(ascents, 40u);
}

}  // namespace
