// Unit tests of directory locks and of files created exclusively or cut back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The exit code of `flock -n DIR true`: 0 when the lock is free, 1 when held.
int tryLockFromAnotherProcess(const std::string& dir) {
  return platform::runAndWait("/usr/bin/flock", {"-n", dir, "true"}, {}).exitCode;
}

TEST(DirectoryLock, KeepsOtherProcessesOutUntilReleased) {
  ScratchDir scratch("lock");
  platform::DirectoryLock lock;
  ASSERT_TRUE(lock.lock("."));
  EXPECT_TRUE(lock.isHeld());
  EXPECT_EQ(tryLockFromAnotherProcess("."), 1);
  lock.unlock();
  EXPECT_EQ(tryLockFromAnotherProcess("."), 0);
  {
    platform::DirectoryLock scoped;
    ASSERT_TRUE(scoped.lock(scratch.path().string()));
    EXPECT_EQ(tryLockFromAnotherProcess("."), 1);
  }
  EXPECT_EQ(tryLockFromAnotherProcess("."), 0);
  EXPECT_TRUE(fs::is_empty(scratch.path())) << "a lock leaves no file behind";

  EXPECT_FALSE(lock.lock("missing"));
  EXPECT_FALSE(lock.isHeld());
}

TEST(TextWriter, CreateNewTakesNoExistingNameAndTruncateUndoesAWrite) {
  ScratchDir scratch("textwriter");
  std::ofstream("taken") << "kept\r\n";
  fs::create_symlink("nowhere", "dangling");
  platform::TextWriter out;
  EXPECT_FALSE(out.open("taken", platform::TextWriter::Mode::CreateNew));
  EXPECT_FALSE(out.open("dangling", platform::TextWriter::Mode::CreateNew));
  EXPECT_FALSE(fs::exists("nowhere"));
  ASSERT_TRUE(out.open("new", platform::TextWriter::Mode::CreateNew));
  EXPECT_TRUE(out.write("a\n") && out.close());
  EXPECT_EQ(read("new"), "a\r\n");

  ASSERT_TRUE(out.open("taken", platform::TextWriter::Mode::Append));
  const int64_t before = out.size();
  EXPECT_EQ(before, 6);
  EXPECT_TRUE(out.write("half a line") && out.truncate(before));
  EXPECT_TRUE(out.write("next\n") && out.close());
  EXPECT_EQ(read("taken"), "kept\r\nnext\r\n");
  EXPECT_EQ(out.size(), -1);
}

}  // namespace
