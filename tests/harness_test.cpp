// Checks of the test tools themselves: the scratch directory, the runner and
// the recording program, which every other black-box test relies on.
#include "harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace {

using harness::readRecords;
using harness::TempDir;

TEST(HarnessTempDir, IsAbsoluteAndGoesWithReadOnlyContents) {
  std::string path;
  {
    TempDir dir;
    path = dir.path();
    ASSERT_EQ(path[0], '/');
    harness::writeFile(dir / "locked/deep/file", "x");
    ::chmod((dir / "locked/deep/file").c_str(), 0444);
    ::chmod((dir / "locked/deep").c_str(), 0555);
    ::chmod((dir / "locked").c_str(), 0555);
    EXPECT_EQ(harness::listTree(path),
              (std::vector<std::string>{"locked/", "locked/deep/", "locked/deep/file"}));
  }
  EXPECT_FALSE(harness::exists(path));
}

TEST(HarnessRun, ReportsExitCodesSignalsAndBothStreams) {
  TempDir dir;
  harness::makeScript(dir / "script", "printf out; printf err >&2; pwd >&2; exit 4\n");
  auto result = harness::runBinary(dir / "script", {}, dir.path(), {});
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_EQ(result.out, "out");
  EXPECT_EQ(result.err, "err" + dir.path() + "\n");

  harness::makeScript(dir / "crash", "kill -SEGV $$\n");
  result = harness::runBinary(dir / "crash", {}, dir.path(), {});
  EXPECT_EQ(result.exitCode, std::nullopt) << "a crash never counts as an exit code";
  EXPECT_EQ(result.signal, 11);
}

TEST(HarnessRun, KillsARunPastItsDeadline) {
  TempDir dir;
  harness::makeScript(dir / "hang", "sleep 100 & wait\n");
  const auto result = harness::runBinary(dir / "hang", {}, dir.path(), {}, 1);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.exitCode, std::nullopt);
}

TEST(HarnessRun, SetsAndUnsetsEnvironmentVariables) {
  TempDir dir;
  ::setenv("HARNESS_INHERITED", "kept", 1);
  ::setenv("HARNESS_REMOVED", "seen", 1);
  harness::makeScript(dir / "env",
                      "printf '%s|%s|%s' \"$ADDED\" \"$HARNESS_INHERITED\" "
                      "\"${HARNESS_REMOVED-unset}\"\n");
  const auto result = harness::runBinary(dir / "env", {}, dir.path(),
                                         {{"ADDED", "a b"}, {"HARNESS_REMOVED", std::nullopt}});
  ::unsetenv("HARNESS_INHERITED");
  ::unsetenv("HARNESS_REMOVED");
  EXPECT_EQ(result.out, "a b|kept|unset");
}

// The recorder as the platform under test runs it: a Windows program under
// wine when the harness targets Windows.
class Recorder : public ::testing::Test {
 protected:
  void SetUp() override { program_ = harness::installRecorder(dir_.path(), "xpk"); }

  harness::ZelmResult run(const std::vector<std::string>& args,
                          std::map<std::string, std::optional<std::string>> env = {}) {
    env["RECORDER_LOG"] = harness::native(dir_ / "records");
    return harness::runBinary(program_, args, dir_.path(), env);
  }

  TempDir dir_;
  std::string program_;
};

TEST_F(Recorder, RecordsEveryArgumentExactly) {
  std::vector<std::string> args = {"", "two words", "line\nbreak", "arg 5 x\nend"};
  // Wine hands a Windows program only text: a byte that is no UTF-8 comes
  // as "?".
  if (!harness::kWindows) args.push_back("\xFF");
  ASSERT_EQ(run(args).exitCode, 0);
  ASSERT_EQ(run({"second"}).exitCode, 0);
  const auto records = readRecords(dir_ / "records");
  ASSERT_EQ(records.size(), 2u);
  const std::string self = harness::native(program_);
  std::vector<std::string> expected = {self};
  expected.insert(expected.end(), args.begin(), args.end());
  EXPECT_EQ(records[0].argv, expected);
  EXPECT_EQ(records[0].cwd, harness::native(dir_.path()));
  EXPECT_EQ(records[0].role(), "xpk");
  EXPECT_EQ(records[1].argv, (std::vector<std::string>{self, "second"}));
}

TEST_F(Recorder, SettingsForItsRoleWinOverGeneralOnes) {
  auto result = run({}, {{"RECORDER_EXIT", "2"}, {"RECORDER_EXIT_xpk", "7"}});
  EXPECT_EQ(result.exitCode, 7);
  result = run({}, {{"RECORDER_EXIT", "2"}, {"RECORDER_EXIT_ypk", "7"}});
  EXPECT_EQ(result.exitCode, 2);
  result = run({}, {{"RECORDER_SIGNAL_xpk", "9"}, {"RECORDER_PRINT", "said"}});
  if (harness::kWindows) {
    // A Windows crash is the exit code of an access violation, of which
    // wine's own exit status keeps the low byte.
    EXPECT_EQ(result.exitCode, 0xC0000005 & 0xFF);
  } else {
    EXPECT_EQ(result.exitCode, std::nullopt);
    EXPECT_EQ(result.signal, 9);
  }
  EXPECT_EQ(result.out, "said");
  EXPECT_EQ(readRecords(dir_ / "records").size(), 3u);
}

TEST_F(Recorder, CreatesCopiesAndRemovesFilesNamedByArguments) {
  harness::writeFile(dir_ / "source", "payload");
  harness::writeFile(dir_ / "doomed", "");
  const auto result =
      run({"a", "sub/new.ypk", "doomed"}, {{"RECORDER_CREATE", "@-2:copy/here<source:plain"},
                                           {"RECORDER_CONTENT_xpk", "made"},
                                           {"RECORDER_REMOVE", "@3"}});
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(harness::readFile(dir_ / "sub/new.ypk"), "made");
  EXPECT_EQ(harness::readFile(dir_ / "copy/here"), "payload");
  EXPECT_EQ(harness::readFile(dir_ / "plain"), "made");
  EXPECT_FALSE(harness::exists(dir_ / "doomed"));
}

TEST_F(Recorder, MakesLinksDirectoriesAndSizesAndRejectsOtherBeginnings) {
  harness::writeFile(dir_ / "source", "XPK data");
  harness::writeFile(dir_ / "taken", "old");
  const harness::ZelmResult result = run({"source", "big"}, {{"RECORDER_BEGINS", "@1=XPK"},
                                                             {"RECORDER_CREATE", "@2"},
                                                             {"RECORDER_SIZE", "@2=4294967297"},
                                                             {"RECORDER_MKDIR", "@2.dir/sub"},
                                                             {"RECORDER_HARDLINK", "taken<@1"},
                                                             {"RECORDER_SYMLINK", "link<nowhere"}});
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "big"), 4294967297u);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "big.dir/sub"));
  harness::writeFile(dir_ / "source", "XPK changed");
  EXPECT_EQ(harness::readFile(dir_ / "taken"), "XPK changed");
  // A Windows program makes no symbolic link under wine.
  EXPECT_EQ(harness::exists(dir_ / "link"), !harness::kWindows);

  EXPECT_EQ(
      run({"taken", "other"}, {{"RECORDER_BEGINS", "@1=XPKD"}, {"RECORDER_CREATE", "@2"}}).exitCode,
      9);
  EXPECT_FALSE(harness::exists(dir_ / "other"));
}

TEST_F(Recorder, ListsTheTreeWhenAsked) {
  harness::writeFile(dir_ / "d/inner", "");
  ASSERT_EQ(run({}, {{"RECORDER_LIST", "1"}}).exitCode, 0);
  const auto records = readRecords(dir_ / "records");
  ASSERT_EQ(records.size(), 1u);
  const std::string self = std::filesystem::path(program_).filename().string();
  EXPECT_EQ(records[0].files, (std::vector<std::string>{"d/", "d/inner", self}));
}

}  // namespace
