// Black-box tests of the archive search: inputs, the walk and the mirror
// below a destination.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"

namespace {

using harness::listTree;
using harness::TempDir;
using harness::ZelmResult;
using harness::ZelmRun;

const std::string kConfig =
    "DefaultPacker YPK\n"
    "Detect Ext\n"
    "ID\n"
    "Ext XPK\n"
    "Unpack xpk x\n"
    "ID\n"
    "Ext YPK\n"
    "Pack ypk a\n";

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    harness::installRecorder(root_ / "bin", "xpk");
    harness::installRecorder(root_ / "bin", "ypk");
  }
  ZelmResult run(std::vector<std::string> args, const std::string& cwd) const {
    ZelmRun run;
    run.config = kConfig;
    run.args = std::move(args);
    run.cwd = cwd;
    run.env = {{"PATH", root_ / "bin"},
               {"RECORDER_LOG", root_ / "records"},
               {"RECORDER_CREATE_ypk", "@-1"}};
    return harness::runZelm(run);
  }
  TempDir root_;
};

TEST_F(Search, ADestinationInsideTheWalkedTreeIsNotWalkedItself) {
  const std::string tree = root_ / "tree";
  harness::writeFile(tree + "/a/one.xpk", "1");
  harness::writeFile(tree + "/b/c/two.xpk", "2");
  std::filesystem::create_directories(tree + "/out");
  const ZelmResult result = run({"*.xpk", "/r", "/d:out"}, tree);
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(listTree(tree),
            (std::vector<std::string>{"a/", "b/", "b/c/", "out/", "out/a/", "out/a/one.YPK",
                                      "out/b/", "out/b/c/", "out/b/c/two.YPK"}));
  EXPECT_NE(result.out.find("Converted  :\t         2 files"), std::string::npos) << result.out;
}

TEST_F(Search, InputsContinueFromWhereThePreviousOneLeft) {
  const std::string tree = root_ / "tree";
  harness::writeFile(tree + "/a/one.xpk", "1");
  harness::writeFile(tree + "/a/b/two.xpk", "2");
  harness::writeFile(tree + "/b/wrong.xpk", "3");
  const ZelmResult result = run({"a/*.xpk", "b\\*.xpk"}, tree);
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_TRUE(harness::exists(tree + "/a/one.YPK"));
  EXPECT_TRUE(harness::exists(tree + "/a/b/two.YPK"));
  EXPECT_TRUE(harness::exists(tree + "/b/wrong.xpk"));
  EXPECT_FALSE(harness::exists(tree + "/b/wrong.YPK"));
}

TEST_F(Search, ATrailingSlashGivesNoMaskButStillMirrorsSubdirectories) {
  const std::string tree = root_ / "tree";
  harness::writeFile(tree + "/top.xpk", "1");
  harness::writeFile(tree + "/sub/deep.xpk", "2");
  std::filesystem::create_directories(tree + "/empty");
  std::filesystem::create_directories(tree + "/.hidden");
  const std::string out = root_ / "out";
  std::filesystem::create_directories(out);
  const ZelmResult result = run({"./", "/r", "/d:" + out + "/"}, tree);
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"empty/", "sub/"}));
  EXPECT_TRUE(harness::exists(tree + "/top.xpk"));
  EXPECT_TRUE(harness::exists(tree + "/sub/deep.xpk"));
}

}  // namespace
