// Unit tests of the Windows platform layer: drives and their current
// directories, path forms, the MAX_PATH limit, attributes, file identity,
// listing order and DOS times.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

class PlatformWin32 : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ + "\\" + name; }

  void write(const std::string& name, const std::string& bytes = "x") const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  ScratchDir scratch_{"platform"};
  const std::string dir_ = platform::currentDirectory();
};

TEST(PlatformNames, DrivesSeparatorsAndAbsoluteNames) {
  EXPECT_EQ(platform::kSeparator, '\\');
  EXPECT_TRUE(platform::kProgramsCarryExtension);
  const std::pair<const char*, size_t> drives[] = {{"C:x", 2}, {"z:", 2}, {"C", 0},
                                                   {"1:x", 0}, {":x", 0}, {"\\x", 0}};
  for (const auto& [name, length] : drives) EXPECT_EQ(platform::driveLength(name), length) << name;
  const std::pair<const char*, bool> absolute[] = {
      {"\\x", true},  {"/x", true},  {"C:\\x", true}, {"C:/x", true}, {"\\\\srv\\share", true},
      {"C:x", false}, {"C:", false}, {"x\\y", false}, {"", false},
  };
  for (const auto& [name, expected] : absolute) {
    EXPECT_EQ(platform::isAbsolute(name), expected) << name;
  }
  EXPECT_TRUE(platform::sameEntryName("File_Id.Diz", "FILE_ID.diz"));
  EXPECT_FALSE(platform::sameEntryName("a.zip", "a.zi"));
  EXPECT_FALSE(platform::sameEntryName("\xE9", "\xC9")) << "only a-z fold";
}

TEST_F(PlatformWin32, EveryDriveKeepsItsOwnCurrentDirectory) {
  const std::string other =
      "Z:\\tmp\\zelm-drive-" + std::to_string(std::random_device{}() % 1000000);
  if (platform::driveLength(dir_) != 2 || !fs::is_directory("Z:\\tmp")) {
    GTEST_SKIP() << "needs the scratch directory on one drive and Z:\\tmp on another";
  }
  fs::create_directories(path("sub"));
  fs::create_directories(other);
  const std::string drive = dir_.substr(0, 2);
  ASSERT_TRUE(platform::changeDirectory(path("sub")));
  ASSERT_TRUE(platform::changeDirectory(other));
  EXPECT_EQ(platform::currentDirectory(), other);
  EXPECT_EQ(platform::absolutePath(drive + "name"), path("sub\\name"));
  EXPECT_EQ(platform::absolutePath(drive + "..\\x"), path("x"));
  EXPECT_EQ(platform::absolutePath("\\rooted"), "Z:\\rooted");

  ASSERT_TRUE(platform::changeDirectory(drive));
  EXPECT_EQ(platform::currentDirectory(), path("sub"));
  EXPECT_EQ(platform::absolutePath("Z:"), other);
  EXPECT_EQ(platform::absolutePath("Z:x"), other + "\\x");

  // A drive that does not exist fails quietly and changes nothing.
  EXPECT_FALSE(platform::changeDirectory("Q:\\"));
  EXPECT_FALSE(platform::changeDirectory("Q:"));
  EXPECT_EQ(platform::currentDirectory(), path("sub"));
  platform::changeDirectory(dir_);
  fs::remove_all(other);
}

TEST_F(PlatformWin32, AbsolutePathsAreNormalisedWithBackslashes) {
  const std::string drive = dir_.substr(0, 2);
  const std::pair<std::string, std::string> rows[] = {
      {drive + "\\", drive + "\\"},
      {drive + "/a/./b/../c/", drive + "\\a\\c"},
      {drive + "\\a\\\\b", drive + "\\a\\b"},
      {"x/y", path("x\\y")},
      {".", dir_},
      {"", dir_},
  };
  for (const auto& [name, expected] : rows) {
    EXPECT_EQ(platform::absolutePath(name), expected) << name;
  }
}

TEST_F(PlatformWin32, ACurrentDirectoryBeyondMaxPathIsRefused) {
  // Levels short enough to be entered, then one that would pass 258 bytes.
  std::string deep = dir_;
  while (deep.size() + 21 <= MAX_PATH - 2) {
    deep += "\\" + std::string(20, 'd');
    ASSERT_TRUE(platform::makeDirectory(deep)) << deep;
  }
  ASSERT_TRUE(platform::changeDirectory(deep));
  const std::string tooDeep(MAX_PATH - 2 - deep.size(), 'e');
  ASSERT_TRUE(platform::makeDirectory(tooDeep));
  EXPECT_FALSE(platform::changeDirectory(tooDeep));
  EXPECT_EQ(platform::currentDirectory(), deep);
  platform::removeDirectory(tooDeep);
  platform::changeDirectory(dir_);
}

TEST_F(PlatformWin32, TheReadOnlyAttributeGuardsAFileUntilItIsReset) {
  write("ro.txt");
  ASSERT_TRUE(SetFileAttributesA("ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(platform::fileStatus("ro.txt", false));
  EXPECT_TRUE(platform::fileStatus("ro.txt", false)->readOnly);
  platform::TextWriter writer;
  EXPECT_FALSE(writer.open("ro.txt", platform::TextWriter::Mode::Append));
  EXPECT_FALSE(writer.open("ro.txt", platform::TextWriter::Mode::Truncate));
  EXPECT_FALSE(platform::deleteFile("ro.txt"));
  EXPECT_TRUE(platform::setNormalAttributes("ro.txt"));
  const DWORD special = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  EXPECT_EQ(GetFileAttributesA("ro.txt") & special, 0u);
  EXPECT_TRUE(platform::deleteFile("ro.txt"));
  EXPECT_FALSE(platform::fileStatus("ro.txt", false));
}

TEST_F(PlatformWin32, IdentityFollowsTheFileNotItsSpelling) {
  write("a.txt", "one");
  write("b.txt", "two");
  const auto id = [](const std::string& name) {
    const auto status = platform::fileStatus(name, true);
    return status ? status->id : platform::FileId{};
  };
  const platform::FileId a = id("a.txt");
  EXPECT_NE(a, platform::FileId{});
  EXPECT_EQ(id("A.TXT"), a);
  EXPECT_EQ(id(".\\a.txt"), a);
  EXPECT_EQ(id(path("a.txt")), a);
  EXPECT_NE(id("b.txt"), a);
  ASSERT_TRUE(platform::renameFile("a.txt", "b.txt"));
  EXPECT_EQ(id("b.txt"), a) << "a rename replaces the target and keeps the file";
}

TEST_F(PlatformWin32, ListingSortsLikeNtfsAndTellsDirectories) {
  for (const char* name : {"b", "A", "a.txt", "_x"}) write(name);
  fs::create_directory(path("Dir"));
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(".", entries));
  std::vector<std::string> names;
  for (const auto& entry : entries) {
    names.push_back(entry.name + (entry.isDirectory ? "\\" : ""));
  }
  EXPECT_EQ(names, (std::vector<std::string>{".\\", "..\\", "A", "a.txt", "b", "Dir\\", "_x"}));
  std::vector<platform::DirEntry> byDrive;
  ASSERT_TRUE(platform::listDirectory(dir_.substr(0, 2), byDrive));
  EXPECT_EQ(byDrive.size(), entries.size()) << "a drive alone lists its current directory";
  EXPECT_FALSE(platform::listDirectory(path("missing"), entries));
}

TEST_F(PlatformWin32, DosTimesRoundTripThroughFileTimes) {
  write("t");
  const platform::DosDateTime when{uint16_t(((2001 - 1980) << 9) | (2 << 5) | 3),
                                   uint16_t((10 << 11) | (15 << 5) | 15)};
  ASSERT_TRUE(platform::writeDosTime("t", when));
  platform::DosDateTime read;
  ASSERT_TRUE(platform::readDosTime("t", read));
  EXPECT_EQ(read, when);
  EXPECT_EQ(platform::toDosDateTime(platform::fileStatus("t", true)->lastWrite), when);
  EXPECT_EQ(platform::toDosDateTime(platform::fileStatus("t", true)->lastWrite + 1), when)
      << "an odd second goes down to the even one";
  EXPECT_EQ(platform::toDosDateTime(0).date, uint16_t((1 << 5) | 1)) << "1970 clamps to 1980";
  EXPECT_EQ(platform::toDosDateTime(int64_t(8000000000)).date >> 9, 2107 - 1980);
  EXPECT_FALSE(platform::readDosTime("missing", read));
  EXPECT_FALSE(platform::writeDosTime("missing", when));
}

TEST_F(PlatformWin32, ARenameWaitsOutAShortHoldOnTheFileItReplaces) {
  write("catalog", "old");
  write("new", "new");
  HANDLE held = CreateFileA(path("catalog").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  // Held all along: the rename gives up and both files stay as they were.
  EXPECT_FALSE(platform::renameFile("new", "catalog"));
  EXPECT_TRUE(fs::exists(path("new")));
  std::thread holder([held] {
    Sleep(200);
    CloseHandle(held);
  });
  EXPECT_TRUE(platform::renameFile("new", "catalog"));
  holder.join();
  EXPECT_FALSE(fs::exists(path("new")));
  EXPECT_EQ(fs::file_size(path("catalog")), 3u);
}

}  // namespace
