// Unit tests of the POSIX platform layer: listing order, links, text mode,
// DOS times, child programs and the read-only rules.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/platform.h"

namespace {

class PlatformPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelm-platform-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path(name), std::ios::binary);
    out << bytes;
  }

  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
};

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
    ::tzset();
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
    ::tzset();
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::vector<std::string> namesOf(const std::vector<platform::DirEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

TEST_F(PlatformPosix, ListingSortsLikeNtfsWithDotsFirst) {
  for (const char* name : {"b", "_x", "a", "Z", "A", "[", "abc", "ab", ".hidden", "\xE9"}) {
    write(name, "");
  }
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dir_, entries));
  const std::vector<std::string> expected = {".",   "..", ".hidden", "A", "a",  "ab",
                                             "abc", "b",  "Z",       "[", "_x", "\xE9"};
  EXPECT_EQ(namesOf(entries), expected);
}

TEST_F(PlatformPosix, ListingShowsLinksAsThemselves) {
  ASSERT_EQ(::mkdir(path("real").c_str(), 0755), 0);
  write("real/inside", std::string(5000, 'x'));
  const std::string target = "real";
  ASSERT_EQ(::symlink(target.c_str(), path("to-dir").c_str()), 0);
  ASSERT_EQ(::symlink("real/inside", path("to-file").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", path("dangling").c_str()), 0);
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dir_, entries));
  ASSERT_EQ(namesOf(entries),
            (std::vector<std::string>{".", "..", "dangling", "real", "to-dir", "to-file"}));
  EXPECT_TRUE(entries[0].isDirectory);
  EXPECT_TRUE(entries[3].isDirectory);
  for (size_t i : {2u, 4u, 5u}) {
    struct stat own;
    ASSERT_EQ(::lstat(path(entries[i].name).c_str(), &own), 0);
    EXPECT_FALSE(entries[i].isDirectory) << entries[i].name;
    EXPECT_EQ(entries[i].size, uint64_t(own.st_size)) << entries[i].name;
    EXPECT_EQ(entries[i].lastWrite, own.st_mtime) << entries[i].name;
  }
  EXPECT_EQ(entries[5].size, std::string("real/inside").size());
}

TEST_F(PlatformPosix, ListingOfMissingDirectoryFails) {
  std::vector<platform::DirEntry> entries(1);
  EXPECT_FALSE(platform::listDirectory(path("missing"), entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(PlatformPosix, MakeDirectoryIsPrivateAndNeverReusesAName) {
  ASSERT_TRUE(platform::makeDirectory(path("work")));
  struct stat st;
  ASSERT_EQ(::stat(path("work").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(platform::makeDirectory(path("work")));
  write("file", "");
  EXPECT_FALSE(platform::makeDirectory(path("file")));
  ASSERT_EQ(::symlink("work", path("link").c_str()), 0);
  EXPECT_FALSE(platform::makeDirectory(path("link")));
}

TEST_F(PlatformPosix, SharedDirectoryFollowsTheUmask) {
  const mode_t old = ::umask(022);
  EXPECT_TRUE(platform::makeSharedDirectory(path("shared")));
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(path("shared").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_FALSE(platform::makeSharedDirectory(path("shared")));
}

TEST_F(PlatformPosix, MakeDirectoryPathMakesEveryMissingParent) {
  EXPECT_TRUE(platform::makeDirectoryPath(path("a/b/c")));
  EXPECT_TRUE(std::filesystem::is_directory(path("a/b/c")));
  EXPECT_TRUE(platform::makeDirectoryPath(path("a/b")));
  std::filesystem::create_directory_symlink(path("a"), path("link"));
  EXPECT_TRUE(platform::makeDirectoryPath(path("link")));
  write("file", "");
  EXPECT_FALSE(platform::makeDirectoryPath(path("file")));
  EXPECT_FALSE(platform::makeDirectoryPath(path("file/below")));
}

TEST_F(PlatformPosix, CanCreateEntriesInJudgesTheOwnerBitThenTries) {
  ASSERT_EQ(::mkdir(path("open").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(path("locked").c_str(), 0555), 0);
  write("file", "");
  EXPECT_TRUE(platform::canCreateEntriesIn(path("open")));
  EXPECT_TRUE(std::filesystem::is_empty(path("open"))) << "the probe stays behind";
  EXPECT_FALSE(platform::canCreateEntriesIn(path("locked")));
  EXPECT_FALSE(platform::canCreateEntriesIn(path("file")));
  EXPECT_FALSE(platform::canCreateEntriesIn(path("missing")));
  ::chmod(path("locked").c_str(), 0755);
}

TEST_F(PlatformPosix, DeleteFileRemovesTheLinkNotItsTarget) {
  write("target", "keep");
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  EXPECT_TRUE(platform::deleteFile(path("link")));
  EXPECT_EQ(read("target"), "keep");
  EXPECT_FALSE(platform::fileStatus(path("link"), false));
  EXPECT_FALSE(platform::deleteFile(path("link")));
}

TEST_F(PlatformPosix, ReadOnlyComesFromTheOwnerWriteBit) {
  write("file", "x");
  ASSERT_EQ(::chmod(path("file").c_str(), 0444), 0);
  auto status = platform::fileStatus(path("file"), true);
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->readOnly);
  EXPECT_EQ(status->kind, platform::EntryKind::File);
  ASSERT_TRUE(platform::setNormalAttributes(path("file")));
  struct stat st;
  ASSERT_EQ(::stat(path("file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(platform::fileStatus(path("file"), true)->readOnly);
}

TEST_F(PlatformPosix, SetNormalAttributesLeavesALinkTargetAlone) {
  write("target", "x");
  ASSERT_EQ(::chmod(path("target").c_str(), 0444), 0);
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  platform::setNormalAttributes(path("link"));
  EXPECT_TRUE(platform::fileStatus(path("target"), false)->readOnly);
  EXPECT_FALSE(platform::setNormalAttributes(path("missing")));
}

TEST_F(PlatformPosix, FileStatusFollowsLinksOnlyWhenAsked) {
  write("target", "12345");
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  ASSERT_EQ(::link(path("target").c_str(), path("hard").c_str()), 0);
  const auto followed = platform::fileStatus(path("link"), true);
  const auto own = platform::fileStatus(path("link"), false);
  const auto hard = platform::fileStatus(path("hard"), false);
  ASSERT_TRUE(followed && own && hard);
  EXPECT_EQ(followed->kind, platform::EntryKind::File);
  EXPECT_EQ(followed->size, 5u);
  EXPECT_EQ(own->kind, platform::EntryKind::Link);
  EXPECT_EQ(followed->id, hard->id);
  EXPECT_NE(own->id, hard->id);
  EXPECT_FALSE(platform::fileStatus(path("missing"), false));
}

TEST_F(PlatformPosix, ProgramFileNeedsARegularFileWithAnExecuteBit) {
  write("tool", "#!/bin/sh\n");
  write("data", "");
  ASSERT_EQ(::chmod(path("tool").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(path("dir").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("tool", path("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0777), 0);
  const std::pair<const char*, bool> rows[] = {{"tool", true}, {"link", true},  {"data", false},
                                               {"dir", false}, {"fifo", false}, {"missing", false}};
  for (const auto& [name, expected] : rows) {
    EXPECT_EQ(platform::isProgramFile(path(name)), expected) << name;
  }
}

struct ReaderRow {
  std::string input;
  std::vector<std::string> pieces;
};

TEST_F(PlatformPosix, TextReaderDropsCrBeforeLfAndStopsAt1A) {
  const std::string x79(79, 'x');
  const ReaderRow rows[] = {
      {"a\r\nb\n", {"a\n", "b\n"}},
      {"a\rb\r\r\n", {"a\rb\r\n"}},
      {"end\r", {"end\r"}},
      {"ab\x1A"
       "cd\n",
       {"ab"}},
      {"\r\x1A\n", {"\r"}},
      {"\x1A", {}},
      {"no newline", {"no newline"}},
      {x79 + "\r\nnext", {x79, "\n", "next"}},
      {std::string(78, 'y') + "\r\n", {std::string(78, 'y') + "\n"}},
      {std::string(100, 'z') + "\n", {std::string(79, 'z'), std::string(21, 'z') + "\n"}},
      {std::string("a\0b\xFF\n", 5), {std::string("a\0b\xFF\n", 5)}},
  };
  for (const auto& row : rows) {
    write("text", row.input);
    platform::TextReader reader;
    ASSERT_TRUE(reader.open(path("text")));
    std::vector<std::string> pieces;
    std::string piece;
    while (reader.readPiece(piece, 79)) pieces.push_back(piece);
    EXPECT_EQ(pieces, row.pieces) << "input: " << ::testing::PrintToString(row.input);
  }
}

TEST_F(PlatformPosix, TextReaderWithoutLinksRefusesLinksAndSpecialFiles) {
  write("real", "line\n");
  ASSERT_EQ(::symlink("real", path("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0666), 0);
  ASSERT_EQ(::mkdir(path("dir").c_str(), 0755), 0);
  platform::TextReader reader;
  EXPECT_TRUE(reader.open(path("real"), false));
  EXPECT_FALSE(reader.open(path("link"), false));
  EXPECT_FALSE(reader.open(path("fifo"), false));
  EXPECT_FALSE(reader.open(path("dir"), false));
  EXPECT_FALSE(reader.open(path("dir"), true));
  EXPECT_FALSE(reader.open(path("missing"), true));
  ASSERT_TRUE(reader.open(path("link"), true));
  std::string piece;
  EXPECT_TRUE(reader.readPiece(piece));
  EXPECT_EQ(piece, "line\n");
}

TEST_F(PlatformPosix, TextWriterWritesCrLfAndAppends) {
  {
    platform::TextWriter writer;
    ASSERT_TRUE(writer.open(path("out"), platform::TextWriter::Mode::Truncate));
    writer.write("one\ntwo\r\n");
    writer.write("\n");
  }
  EXPECT_EQ(read("out"), "one\r\ntwo\r\r\n\r\n");
  {
    platform::TextWriter writer;
    ASSERT_TRUE(writer.open(path("out"), platform::TextWriter::Mode::Append));
    writer.write("three");
  }
  EXPECT_EQ(read("out"), "one\r\ntwo\r\r\n\r\nthree");
  {
    platform::TextWriter writer;
    ASSERT_TRUE(writer.open(path("out"), platform::TextWriter::Mode::Truncate));
    writer.write("x\n");
  }
  EXPECT_EQ(read("out"), "x\r\n");
}

TEST_F(PlatformPosix, TextWriterRefusesReadOnlyFiles) {
  write("locked", "keep");
  ASSERT_EQ(::chmod(path("locked").c_str(), 0444), 0);
  platform::TextWriter writer;
  EXPECT_FALSE(writer.open(path("locked"), platform::TextWriter::Mode::Truncate));
  EXPECT_FALSE(writer.open(path("locked"), platform::TextWriter::Mode::Append));
  EXPECT_FALSE(writer.isOpen());
  EXPECT_EQ(read("locked"), "keep");
}

TEST_F(PlatformPosix, TextWriterReplacesALinkOnTruncateAndRefusesItOnAppend) {
  write("target", "keep");
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  platform::TextWriter writer;
  EXPECT_FALSE(writer.open(path("link"), platform::TextWriter::Mode::Append));
  ASSERT_TRUE(writer.open(path("link"), platform::TextWriter::Mode::Truncate));
  writer.write("new\n");
  writer.close();
  EXPECT_EQ(read("target"), "keep");
  EXPECT_EQ(platform::fileStatus(path("link"), false)->kind, platform::EntryKind::File);
  EXPECT_EQ(read("link"), "new\r\n");
}

TEST_F(PlatformPosix, TextWriterAskedToWritesThroughALinkAppendsToItsTarget) {
  write("target", "old\r\n");
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  platform::TextWriter writer;
  ASSERT_TRUE(writer.open(path("link"), platform::TextWriter::Mode::Append, true));
  writer.write("new\n");
  writer.close();
  EXPECT_EQ(read("target"), "old\r\nnew\r\n");
  EXPECT_EQ(platform::fileStatus(path("link"), false)->kind, platform::EntryKind::Link);
  ::chmod(path("target").c_str(), 0444);
  EXPECT_FALSE(writer.open(path("link"), platform::TextWriter::Mode::Append, true));
  ASSERT_EQ(::symlink(".", path("dirlink").c_str()), 0);
  EXPECT_FALSE(writer.open(path("dirlink"), platform::TextWriter::Mode::Append, true));
}

TEST_F(PlatformPosix, FilePiecesAndLinkTargetsAreReadWithoutFollowingLinks) {
  const std::string bytes = std::string("\0\r\n", 3) + std::string(200000, 'q');
  write("file", bytes);
  ASSERT_EQ(::symlink("file", path("link").c_str()), 0);
  std::string seen;
  size_t pieces = 0;
  const auto collect = [&](std::string_view piece) {
    seen += piece;
    ++pieces;
    return true;
  };
  ASSERT_TRUE(platform::readFilePieces(path("file"), collect));
  EXPECT_TRUE(seen == bytes);
  EXPECT_GT(pieces, 1u);
  EXPECT_FALSE(platform::readFilePieces(path("link"), collect));
  EXPECT_FALSE(platform::readFilePieces(path("file"), [](std::string_view) { return false; }));
  EXPECT_EQ(platform::readLinkTarget(path("link")), "file");
  EXPECT_EQ(platform::readLinkTarget(path("file")), std::nullopt);
}

TEST_F(PlatformPosix, CopyFileCopiesBytesAndReplacesAWritableFile) {
  const std::string bytes = std::string("\0\r\n\x1A\xFF", 5) + std::string(200000, 'q');
  write("from", bytes);
  write("to", "old contents that are longer");
  ASSERT_TRUE(platform::copyFile(path("from"), path("to")));
  EXPECT_EQ(read("to"), bytes);
}

TEST_F(PlatformPosix, CopyFileRefusesReadOnlyTargetsAndItself) {
  write("from", "new");
  write("locked", "keep");
  ASSERT_EQ(::chmod(path("locked").c_str(), 0444), 0);
  EXPECT_FALSE(platform::copyFile(path("from"), path("locked")));
  EXPECT_EQ(read("locked"), "keep");
  EXPECT_FALSE(platform::copyFile(path("from"), path("from")));
  EXPECT_EQ(read("from"), "new");
  EXPECT_FALSE(platform::copyFile(path("missing"), path("out")));
  EXPECT_FALSE(platform::fileStatus(path("out"), false));
}

TEST_F(PlatformPosix, CopyFileReplacesALinkInsteadOfWritingThroughIt) {
  write("from", "new");
  write("outside", "keep");
  ASSERT_EQ(::symlink("outside", path("to").c_str()), 0);
  ASSERT_TRUE(platform::copyFile(path("from"), path("to")));
  EXPECT_EQ(read("outside"), "keep");
  EXPECT_EQ(platform::fileStatus(path("to"), false)->kind, platform::EntryKind::File);
  EXPECT_EQ(read("to"), "new");
}

TEST_F(PlatformPosix, CopyFileAndReadFileHeadNeverBlockOnAFifo) {
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0666), 0);
  std::string head;
  EXPECT_FALSE(platform::readFileHead(path("fifo"), 128, head));
  EXPECT_FALSE(platform::copyFile(path("fifo"), path("out")));
  ASSERT_EQ(::mkdir(path("dir").c_str(), 0755), 0);
  EXPECT_FALSE(platform::readFileHead(path("dir"), 128, head));
}

TEST_F(PlatformPosix, ReadFileHeadFollowsLinksAndStopsAtCount) {
  write("file", "0123456789");
  ASSERT_EQ(::symlink("file", path("link").c_str()), 0);
  std::string head;
  ASSERT_TRUE(platform::readFileHead(path("link"), 4, head));
  EXPECT_EQ(head, "0123");
  ASSERT_TRUE(platform::readFileHead(path("file"), 128, head));
  EXPECT_EQ(head, "0123456789");
  EXPECT_FALSE(platform::readFileHead(path("missing"), 4, head));
}

constexpr uint16_t dosDate(int year, int month, int day) {
  return uint16_t(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t dosTime(int hour, int minute, int second) {
  return uint16_t((hour << 11) | (minute << 5) | (second / 2));
}

TEST_F(PlatformPosix, DosTimeRoundsDownToEvenSecondsAndClamps) {
  ScopedEnv tz("TZ", "UTC0");
  const platform::DosDateTime earliest{dosDate(1980, 1, 1), 0};
  const platform::DosDateTime latest{dosDate(2107, 12, 31), dosTime(23, 59, 58)};
  const std::pair<int64_t, platform::DosDateTime> rows[] = {
      {315532800, earliest},                                      // 1980-01-01 00:00:00
      {315532801, earliest},                                      // odd second
      {315532803, {dosDate(1980, 1, 1), dosTime(0, 0, 2)}},       // 00:00:03
      {315532799, earliest},                                      // 1979-12-31 23:59:59
      {0, earliest},                                              // 1970
      {-86400LL * 365 * 100, earliest},                           // before 1900
      {1709214359, {dosDate(2024, 2, 29), dosTime(13, 45, 58)}},  // 13:45:59
      {4354819198, latest},                                       // 2107-12-31 23:59:58
      {4354819199, latest},                                       // 2107-12-31 23:59:59
      {4354819200, latest},                                       // 2108-01-01
      {INT64_MAX, latest},
      {INT64_MIN, earliest},
  };
  for (const auto& [seconds, expected] : rows) {
    const auto got = platform::toDosDateTime(seconds);
    EXPECT_EQ(got.date, expected.date) << "seconds " << seconds;
    EXPECT_EQ(got.time, expected.time) << "seconds " << seconds;
  }
}

TEST_F(PlatformPosix, DosTimeFollowsTheLocalZone) {
  ScopedEnv tz("TZ", "XST-3");  // three hours ahead of UTC
  const auto got = platform::toDosDateTime(1709214359);
  EXPECT_EQ(got.date, dosDate(2024, 2, 29));
  EXPECT_EQ(got.time, dosTime(16, 45, 58));
}

TEST_F(PlatformPosix, WrittenDosTimeReadsBackAndSetsTheFileTime) {
  ScopedEnv tz("TZ", "UTC0");
  write("file", "x");
  const platform::DosDateTime when{dosDate(2024, 2, 29), dosTime(13, 45, 58)};
  ASSERT_TRUE(platform::writeDosTime(path("file"), when));
  EXPECT_EQ(platform::fileStatus(path("file"), false)->lastWrite, 1709214358);
  platform::DosDateTime back;
  ASSERT_TRUE(platform::readDosTime(path("file"), back));
  EXPECT_EQ(back, when);
  EXPECT_FALSE(platform::writeDosTime(path("missing"), when));
  EXPECT_FALSE(platform::readDosTime(path("missing"), back));
  // A link gets the time itself; the file it names keeps its own.
  ASSERT_EQ(::symlink("file", path("link").c_str()), 0);
  ASSERT_TRUE(platform::writeDosTime(path("link"), {dosDate(2001, 1, 1), dosTime(1, 1, 2)}));
  EXPECT_EQ(platform::fileStatus(path("file"), false)->lastWrite, 1709214358);
}

TEST_F(PlatformPosix, LocalTimeTextHasTheFixedShape) {
  const std::string text = platform::localTimeText();
  ASSERT_EQ(text.size(), 25u) << text;
  EXPECT_TRUE(::testing::internal::RE::FullMatch(
      text,
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9][0-9][0-9][0-9]\n"))
      << text;
}

TEST_F(PlatformPosix, AbsolutePathNormalisesWithoutTouchingTheDisk) {
  const std::string cwd = platform::currentDirectory();
  ASSERT_FALSE(cwd.empty());
  ASSERT_TRUE(platform::changeDirectory(dir_));
  const std::string here = platform::currentDirectory();
  const std::string parent = here.substr(0, here.rfind('/'));
  const std::pair<std::string, std::string> rows[] = {
      {"/a/./b/../c", "/a/c"},
      {"/..", "/"},
      {"/", "/"},
      {"//a//b//", "/a/b"},
      {"x", here + "/x"},
      {"x/../../y", parent + "/y"},
      {"", here},
      {".", here},
      {"./sub/", here + "/sub"},
      {"a\\b", here + "/a\\b"},
  };
  for (const auto& [input, expected] : rows) {
    EXPECT_EQ(platform::absolutePath(input), expected) << "input: " << input;
  }
  ASSERT_TRUE(platform::changeDirectory(cwd));
}

TEST_F(PlatformPosix, CurrentDirectoryFollowsChangeDirectory) {
  const std::string cwd = platform::currentDirectory();
  ASSERT_TRUE(platform::changeDirectory(dir_));
  EXPECT_EQ(platform::currentDirectory(), dir_);
  EXPECT_FALSE(platform::changeDirectory(path("missing")));
  EXPECT_EQ(platform::currentDirectory(), dir_);
  ASSERT_TRUE(platform::changeDirectory(cwd));
}

TEST_F(PlatformPosix, ExecutablePathNamesThisProgram) {
  const std::string self = platform::executablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self[0], '/');
  const auto status = platform::fileStatus(self, true);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->kind, platform::EntryKind::File);
}

TEST_F(PlatformPosix, PathEntriesKeepEmptyEntries) {
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"/a::b:", {"/a", "", "b", ""}},
      {"", {""}},
      {"/usr/bin", {"/usr/bin"}},
      {nullptr, {}},
  };
  for (const auto& [value, expected] : rows) {
    ScopedEnv env("PATH", value);
    EXPECT_EQ(platform::pathEntries(), expected) << "PATH=" << (value ? value : "(unset)");
  }
}

TEST_F(PlatformPosix, RunAndWaitGivesExitCodeSignalOrMinusOne) {
  write("plain", "#!/bin/sh\nexit 0\n");
  const std::pair<std::vector<std::string>, int> rows[] = {
      {{"-c", "exit 0"}, 0},
      {{"-c", "exit 3"}, 3},
      {{"-c", "exit 255"}, 255},
      {{"-c", "kill -TERM $$"}, 128 + 15},
      {{"-c", "kill -KILL $$"}, 128 + 9},
  };
  for (const auto& [args, expected] : rows) {
    EXPECT_EQ(platform::runAndWait("/bin/sh", args).exitCode, expected) << args.back();
  }
  for (const std::string& program : {path("missing"), path("plain"), dir_}) {
    const platform::RunResult result = platform::runAndWait(program, {});
    EXPECT_EQ(result.exitCode, -1) << program;
    EXPECT_EQ(result.end, platform::RunEnd::NotStarted) << program;
  }
}

TEST_F(PlatformPosix, RunAndWaitLetsOurBufferedOutputGoFirst) {
  ::testing::internal::CaptureStdout();
  std::printf("before|");
  platform::runAndWait("/bin/sh", {"-c", "printf child"});
  std::printf("|after");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "before|child|after");
}

TEST_F(PlatformPosix, RunAndWaitPassesEveryArgumentUnchangedInTheCurrentDirectory) {
  const std::string cwd = platform::currentDirectory();
  ASSERT_TRUE(platform::changeDirectory(dir_));
  const std::vector<std::string> args = {
      "-c",      "pwd > seen; for a in \"$0\" \"$@\"; do printf '[%s]' \"$a\" >> seen; done",
      "zero",    "a b",
      "",        "\"q\"",
      "-x",      "$HOME;`x`",
      "\xC3\xA9"};
  EXPECT_EQ(platform::runAndWait("/bin/sh", args).exitCode, 0);
  ASSERT_TRUE(platform::changeDirectory(cwd));
  EXPECT_EQ(read("seen"), dir_ + "\n[zero][a b][][\"q\"][-x][$HOME;`x`][\xC3\xA9]");
}

TEST_F(PlatformPosix, RunAndWaitGivesAProgramItsOwnGroupNoKeyboardAndDefaultSignals) {
  // What this process ignores or holds back is not handed on.
  const auto oldPipe = ::signal(SIGPIPE, SIG_IGN);
  sigset_t usr1;
  sigset_t before;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ::sigprocmask(SIG_BLOCK, &usr1, &before);
  const std::string script =
      "cd " + dir_ +
      "; set -- $(cut -d' ' -f5 /proc/$$/stat); echo $(($1 == $$)) > group;"
      " readlink /proc/$$/fd/0 > stdin; grep -E '^Sig(Blk|Ign)' /proc/self/status > signals";
  const platform::RunResult result = platform::runAndWait("/bin/sh", {"-c", script});
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  ::signal(SIGPIPE, oldPipe);
  EXPECT_EQ(result.end, platform::RunEnd::Exited);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(read("group"), "1\n");
  EXPECT_EQ(read("stdin"), "/dev/null\n");
  // The C library's own signals (32 and up) are not ours to give back.
  unsigned long long blocked = 1;
  unsigned long long ignored = 1;
  ASSERT_EQ(std::sscanf(read("signals").c_str(), "SigBlk: %llx SigIgn: %llx", &blocked, &ignored),
            2);
  EXPECT_EQ(blocked, 0u);
  EXPECT_EQ(ignored & 0x7FFFFFFFu, 0u);
}

TEST_F(PlatformPosix, RunAndWaitEndsAProgramPastItsLimitWithAllItStarted) {
  // The background sleeper holds the pipe open for as long as it lives.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const std::string script = "sleep 60 >&" + std::to_string(pipeFds[1]) + " & sleep 60";
  const platform::RunResult result =
      platform::runAndWait("/bin/sh", {"-c", script}, {.timeLimitSeconds = 1});
  ::close(pipeFds[1]);
  EXPECT_EQ(result.end, platform::RunEnd::TimedOut);
  EXPECT_EQ(result.exitCode, -1);
  char byte;
  EXPECT_EQ(::read(pipeFds[0], &byte, 1), 0) << "a program of the group is still running";
  ::close(pipeFds[0]);
  const platform::RunResult quick =
      platform::runAndWait("/bin/sh", {"-c", "exit 4"}, {.timeLimitSeconds = 30});
  EXPECT_EQ(quick.end, platform::RunEnd::Exited);
  EXPECT_EQ(quick.exitCode, 4);
}

TEST_F(PlatformPosix, RunAndWaitCapturesOrDiscardsBothOutputsInTheOrderWritten) {
  std::string captured;
  platform::RunOptions capture;
  capture.output = platform::ProgramOutput::Capture;
  capture.takeOutput = [&captured](std::string_view piece) { captured.append(piece); };
  const std::string script = "printf 'out|'; printf 'err|' >&2; printf 'last'";
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(platform::runAndWait("/bin/sh", {"-c", script}, capture).exitCode, 0);
  platform::RunOptions discard;
  discard.output = platform::ProgramOutput::Discard;
  EXPECT_EQ(platform::runAndWait("/bin/sh", {"-c", script + "; exit 3"}, discard).exitCode, 3);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(captured, "out|err|last");
}

TEST_F(PlatformPosix, RunAndWaitReadsAChattyProgramWhileItsTimeLimitHolds) {
  size_t captured = 0;
  platform::RunOptions options;
  options.timeLimitSeconds = 30;
  options.output = platform::ProgramOutput::Capture;
  options.takeOutput = [&captured](std::string_view piece) { captured += piece.size(); };
  // Far more than a pipe holds: the program finishes only if it is read.
  platform::RunResult result =
      platform::runAndWait("/bin/sh", {"-c", "head -c 5000000 /dev/zero"}, options);
  EXPECT_EQ(result.end, platform::RunEnd::Exited);
  EXPECT_EQ(captured, 5000000u);
  // One that never stops writing is still ended at its limit.
  options.timeLimitSeconds = 1;
  result = platform::runAndWait("/bin/sh", {"-c", "while :; do echo chatter; done"}, options);
  EXPECT_EQ(result.end, platform::RunEnd::TimedOut);
  EXPECT_GT(captured, 5000000u);
}

TEST_F(PlatformPosix, ANameClaimEndsWithARunKilledOutright) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    platform::NameClaim claim;
    const char claimed = claim.claim(dir_, "T.ZIP") == platform::ClaimOutcome::Claimed ? 'y' : 'n';
    if (::write(ready[1], &claimed, 1) == 1) ::pause();
    ::_exit(1);
  }
  char claimed = 0;
  EXPECT_EQ(::read(ready[0], &claimed, 1), 1);
  EXPECT_EQ(claimed, 'y');
  platform::NameClaim mine;
  EXPECT_EQ(mine.claim(dir_, "T.ZIP"), platform::ClaimOutcome::HeldElsewhere);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(mine.claim(dir_, "T.ZIP"), platform::ClaimOutcome::Claimed);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
