// Black-box tests of the walk over trees that change or go deep, of what
// counts as an archive or a list file, and of removing only the very source
// that was converted.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "harness.h"

namespace {

using harness::readFile;
using harness::writeFile;
using harness::ZelmResult;
using Names = std::vector<std::string>;

const std::string kConfig =
    "DefaultPacker YPK\nDetect Ext\nLog Yes\n"
    "ID\nExt XPK\nUnpack xpk x\n"
    "ID\nExt YPK\nPack ypk a\n";

class Walk : public ::testing::Test, public harness::Scene {
 protected:
  Walk() : harness::Scene({"xpk", "ypk", "yun"}, {{"RECORDER_CREATE_ypk", "@-1"}}) {}

  bool converted(const ZelmResult& result, unsigned count) const {
    return result.out.find("Converted  :\t" + std::string(10 - std::to_string(count).size(), ' ') +
                           std::to_string(count) + " files") != std::string::npos;
  }
};

// A chain of `depth` directories named "d" below `top`, built and read name
// by name, since its paths are longer than the system takes.
class DeepChain {
 public:
  DeepChain(const std::string& top, int depth) : top_(top), depth_(depth) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth && fd >= 0; ++level) {
      ::mkdirat(fd, "d", 0755);
      fd = step(fd, "d");
    }
    ::close(fd);
  }
  ~DeepChain() {
    int fd = bottom();
    if (fd < 0) return;
    for (const auto& name : names()) ::unlinkat(fd, name.c_str(), 0);
    for (int level = 0; level < depth_ && fd >= 0; ++level) {
      fd = step(fd, "..");
      ::unlinkat(fd, "d", AT_REMOVEDIR);
    }
    ::close(fd);
  }
  void writeAtBottom(const std::string& name, const std::string& bytes) const {
    const int dir = bottom();
    const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
    ::close(dir);
  }
  Names names() const {
    Names out;
    const int fd = bottom();
    DIR* dir = ::fdopendir(fd);
    while (const dirent* item = dir ? ::readdir(dir) : nullptr) {
      if (item->d_name[0] != '.') out.push_back(item->d_name);
    }
    if (dir) ::closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  static int step(int fd, const char* name) {
    const int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY);
    ::close(fd);
    return next;
  }
  int bottom() const {
    int fd = ::open(top_.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth_ && fd >= 0; ++level) fd = step(fd, "d");
    return fd;
  }
  std::string top_;
  int depth_;
};

TEST_F(Walk, ATreeDeeperThanAnyPathIsWalkedToTheBottom) {
  // Memory holds such a tree far faster than a journalled disk removes it.
  char pattern[] = "/dev/shm/zelm-deep-XXXXXX";
  const std::string top = ::mkdtemp(pattern) ? pattern : work("deep");
  std::filesystem::create_directories(top);
  writeFile(top + "/top.xpk", "top");
  {
    const DeepChain chain(top, 30000);
    chain.writeAtBottom("deep.xpk", "deep");
    harness::ZelmRun deepRun;
    deepRun.config = kConfig;
    deepRun.args = {"*.xpk", "/r"};
    deepRun.cwd = top;
    deepRun.env = {
        {"PATH", bin()}, {"RECORDER_LOG", root("records")}, {"RECORDER_CREATE_ypk", "@-1"}};
    const ZelmResult result = harness::runZelm(deepRun);
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_TRUE(converted(result, 2)) << result.out;
    EXPECT_EQ(chain.names(), Names{"deep.YPK"});
  }
  EXPECT_TRUE(harness::exists(top + "/top.YPK"));
  EXPECT_FALSE(harness::exists(top + "/top.xpk"));
  std::filesystem::remove_all(top);
}

TEST_F(Walk, ADirectoryMovedAwayDuringAConversionDoesNotMoveTheWalk) {
  writeFile(work("a/inner.xpk"), "inner");
  writeFile(work("z.xpk"), "mine");
  writeFile(root("outside/z.xpk"), "not mine");
  harness::makeScript(bin() + "/xpk", "PATH=/usr/bin:/bin\nmv '" + work("a") + "' '" +
                                          root("outside/a") + "' 2>/dev/null\nexit 0\n");
  const ZelmResult result = run(kConfig, {"*.xpk", "/r"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(root("outside/z.xpk")), "not mine");
  EXPECT_EQ(workTree(), Names{"z.YPK"});
  EXPECT_TRUE(harness::exists(root("outside/a/inner.YPK")));
}

TEST_F(Walk, LeftoverWorkDirectoriesAreNotWalked) {
  writeFile(work("$TMP$.001/left.xpk"), "unpacked by a stopped run");
  writeFile(work("$tmp$.999/left.xpk"), "unpacked by a stopped run");
  writeFile(work("$TMP$.0001/kept.xpk"), "an ordinary directory");
  writeFile(work("$TMP$.00a/kept.xpk"), "an ordinary directory");
  const ZelmResult result = run(kConfig, {"*.xpk", "/r"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(workTree(),
            (Names{"$TMP$.0001/", "$TMP$.0001/kept.YPK", "$TMP$.001/", "$TMP$.001/left.xpk",
                   "$TMP$.00a/", "$TMP$.00a/kept.YPK", "$tmp$.999/", "$tmp$.999/left.xpk"}));
}

TEST_F(Walk, ASourceReplacedWithItsOldTimeDuringItsConversionStays) {
  writeFile(work("old.xpk"), "original");
  writeFile(root("newer"), "replaced");  // the same size, cp -p over it
  const ZelmResult result =
      run(kConfig, {"*.xpk"},
          {{"RECORDER_CREATE_xpk", "@-1<" + root("newer")}, {"RECORDER_KEEPTIME_xpk", "@-1"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_TRUE(converted(result, 1)) << result.out;
  EXPECT_EQ(readFile(work("old.xpk")), "replaced");
}

TEST_F(Walk, OnlyRegularFilesAreArchivesOrListFiles) {
  ASSERT_EQ(::mkfifo(work("pipe.xpk").c_str(), 0666), 0);
  ASSERT_EQ(::mkfifo(work("names.lst").c_str(), 0666), 0);
  writeFile(work("real.xpk"), "real");
  const ZelmResult result = run(kConfig, {"*.xpk", "@names.lst", "@/dev/zero"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_TRUE(converted(result, 1)) << result.out;
  ASSERT_EQ(runsOf("xpk").size(), 1u);
  EXPECT_EQ(runsOf("xpk")[0].argv.back(), harness::native("../real.xpk"));
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("Can't open:    @names.lst\r\n"), std::string::npos) << *result.log;
  EXPECT_NE(result.log->find("Can't open:    @/dev/zero\r\n"), std::string::npos) << *result.log;
}

TEST_F(Walk, ASourceHeldByAnotherRunIsSkippedAndOneGoneIsPassedOver) {
  writeFile(work("a.xpk"), "a");
  writeFile(work("b.xpk"), "b");
  writeFile(work("c.xpk"), "c");
  const int held = ::open(work("c.xpk").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  // Converting a.xpk, another run's work takes b.xpk away.
  const ZelmResult result = run(
      kConfig, {"*.xpk"}, {{"RECORDER_NEED_xpk", "@-1"}, {"RECORDER_REMOVE_xpk", work("b.xpk")}});
  ::close(held);
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, harness::report(1, 0, 1, 1, 4));
  EXPECT_EQ(workTree(), (Names{"a.YPK", "c.xpk"}));
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("\r\nConvert successfull: " + work("a.xpk") +
                             "\r\nArchive in use:      " + work("c.xpk") + "\r\n\r\n"),
            std::string::npos)
      << *result.log;
}

TEST_F(Walk, AListFileFindsWhatAFreshListingPerLineWould) {
  for (const char* name : {"a.xpk", "b.xpk", "sub/c.xpk", "sub/d.xpk", "sub/sub/e.xpk"}) {
    writeFile(work(name), name);
  }
  // a.YPK is made by the line before it; the second a.xpk is gone by then.
  writeFile(work("names.lst"), "b.xpk\na.xpk\na.xpk\nmissing.xpk\na.YPK\nsub/c.xpk\nd.xpk\n");
  const ZelmResult result = run(kConfig + "Unpack yun x\n", {"@names.lst"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  Names unpacked;
  for (const auto& record : records()) {
    if (record.role() != "ypk") unpacked.push_back(record.role() + " " + record.argv.back());
  }
  const std::string up = harness::native("../");
  EXPECT_EQ(unpacked, (Names{"xpk " + up + "b.xpk", "xpk " + up + "a.xpk", "yun " + up + "a.YPK",
                             "xpk " + up + "c.xpk", "xpk " + up + "d.xpk"}));
  EXPECT_EQ(workTree(), (Names{"a.YPK", "b.YPK", "names.lst", "sub/", "sub/c.YPK", "sub/d.YPK",
                               "sub/sub/", "sub/sub/e.xpk"}));
}

TEST_F(Walk, WithoutLocksTheRunGoesOnAndSaysSoOnce) {
  writeFile(work("one.xpk"), "1");
  writeFile(work("two.xpk"), "2");
  const ZelmResult result =
      run(kConfig, {"*.xpk"},
          {{"LD_PRELOAD", NOLOCK_SHIM}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_TRUE(converted(result, 2)) << result.out;
  ASSERT_TRUE(result.log);
  const std::string line = "Can't lock archives: " + work("one.xpk") + "\r\n";
  EXPECT_NE(result.log->find(line), std::string::npos) << *result.log;
  EXPECT_EQ(result.log->find("Can't lock"), result.log->rfind("Can't lock")) << *result.log;
}

}  // namespace
