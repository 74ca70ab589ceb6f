// Unit tests of the Windows forms of directory locks, source claims, files
// created exclusively or cut back, held directories, the places a run
// writes to and the program time limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DirectoryLockWin32, KeepsOthersOutUntilReleasedAndLeavesNothing) {
  ScratchDir scratch("lock");
  platform::DirectoryLock lock;
  ASSERT_TRUE(lock.lock("."));
  // The lock binds holders, not threads of one holder: a second taker on
  // another thread must wait for the release.
  std::atomic<bool> taken = false;
  std::thread other([&] {
    platform::DirectoryLock second;
    taken = second.lock(scratch.path().string());
  });
  Sleep(300);
  EXPECT_FALSE(taken);
  lock.unlock();
  other.join();
  EXPECT_TRUE(taken);
  EXPECT_TRUE(fs::is_empty(scratch.path())) << "a lock leaves no file behind";
  EXPECT_FALSE(lock.lock("missing"));
  EXPECT_FALSE(lock.isHeld());
}

TEST(FileClaimWin32, OneClaimAtATimeAndThePackersStillRead) {
  ScratchDir scratch("claim");
  std::ofstream("a.zip", std::ios::binary) << "PK archive";
  platform::FileClaim first;
  platform::FileClaim second;
  ASSERT_EQ(first.claim("a.zip"), platform::ClaimOutcome::Claimed);
  EXPECT_EQ(second.claim("a.zip"), platform::ClaimOutcome::HeldElsewhere);
  // A Windows lock bars others from the bytes it covers: the claim must
  // cover none of the archive.
  std::string head;
  EXPECT_TRUE(platform::readFileHead("a.zip", 2, head));
  EXPECT_EQ(head, "PK");
  EXPECT_EQ(read("a.zip"), "PK archive");
  // The run removes its source while the claim holds.
  EXPECT_TRUE(platform::deleteFile("a.zip"));
  first.release();
  EXPECT_EQ(second.claim("a.zip"), platform::ClaimOutcome::Missing);
}

TEST(TextWriterWin32, CreateNewTakesNoExistingNameAndTruncateUndoesAnAppend) {
  ScratchDir scratch("textwriter");
  std::ofstream("taken", std::ios::binary) << "kept\r\n";
  platform::TextWriter out;
  EXPECT_FALSE(out.open("taken", platform::TextWriter::Mode::CreateNew));
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

TEST(DirectoryHandleWin32, ComesBackOnlyToTheSameDirectory) {
  ScratchDir scratch("handle");
  fs::create_directories("a\\b");
  std::ofstream("a\\file") << "x";
  platform::DirectoryHandle top;
  platform::DirectoryHandle child;
  ASSERT_TRUE(top.openCurrent());
  EXPECT_FALSE(child.openChild(top, "file"));
  EXPECT_FALSE(child.openChild(top, "missing"));
  ASSERT_TRUE(child.openChild(top, "a"));
  std::vector<platform::ListedName> names;
  ASSERT_TRUE(child.list(names));
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].name, "b");
  EXPECT_EQ(names[0].kind, platform::EntryKind::Directory);
  EXPECT_EQ(names[1].kind, platform::EntryKind::File);

  ASSERT_TRUE(child.makeCurrent());
  EXPECT_TRUE(child.isCurrent());
  ASSERT_TRUE(top.makeCurrent());
  // Another directory under the old name is not the one that was held.
  fs::rename("a", "gone");
  fs::create_directory("a");
  EXPECT_FALSE(child.makeCurrent());
  EXPECT_TRUE(top.isCurrent());
}

TEST(PlacesWin32, DirectoryPathsAndProbes) {
  ScratchDir scratch("places");
  const std::string here = platform::currentDirectory();
  EXPECT_TRUE(platform::makeDirectoryPath(here + "\\x\\y/z"));
  EXPECT_TRUE(fs::is_directory("x\\y\\z"));
  std::ofstream("file") << "x";
  EXPECT_FALSE(platform::makeDirectoryPath(here + "\\file\\sub"));
  EXPECT_TRUE(platform::canCreateEntriesIn(here + "\\x"));
  EXPECT_FALSE(platform::canCreateEntriesIn(here + "\\file"));
  EXPECT_FALSE(platform::canCreateEntriesIn(here + "\\missing"));
  EXPECT_EQ(std::distance(fs::directory_iterator("x"), {}), 1) << "the probe is gone";
  const auto status = platform::fileStatus("file", false);
  ASSERT_TRUE(status);
  EXPECT_GT(status->changeTime, 0);
  EXPECT_FALSE(platform::readLinkTarget("file"));
}

TEST(RunWin32, ATimeLimitEndsTheProgram) {
  ScratchDir scratch("timelimit");
  SetEnvironmentVariableA("RECORDER_SLEEP", "30");
  const platform::RunResult result =
      platform::runAndWait(RECORDER_BINARY, {}, {.timeLimitSeconds = 1});
  SetEnvironmentVariableA("RECORDER_SLEEP", nullptr);
  EXPECT_EQ(result.end, platform::RunEnd::TimedOut);
  const platform::RunResult missing = platform::runAndWait("missing.exe", {});
  EXPECT_EQ(missing.end, platform::RunEnd::NotStarted);
  EXPECT_EQ(missing.exitCode, -1);
  EXPECT_EQ(platform::stopSignal(), 0);
}

}  // namespace
