// Black-box tests of two runs at once whose sources share one new archive's
// name: neither may replace an archive whose source the other removed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "harness.h"

namespace {

using harness::ZelmResult;
using Args = std::vector<std::string>;

// FOO.XPK and FOO.ZPK both become FOO.YPK, verified. The unpackers copy the
// source into the work directory as "member", the target packer copies it
// over the whole archive after a second, and the target's unpacker gives it
// back. ZPK unpacks slowly, so a run converting FOO.ZPK packs well after a
// run converting FOO.XPK has verified its archive and removed its source.
const std::string kConfig =
    "DefaultPacker YPK\nDetect Ext\nLog Yes\nExistArchive Skip\nVerify Yes\n"
    "ID\nExt XPK\nUnpack xpk x\n"
    "ID\nExt ZPK\nPack zpa a\nUnpack zpk x\n"
    "ID\nExt YPK\nPack ypk a\nUnpack yun x\n";

class TargetClaim : public ::testing::Test, public harness::Scene {
 protected:
  TargetClaim() : harness::Scene({"xpk", "zpk", "zpa", "ypk", "yun"}, {}) {}

  // The runs share one binary directory, installed once.
  std::string zelm() {
    const std::string binary = root("zelm") + "/" + harness::kZelmName;
    return harness::exists(binary) ? binary : harness::installZelm(root("zelm"), kConfig);
  }

  std::map<std::string, std::optional<std::string>> env = {
      {"RECORDER_CREATE_xpk", "member<@-1"}, {"RECORDER_CREATE_zpk", "member<@-1"},
      {"RECORDER_SLEEP_zpk", "2"},           {"RECORDER_CREATE_ypk", "@-1<member"},
      {"RECORDER_SLEEP_ypk", "1"},           {"RECORDER_CREATE_yun", "member<@-1"},
      {"RECORDER_CREATE_zpa", "@-1<member"}};

  ZelmResult runOne(const Args& args) {
    env["PATH"] = bin();
    env["RECORDER_LOG"] = root("records");
    return harness::runBinary(zelm(), args, work(), env, 60);
  }

  // Starts one zelm per argument list at the same moment and waits for all.
  std::vector<ZelmResult> runAtOnce(const std::vector<Args>& argLists) {
    env["PATH"] = bin();
    env["RECORDER_LOG"] = root("records");
    return harness::runAtOnce(zelm(), argLists, work(), env, 60);
  }

  // Both runs at once: one source converted and gone, the other kept and
  // logged as in use, so that every byte is somewhere.
  void expectBothSurvive(const std::vector<Args>& argLists, const std::string& targetDir) {
    harness::writeFile(work("FOO.XPK"), "from xpk");
    harness::writeFile(work("FOO.ZPK"), "from zpk");
    for (const ZelmResult& result : runAtOnce(argLists)) {
      ASSERT_EQ(result.exitCode, 0) << describe(result);
    }
    const bool xpkKept = harness::exists(work("FOO.XPK"));
    const bool zpkKept = harness::exists(work("FOO.ZPK"));
    const std::string made = harness::readFile(targetDir + "/FOO.YPK");
    ASSERT_NE(xpkKept, zpkKept) << "FOO.XPK kept: " << xpkKept << ", FOO.ZPK kept: " << zpkKept
                                << ", FOO.YPK holds: " << made;
    const std::string kept = xpkKept ? "FOO.XPK" : "FOO.ZPK";
    EXPECT_EQ(harness::readFile(work(kept)), xpkKept ? "from xpk" : "from zpk");
    EXPECT_EQ(made, xpkKept ? "from zpk" : "from xpk");
    const std::string log = harness::readFile(root("zelm/zelm.log"));
    EXPECT_NE(log.find("Archive in use:      " + harness::native(work(kept)) + "\r\n"),
              std::string::npos)
        << log;
  }
};

TEST_F(TargetClaim, TwoSourcesOfOneTargetInTwoRunsBothSurvive) {
  expectBothSurvive({{"FOO.XPK"}, {"FOO.ZPK"}}, work());
}

TEST_F(TargetClaim, TwoSourcesOfOneTargetInTheDestinationBothSurvive) {
  const std::string dest = "/d:" + harness::native(root("out"));
  expectBothSurvive({{"FOO.XPK", dest}, {"FOO.ZPK", dest}}, root("out"));
}

// A run converting FOO.YPK to FOO.ZPK while another still packs FOO.YPK
// leaves it alone: it would read a half-made archive.
TEST_F(TargetClaim, AnArchiveStillBeingPackedIsNoSource) {
  harness::writeFile(work("FOO.XPK"), "from xpk");
  env["RECORDER_SLEEP_ypk"] = "0";
  env["RECORDER_HANG_ypk"] = "3";
  ZelmResult packing;
  std::thread first([&] { packing = runOne({"FOO.XPK"}); });
  for (int i = 0; i < 300 && !harness::exists(work("FOO.YPK")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const ZelmResult second = runOne({"*.YPK", "/ZPK"});
  first.join();
  // Read straight from the program: a Windows console ends its lines in CR LF.
  const auto console = [](const std::string& text) {
    return harness::kWindows ? harness::crlf(text) : text;
  };
  EXPECT_EQ(second.out, console(harness::report(0, 0, 1, 0, 0))) << describe(second);
  EXPECT_EQ(packing.out, console(harness::report(1, 0, 0, 8, 8))) << describe(packing);
  EXPECT_FALSE(harness::exists(work("FOO.ZPK")));
  EXPECT_EQ(harness::readFile(work("FOO.YPK")), "from xpk");
}

}  // namespace
