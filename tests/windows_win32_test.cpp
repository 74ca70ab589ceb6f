// Black-box tests of what only the Windows build has: drives and their
// current directories, .COM/.EXE probing without batch files, the raw
// command line a packer gets, the MAX_PATH limit and reserved names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "harness.h"

namespace {

using harness::native;
using harness::readFile;
using harness::report;
using harness::ZelmResult;
using Names = std::vector<std::string>;

const std::string kConfig =
    "DefaultPacker YPK\nDetect Ext\nLog Yes\nID\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack ypk a\n";

// The unpacker extracts content.txt; the packer makes the archive it is
// given last.
class Scene : public harness::Scene {
 public:
  Scene()
      : harness::Scene({"xpk", "ypk"},
                       {{"RECORDER_CREATE_xpk", "content.txt"}, {"RECORDER_CREATE_ypk", "@-1"}}) {}

  Names lines(const std::string& role) const {
    Names out;
    for (const auto& record : runsOf(role)) out.push_back(record.line);
    return out;
  }
};

// A directory on wine's drive C:, removed afterwards, with its unix and its
// Windows name.
class DriveCDir {
 public:
  DriveCDir() {
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    const std::string driveC = prefix ? std::string(prefix) + "/drive_c"
                                      : std::string(home ? home : "") + "/.wine/drive_c";
    name_ = "zelm-" + std::to_string(std::random_device{}() % 1000000);
    unix_ = driveC + "/" + name_;
    std::filesystem::create_directories(unix_);
  }
  ~DriveCDir() {
    std::error_code ignored;
    std::filesystem::remove_all(unix_, ignored);
  }
  std::string unix(const std::string& rest) const { return unix_ + "/" + rest; }
  std::string windows(const std::string& rest = "") const {
    return "C:\\" + name_ + (rest.empty() ? "" : "\\" + rest);
  }

 private:
  std::string name_;
  std::string unix_;
};

TEST(Win32Drives, InputsMoveBetweenDrivesAndEachDriveKeepsItsDirectory) {
  Scene scene;
  DriveCDir c;
  harness::writeFile(c.unix("in/a.xpk"), "a");
  harness::writeFile(c.unix("in/sub/b.xpk"), "bb");
  harness::writeFile(scene.work("w.xpk"), "www");
  // The second input is relative to where the first left drive C:; the third
  // names the directory that drive Z: had when the run left it.
  const ZelmResult result = scene.run(kConfig, {c.windows("in\\*.xpk"), "sub\\*.xpk", "Z:*.xpk"});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(3, 0, 0, 6, 12));
  EXPECT_TRUE(harness::exists(c.unix("in/a.YPK")));
  EXPECT_TRUE(harness::exists(c.unix("in/sub/b.YPK")));
  EXPECT_EQ(scene.workTree(), Names{"w.YPK"});
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("Convert successfull: " + c.windows("in\\sub\\b.xpk") + "\r\n"),
            std::string::npos)
      << *result.log;
}

TEST(Win32Drives, ADestinationOfADriveAloneIsItsDirectoryAndWithBackslashItsRoot) {
  Scene scene;
  DriveCDir c;
  std::filesystem::create_directories(c.unix("start"));
  // Started on drive C:, in C:\zelm-N\start; the archive lies on drive Z:.
  const auto runFrom = [&](const std::string& destination) {
    harness::writeFile(scene.work("old.xpk"), "archive!");
    harness::ZelmRun run;
    run.config = kConfig;
    run.args = {native(scene.work("old.xpk")), destination};
    run.cwd = c.unix("start");
    run.env = {{"PATH", scene.bin()},
               {"RECORDER_LOG", scene.root("records")},
               {"RECORDER_CREATE_ypk", "@-1"}};
    return harness::runZelm(run);
  };
  ZelmResult result = runFrom("/d:C:\\");
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  result = runFrom("/d:C:");
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  const auto packs = scene.runsOf("ypk");
  ASSERT_EQ(packs.size(), 2u);
  EXPECT_EQ(packs[0].argv.back(), "C:\\old.YPK");
  EXPECT_EQ(packs[1].argv.back(), c.windows("start\\old.YPK"));
  std::error_code ignored;
  EXPECT_TRUE(std::filesystem::remove(c.unix("../old.YPK"), ignored));
  EXPECT_TRUE(harness::exists(c.unix("start/old.YPK")));
}

TEST(Win32Programs, ComAndExeAreProbedAndABatchFileIsNeverLocated) {
  Scene scene;
  // A batch file that would leave a mark wherever it ran.
  harness::writeFile(scene.bin() + "/xbat.bat", "echo ran> ran.txt\r\n");
  harness::writeFile(scene.bin() + "/pbat.bat", "echo ran> ran.txt\r\n");
  std::filesystem::copy_file(RECORDER_BINARY, scene.bin() + "/xbat.COM");
  harness::writeFile(scene.work("old.xpk"), "archive!");
  const std::string xbat = "ID\nExt XPK\nUnpack xbat.bat x\nID\nExt YPK\nPack ypk a\n";
  ZelmResult result = scene.run("DefaultPacker YPK\nDetect Ext\n" + xbat, {"old.xpk"});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  EXPECT_EQ(scene.roles(), (Names{"xbat", "ypk"}));
  EXPECT_EQ(scene.runsOf("xbat").at(0).argv.at(0), native(scene.bin() + "/xbat.COM"));

  const std::string pbat = "ID\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack pbat a\n";
  result = scene.run("DefaultPacker YPK\nDetect Ext\n" + pbat, {"*.xpk"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "Packer not found.\n\n");
  EXPECT_FALSE(harness::exists(scene.work("ran.txt")));
  EXPECT_FALSE(harness::exists(scene.root("ran.txt")));
}

TEST(Win32CommandLine, ThePackerSeesOneLineWithReferencesQuotedWhereABlankIs) {
  Scene scene;
  for (const char* name : {"plain.xpk", "my file.xpk", "ext.x y"}) {
    harness::writeFile(scene.work(name), "XPK archive");
  }
  std::filesystem::create_directories(scene.root("out dir"));
  const std::string config =
      "DefaultPacker YPK\nID 00 58504B\nUnpack xpk x\nExt XPK\nID\nExt YPK\nPack ypk a\n"
      "Append -z\n";
  const ZelmResult result =
      scene.run(config, {"*.*", "/d:" + scene.root("out dir")}, {{"RECORDER_CREATE_ypk", "@2"}});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(3, 0, 0, 33, 12));
  const std::string xpk = scene.program("xpk");
  const std::string ypk = scene.program("ypk");
  const std::string out = native(scene.root("out dir"));
  EXPECT_EQ(scene.lines("xpk"), (Names{xpk + " x \"..\\ext.x y\"", xpk + " x \"..\\my file.xpk\"",
                                       xpk + " x ..\\plain.xpk"}));
  EXPECT_EQ(scene.lines("ypk"), (Names{ypk + " a \"" + out + "\\ext.YPK\" -z",
                                       ypk + " a \"" + out + "\\my file.YPK\" -z",
                                       ypk + " a \"" + out + "\\plain.YPK\" -z"}));
  // Each reference reached the packer as one argument.
  for (const auto& record : scene.records()) {
    EXPECT_EQ(record.argv.size(), record.role() == "xpk" ? 3u : 4u) << record.line;
  }
}

TEST(Win32CommandLine, WildcardsReachTheProgramAsWritten) {
  // Expanded by the C runtime, "*" would name old.xpk; zelm's own matcher
  // lets "*" fit only names without a dot.
  Scene scene;
  harness::writeFile(scene.work("old.xpk"), "archive!");
  const ZelmResult result = scene.run(kConfig, {"*"});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(0, 0, 0, 0, 0));
  EXPECT_EQ(scene.workTree(), Names{"old.xpk"});
}

TEST(Win32Programs, AProgramPastItsTimeLimitIsEndedAndTheSourceKept) {
  Scene scene;
  harness::writeFile(scene.work("old.xpk"), "XPK archive");
  const ZelmResult result =
      scene.run(kConfig + "Timeout 1\n", {"old.xpk"}, {{"RECORDER_SLEEP_ypk", "60"}});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(0, 1, 0, 0, 0));
  EXPECT_EQ(scene.workTree(), Names{"old.xpk"});
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("Timeout:            " + scene.program("ypk")), std::string::npos)
      << *result.log;
}

TEST(Win32Paths, ADirectoryBeyondMaxPathIsPassedOverAndKept) {
  Scene scene;
  // Levels as deep as a work directory can still be made below; two more
  // make the current directory longer than Windows allows (258 bytes).
  std::string deep = scene.work();
  const std::string level(30, 'd');
  while (native(deep + "/" + level + "/$TMP$.001").size() <= 258) deep += "/" + level;
  const std::string far = deep + "/" + level + "/" + level;
  harness::writeFile(deep + "/near.xpk", "near");
  harness::writeFile(far + "/far.xpk", "far");
  const ZelmResult result = scene.run(kConfig, {"*.xpk", "/r"});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 4, 4));
  EXPECT_TRUE(harness::exists(deep + "/near.YPK"));
  EXPECT_EQ(harness::listTree(far), Names{"far.xpk"});
}

TEST(Win32Names, NamesWindowsCannotAddressArePassedOverAndKept) {
  Scene scene;
  const Names reserved = {"CON.xpk", "nul.xpk", "COM1.xpk", "aux", "dot.xpk.", "blank.xpk "};
  for (const auto& name : reserved) harness::writeFile(scene.work(name), "keep me");
  harness::writeFile(scene.work("good.xpk"), "good");
  const ZelmResult result = scene.run(kConfig, {"*.*"});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 4, 4));
  for (const auto& name : reserved) EXPECT_EQ(readFile(scene.work(name)), "keep me") << name;
}

}  // namespace
