// Black-box tests of what keeps a conversion trustworthy when its packers
// are not: the round-trip check, the time limit, stop signals, a console that
// went away, the log, and a link left in the new archive's place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "harness.h"

namespace {

using harness::crlf;
using harness::listTree;
using harness::maskTimes;
using harness::readFile;
using harness::report;
using harness::writeFile;
using harness::ZelmResult;
using harness::ZelmRun;
using Env = std::map<std::string, std::optional<std::string>>;
using Names = std::vector<std::string>;

// XPK archives are unpacked by `xpk x`; YPK, the target, is packed by
// `ypk a` and unpacked by `yun x`.
const std::string kPackers =
    "ID\nExt XPK\nUnpack xpk x\n"
    "ID\nExt YPK\nPack ypk a\nUnpack yun x\n";
const std::string kConfig = "DefaultPacker YPK\nDetect Ext\nLog Yes\nVerify Yes\n" + kPackers;

const std::string kShellPath = "PATH=/usr/bin:/bin\n";

// By default the source unpacks to two files, the packer makes the archive it
// is given, and the target's unpacker gives the same two files back.
class Trust : public ::testing::Test, public harness::Scene {
 protected:
  Trust()
      : harness::Scene({"xpk", "ypk", "yun"}, {{"RECORDER_CREATE_xpk", "content.txt:sub/deep.txt"},
                                               {"RECORDER_CREATE_ypk", "@2"},
                                               {"RECORDER_CREATE_yun", "content.txt:sub/deep.txt"},
                                               {"RECORDER_CONTENT", "same\n"}}) {}

  void SetUp() override { writeFile(work("old.xpk"), "source bytes"); }

  // The log after the header and the Search line, without the close-out.
  std::string logBody(const ZelmResult& result) const {
    const std::string log = result.log.value_or("");
    const std::string search = crlf("Search old.xpk...\n");
    const size_t start = log.find(search);
    if (start == std::string::npos) return log;
    const size_t end = log.find(crlf("\n;Log file ZELM utility, closed"));
    return log.substr(start + search.size(), end - start - search.size());
  }
};

TEST_F(Trust, VerificationCatchesEveryWayAPackerLosesAMember) {
  struct Row {
    std::string label;
    Env env;
    std::string difference;  // empty: the conversion succeeds
    std::string config = kConfig;
  };
  const Row rows[] = {
      {"faithful", {}, ""},
      {"drops one",
       {{"RECORDER_CREATE_yun", "sub/deep.txt"}},
       "content.txt: missing from the new archive"},
      {"adds one",
       {{"RECORDER_CREATE_yun", "content.txt:sub/deep.txt:sub/extra.txt"}},
       "sub/extra.txt: in the new archive but never packed"},
      {"renames one",
       {{"RECORDER_CREATE_yun", "content.txt:sub/Deep.txt"}},
       "sub/Deep.txt: in the new archive but never packed"},
      {"changes one byte",
       {{"RECORDER_CONTENT_yun", "samf\n"}},
       "content.txt: other bytes of the same size come back"},
      {"unpack fails",
       {{"RECORDER_EXIT_yun", "3"}},
       "unpacking the new archive failed with exit code 3"},
      // What the packer was given counts, even when it moved the files away.
      {"packer moves the files away",
       {{"RECORDER_REMOVE_ypk", "content.txt:sub/deep.txt:sub"}, {"RECORDER_CREATE_yun", ""}},
       "content.txt: missing from the new archive"},
      {"without Verify nothing is unpacked again",
       {{"RECORDER_CREATE_yun", ""}},
       "",
       "DefaultPacker YPK\nDetect Ext\nLog Yes\n" + kPackers},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    writeFile(work("old.xpk"), "source bytes");
    std::filesystem::remove(work("old.YPK"));
    std::filesystem::remove(root("records"));
    const ZelmResult result = run(row.config, {"old.xpk"}, row.env);
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    const std::string source = work("old.xpk");
    if (row.difference.empty()) {
      EXPECT_EQ(result.out, report(1, 0, 0, 12, 5));
      EXPECT_EQ(workTree(), Names{"old.YPK"});
      EXPECT_EQ(logBody(result), crlf("Convert successfull: " + harness::native(source) + "\n"));
      const Names verifyRuns =
          row.config == kConfig ? Names{"xpk", "ypk", "yun"} : Names{"xpk", "ypk"};
      EXPECT_EQ(roles(), verifyRuns);
      if (row.config != kConfig) continue;
      // The second unpack has its own work directory beside the first.
      const auto yun = runsOf("yun");
      ASSERT_EQ(yun.size(), 1u);
      EXPECT_EQ(yun[0].cwd, harness::native(work("$TMP$.002")));
      EXPECT_EQ(yun[0].argv, (Names{harness::locatedRecorder(bin(), "yun"), "x",
                                    harness::native("../old.YPK")}));
      continue;
    }
    EXPECT_EQ(result.out, report(0, 1, 0, 0, 0));
    // The unproven archive and both work directories are gone.
    EXPECT_EQ(workTree(), Names{"old.xpk"});
    EXPECT_EQ(readFile(source), "source bytes");
    EXPECT_EQ(logBody(result),
              crlf("Verify error:       " + harness::native(source) + "\n                    " +
                   row.difference + "\nConvert error:       " + harness::native(source) + "\n"));
  }
}

TEST_F(Trust, AFailedVerificationStopsARunWithBreakOnError) {
  const ZelmResult result =
      run(kConfig + "BreakOnError Yes\n", {"old.xpk"}, {{"RECORDER_CREATE_yun", "sub/deep.txt"}});
  EXPECT_EQ(result.exitCode, 1) << describe(result);
  EXPECT_EQ(result.out, "Can't verify archive.\n");
  // A fatal stop leaves the conversion's work directory, never the archive.
  EXPECT_EQ(workTree(), (Names{"$TMP$.001/", "$TMP$.001/content.txt", "$TMP$.001/sub/",
                               "$TMP$.001/sub/deep.txt", "old.xpk"}));
  EXPECT_EQ(logBody(result), crlf("Verify error:       " + harness::native(work("old.xpk")) +
                                  "\n                    content.txt: missing from the new "
                                  "archive\n"));
}

TEST_F(Trust, AProgramPastItsTimeLimitIsStoppedWithEverythingItStarted) {
  // Both sleepers hold the console: one left running would hang the run.
  // The archive begun before the limit is no result and goes.
  const ZelmResult result = run(kConfig + "Timeout 1\n", {"old.xpk"},
                                {{"RECORDER_SLEEPER_ypk", "60"}, {"RECORDER_HANG_ypk", "60"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(0, 1, 0, 0, 0));
  EXPECT_EQ(workTree(), Names{"old.xpk"});
  EXPECT_EQ(logBody(result),
            crlf("Timeout:            " + program("ypk") +
                 "\nConvert error:       " + harness::native(work("old.xpk")) + "\n"));
}

TEST_F(Trust, ADescriptionFromAProgramPastItsLimitIsNeverCatalogued) {
  const ZelmResult result =
      run(kConfig + "Timeout 1\nDescfiles files.bbs\nFileorder FILE_ID.DIZ\n", {"old.xpk", "/md"},
          {{"RECORDER_CREATE_xpk", "FILE_ID.DIZ"},
           {"RECORDER_CONTENT_xpk", "half a descr"},
           {"RECORDER_HANG_xpk", "60"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), "");
  EXPECT_EQ(logBody(result), crlf("Timeout:            " + program("xpk") + "\n"));
}

TEST_F(Trust, AStopSignalEndsTheRunCleanly) {
  writeFile(work("two.xpk"), "second source");
  // Under wine a Ctrl-C is the one stop that reaches a Windows program.
  const std::vector<int> stops =
      harness::kWindows ? std::vector<int>{SIGINT} : std::vector<int>{SIGINT, SIGTERM, SIGHUP};
  for (const int signal : stops) {
    SCOPED_TRACE("signal " + std::to_string(signal));
    writeFile(work("old.xpk"), "source bytes");
    std::filesystem::remove(root("unpacking"));
    // The signals come while the new archive is being unpacked again: it
    // exists, but its success was never logged.
    ZelmRun zelm;
    zelm.args = {"*.xpk"};
    zelm.env = {{"RECORDER_LOG_yun", root("unpacking")}, {"RECORDER_SLEEP_yun", "60"}};
    zelm.signals = {{signal, root("unpacking")}};
    const ZelmResult result = runWith(kConfig, zelm);
    EXPECT_EQ(result.exitCode, 128 + signal) << describe(result);
    EXPECT_TRUE(harness::exists(root("unpacking")));
    EXPECT_EQ(workTree(), (Names{"old.xpk", "two.xpk"}));
    EXPECT_EQ(readFile(work("old.xpk")), "source bytes");
    EXPECT_EQ(result.out, report(0, 0, 0, 0, 0));
    EXPECT_EQ(maskTimes(result.log.value_or("")),
              crlf(";Log file ZELM utility, opened <time>\n\nSearch *.xpk...\nInterrupted.\n"
                   "\n;Log file ZELM utility, closed <time>\n\n") +
                  crlf(report(0, 0, 0, 0, 0)));
  }
}

TEST_F(Trust, ASecondStopSignalEndsTheRunAtOnce) {
  // A packer group that will not end when asked. The second signal comes
  // once zelm has asked it: it must not wait for it, nor leave it running.
  harness::makeScript(bin() + "/ypk", kShellPath + "trap '' TERM\nsleep 60 &\ntrap ': > \"" +
                                          root("asked") + "\"' TERM\n: > '" + root("packing") +
                                          "'\nwhile :; do wait; done\n");
  ZelmRun zelm;
  zelm.args = {"old.xpk"};
  zelm.signals = {{SIGINT, root("packing")}, {SIGINT, root("asked")}};
  const ZelmResult result = runWith(kConfig, zelm);
  EXPECT_FALSE(result.timedOut) << describe(result);
  EXPECT_EQ(result.signal, SIGINT) << describe(result);
  EXPECT_EQ(readFile(work("old.xpk")), "source bytes");
}

TEST_F(Trust, AClosedConsoleNeverEndsTheRun) {
  ZelmRun zelm;
  zelm.args = {"old.xpk"};
  zelm.closedConsole = true;
  const ZelmResult result = runWith(kConfig, zelm);
  EXPECT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(workTree(), Names{"old.YPK"});
  EXPECT_NE(result.log.value_or("").find(crlf(report(1, 0, 0, 12, 5))), std::string::npos)
      << describe(result);
}

TEST_F(Trust, ALinkLeftWhereTheArchiveShouldBeFailsAndIsNeverTimed) {
  const std::string victim = root("outside/victim.txt");
  writeFile(victim, "not an archive");
  harness::setMtime(victim, harness::localTime(2001, 2, 3, 4, 5, 6));
  harness::makeScript(bin() + "/ypk", kShellPath + "ln -s '" + victim + "' \"$2\"\n");
  const ZelmResult result =
      run("DefaultPacker YPK\nDetect Ext\nKeepTime Yes\n" + kPackers, {"old.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(0, 1, 0, 0, 0));
  EXPECT_EQ(readFile(work("old.xpk")), "source bytes");
  EXPECT_EQ(readFile(victim), "not an archive");
  EXPECT_EQ(harness::mtimeOf(victim), harness::localTime(2001, 2, 3, 4, 5, 6));
}

TEST_F(Trust, TheLogIsWrittenThroughItsLinkOrMissedOnceOnTheConsole) {
  harness::TempDir binDir;
  // A log beside the binary that is a link to the user's own file.
  writeFile(root("logs/zelm.log"), "earlier\r\n");
  ASSERT_EQ(::symlink(root("logs/zelm.log").c_str(), (binDir / "zelm.log").c_str()), 0);
  ZelmRun zelm;
  zelm.args = {"old.xpk"};
  zelm.binDir = binDir.path();
  ZelmResult result = runWith(kConfig, zelm);
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 12, 5));
  EXPECT_EQ(readFile(root("logs/zelm.log")).rfind("earlier\r\n;Log file ZELM utility, opened", 0),
            0u);
  EXPECT_EQ(listTree(root("logs")), Names{"zelm.log"});

  // A log that cannot be opened is said once; the run goes on.
  std::filesystem::remove(binDir / "zelm.log");
  std::filesystem::create_directory(binDir / "zelm.log");
  writeFile(work("old.xpk"), "source bytes");
  result = runWith(kConfig, zelm);
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, "Can't open log file: " + harness::native(binDir / "zelm.log") + "\n" +
                            report(1, 0, 0, 12, 5));
}

}  // namespace
