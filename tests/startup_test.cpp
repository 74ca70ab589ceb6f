// Black-box tests of a run's start and close: usage, fatal stops, the log
// frame and report, list files, hostile input, and where programs are found.
//
// Every run goes through runZelm, which kills a run after its own deadline,
// so a hang fails one test quickly instead of the whole suite.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace {

using harness::crlf;
using harness::locatedRecorder;
using harness::maskTimes;
using harness::native;
using harness::readRecords;
using harness::RecorderRecord;
using harness::report;
using harness::TempDir;
using harness::ZelmResult;
using harness::ZelmRun;

const std::string kUsageBody =
    "Use:\n"
    " ZELM [ArcName] [Mask] [@FileList] [switches]\n"
    " /packer - name of packer\n"
    " /id     - detect by ID\n"
    " /ext    - detect by Extension\n"
    " /r[-]   - convert archives in subdirectories\n"
    " /k[+]   - keep archive time\n"
    " /t[-]   - test archive\n"
    " /d:[Drive:][Path] - destination directory\n"
    " /md     - make description\n"
    " /d[+]   - update description\n"
    " /?      - brief help\n"
    "\n";

// Two packers told apart by extension: XPK is unpacked by `xpk x`, YPK, the
// target, is packed by `ypk a`.
const std::string kPackers =
    "DefaultPacker YPK\n"
    "Detect Ext\n"
    "ID\n"
    "Ext XPK\n"
    "Unpack xpk x\n"
    "ID\n"
    "Ext YPK\n"
    "Pack ypk a\n";

const std::string kEmptyReport = report(0, 0, 0, 0, 0);

const std::string kHeader = ";Log file ZELM utility, opened <time>\n";
const std::string kFooter = "\n;Log file ZELM utility, closed <time>\n\n";

size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// A start directory `work`, a PATH directory `bin` holding the recorder as
// xpk and ypk, and a record file. The pack step creates the archive it is
// asked for (its last argument).
class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    harness::installRecorder(bin(), "xpk");
    harness::installRecorder(bin(), "ypk");
    harness::writeFile(work("keep"), "");
  }

  std::string bin() const { return root_ / "bin"; }
  std::string work(const std::string& name = "") const {
    return name.empty() ? root_ / "work" : root_ / ("work/" + name);
  }
  std::string records() const { return root_ / "records"; }

  ZelmResult run(std::optional<std::string> config, std::vector<std::string> args,
                 std::map<std::string, std::optional<std::string>> env = {}) const {
    ZelmRun run;
    run.config = std::move(config);
    run.args = std::move(args);
    run.cwd = work();
    run.env = {{"PATH", bin()},
               {"RECORDER_LOG", records()},
               {"RECORDER_CREATE_ypk", "@-1"},
               {"RECORDER_CREATE_ypk.EXE", "@-1"}};
    for (auto& [name, value] : env) run.env[name] = value;
    return harness::runZelm(run);
  }

  std::vector<std::string> rolesRun() const {
    std::vector<std::string> roles;
    for (const auto& record : readRecords(records())) roles.push_back(record.role());
    return roles;
  }

  std::optional<RecorderRecord> recordOf(const std::string& role) const {
    for (const auto& record : readRecords(records())) {
      if (record.role() == role) return record;
    }
    return std::nullopt;
  }

  TempDir root_;
};

TEST_F(Startup, UsageTextEndsTheRunWithExitZero) {
  const std::tuple<std::optional<std::string>, std::vector<std::string>> rows[] = {
      {kPackers + "Log Yes\n", {}},
      {std::nullopt, {}},
      {std::nullopt, {"/?"}},
      {kPackers + "Log Yes\n", {"a.xpk", "/r", "/ypk", "/?"}},
      {kPackers, {"/?", "/no-such-switch"}},
  };
  for (const auto& [config, args] : rows) {
    const ZelmResult result = run(config, args);
    const std::string label = "args: " + ::testing::PrintToString(args) +
                              (config ? "" : " without zelm.cfg") + "\n" + describe(result);
    EXPECT_EQ(result.exitCode, 0) << label;
    ASSERT_EQ(result.out.rfind("Zelm. Version 1.30", 0), 0u) << label;
    const size_t secondLine = result.out.find('\n') + 1;
    const size_t thirdLine = result.out.find('\n', secondLine) + 1;
    EXPECT_GT(thirdLine, secondLine + 1) << "contact line missing; " << label;
    EXPECT_EQ(result.out.substr(thirdLine), kUsageBody) << label;
    EXPECT_EQ(result.log, std::nullopt) << label;
    EXPECT_TRUE(rolesRun().empty()) << label;
  }
}

TEST_F(Startup, CommandLineErrorComesBeforeAnyOtherCheck) {
  const std::tuple<std::optional<std::string>, std::vector<std::string>> rows[] = {
      {std::nullopt, {"/ypk"}},
      {kPackers, {"/nope", "a.xpk"}},
      {kPackers, {"a.xpk", "/bogus", "/?"}},
      {kPackers, {"a.xpk", "/r+x"}},
      {kPackers, {"a.xpk", "/"}},
  };
  for (const auto& [config, args] : rows) {
    const ZelmResult result = run(config, args);
    const std::string label = "args: " + ::testing::PrintToString(args) + "\n" + describe(result);
    EXPECT_EQ(result.exitCode, 1) << label;
    EXPECT_EQ(result.out, "Command line error.\n") << label;
    EXPECT_EQ(result.log, std::nullopt) << label;
  }
}

TEST_F(Startup, FatalStartUpChecksPrintTheirLineAndExitOne) {
  harness::writeFile(work("plain"), "not a program");
  const std::string noTarget =
      "Log Yes\nDetect Ext\nID\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack ypk a\n";
  struct Row {
    std::optional<std::string> config;
    std::vector<std::string> args;
    std::string out;
  };
  const Row rows[] = {
      {std::nullopt, {"a.xpk"}, "Can't open ZELM.CFG\n\n"},
      {std::nullopt, {"-r", "/r", "/k-"}, "Can't open ZELM.CFG\n\n"},
      {kPackers + "Log Yes\n", {"/ypk"}, "No arhives to process.\n\n"},
      {kPackers + "Log Yes\n", {"/r", "/d:out"}, "No arhives to process.\n\n"},
      {noTarget, {"a.xpk"}, "Unknown packer.\n\n"},
      {noTarget + "DefaultPacker ZPK\n", {"a.xpk"}, "Unknown packer.\n\n"},
      {kPackers + "Log Yes\n", {"/xpk", "a.xpk"}, "Unknown packer.\n\n"},
      {kPackers + "Log Yes\nPack\n", {"a.xpk"}, "Packer not found.\n\n"},
      {kPackers + "Log Yes\nPack nowhere-to-be-found a\n", {"a.xpk"}, "Packer not found.\n\n"},
      {kPackers + "Log Yes\nPack plain a\n", {"a.xpk"}, "Packer not found.\n\n"},
      {kPackers + "Log Yes\nPack bin\n", {"a.xpk"}, "Packer not found.\n\n"},
  };
  harness::writeFile(work("a.xpk"), "archive");
  for (const auto& row : rows) {
    // Without execute bits, a data file named like a program is one on Windows.
    if (harness::kWindows && row.config && row.config->find("Pack plain") != std::string::npos) {
      continue;
    }
    const ZelmResult result = run(row.config, row.args, {{"PATH", bin()}});
    const std::string label = "args: " + ::testing::PrintToString(row.args) +
                              "\nconfig: " + row.config.value_or("(none)") + "\n" +
                              describe(result);
    EXPECT_EQ(result.exitCode, 1) << label;
    EXPECT_EQ(result.out, row.out) << label;
    EXPECT_EQ(result.log, std::nullopt) << "the log opens only after the checks; " << label;
  }
  EXPECT_TRUE(rolesRun().empty());
  EXPECT_TRUE(harness::exists(work("a.xpk")));
}

TEST_F(Startup, ARunWithNothingToDoWritesTheLogFrameAndTheReport) {
  const ZelmResult result = run(kPackers + "Log Yes\n", {"nothing.*"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, kEmptyReport);
  EXPECT_EQ(result.err, "");
  ASSERT_TRUE(result.log) << describe(result);
  EXPECT_EQ(maskTimes(*result.log),
            crlf(kHeader + "\nSearch nothing.*...\n" + kFooter + kEmptyReport));
  const std::string time =
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\r\n";
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(*result.log, "opened " + time)) << *result.log;
  EXPECT_TRUE(::testing::internal::RE::PartialMatch(*result.log, "closed " + time)) << *result.log;
}

TEST_F(Startup, WithoutLogYesNoLogFileIsMade) {
  for (const char* config : {"", "Log No\n", "Log=Yes\n", " Log Yes\n"}) {
    const ZelmResult result = run(kPackers + config, {"nothing.*"});
    EXPECT_EQ(result.exitCode, 0) << config << describe(result);
    EXPECT_EQ(result.out, kEmptyReport) << config;
    EXPECT_EQ(result.log, std::nullopt) << config;
  }
}

TEST_F(Startup, EveryRunAppendsToTheSameLog) {
  TempDir binDir;
  ZelmRun first;
  first.config = kPackers + "Log Yes\n";
  first.args = {"first.*"};
  first.cwd = work();
  first.env = {{"PATH", bin()}};
  first.binDir = binDir.path();
  ZelmRun second = first;
  second.args = {"second.*"};
  ASSERT_EQ(harness::runZelm(first).exitCode, 0);
  const ZelmResult result = harness::runZelm(second);
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  ASSERT_TRUE(result.log);
  const std::string one = kHeader + "\nSearch first.*...\n" + kFooter + kEmptyReport;
  const std::string two = kHeader + "\nSearch second.*...\n" + kFooter + kEmptyReport;
  EXPECT_EQ(maskTimes(*result.log), crlf(one + two));
}

TEST_F(Startup, CommandLineNamesAreSearchedBeforeListFiles) {
  harness::writeFile(work("names.lst"), "");
  const ZelmResult result =
      run(kPackers + "Log Yes\n", {"@names.lst", "one.*", "@missing.lst", "two.*"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, kEmptyReport);
  ASSERT_TRUE(result.log);
  EXPECT_EQ(
      maskTimes(*result.log),
      crlf(kHeader + "\nSearch one.*...\n\nSearch two.*...\n\nScanning @names.lst...\n" +
           "\nScanning @missing.lst...\nCan't open:    @missing.lst\n" + kFooter + kEmptyReport));
}

TEST_F(Startup, AMissingListFileStopsOnlyWithBreakOnError) {
  const ZelmResult result = run(kPackers + "Log Yes\nBreakOnError Yes\n", {"@missing.lst"});
  EXPECT_EQ(result.exitCode, 1) << describe(result);
  EXPECT_EQ(result.out, "Can't open file.\n");
  ASSERT_TRUE(result.log);
  EXPECT_EQ(maskTimes(*result.log),
            crlf(kHeader + "\nScanning @missing.lst...\nCan't open:    @missing.lst\n"));
}

// The conversions of a run tell which names the search was given.
class ListFile : public Startup {
 protected:
  std::vector<std::string> unpacked() const {
    std::vector<std::string> names;
    for (const auto& record : readRecords(records())) {
      if (record.role() == "xpk" && !record.argv.empty()) names.push_back(record.argv.back());
    }
    return names;
  }
};

TEST_F(ListFile, ALongLineArrivesIn79BytePieces) {
  const std::string name79 = std::string(75, 'a') + ".xpk";
  const std::string name21 = std::string(17, 'c') + ".xpk";
  for (const auto& name : {name79, name21, name79 + name21}) {
    harness::writeFile(work(name), "archive");
  }
  harness::writeFile(work("list"), name79 + name21 + "\n");
  const ZelmResult result = run(kPackers, {"@list"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(unpacked(), (std::vector<std::string>{native("../" + name79), native("../" + name21)}));
  EXPECT_EQ(result.out, report(2, 0, 0, 14, 8));
}

TEST_F(ListFile, TextModeLinesFirstWordsAndTheEndByte) {
  for (const char* name : {"one.xpk", "two.xpk", "three.xpk", "after.xpk"}) {
    harness::writeFile(work(name), "archive");
  }
  harness::writeFile(work("list"),
                     "one.xpk\r\n\r\n two.xpk\ntwo.xpk rest of line\r\nthree.xpk\tx\x1A"
                     "after.xpk\n");
  const ZelmResult result = run(kPackers, {"@list"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(unpacked(), (std::vector<std::string>{native("../one.xpk"), native("../two.xpk"),
                                                  native("../three.xpk")}));
  EXPECT_TRUE(harness::exists(work("after.xpk")));
}

TEST_F(Startup, HostileConfigurationsDoNotCrash) {
  std::string garbage;
  for (int byte = 0; byte < 256; ++byte) {
    if (byte != 0x1A) garbage += char(byte);
  }
  garbage += "\n" + std::string(300, '\0') + "\n\xFF\xFF\xFF\r\r\rID\xFF\n\r\n";
  const std::string longHex = [] {
    std::string digits;
    while (digits.size() < 100) digits += "0123456789";
    return digits;
  }();
  const std::pair<std::string, std::string> rows[] = {
      {"10,000-byte line", std::string(10000, 'x') + "\n" + kPackers},
      {"10,000-byte key lines",
       kPackers + "Exec " + std::string(10000, 'e') + "\nLog " + std::string(10000, 'Y') + "\n"},
      {"NUL and 0xFF garbage", garbage + kPackers},
      {"no line end at all", kPackers + "Log Yes"},
      {"100 hex digits", kPackers + "ID 00 " + longHex + "\nExt ZPK\n"},
      {"100-digit offset", kPackers + "ID " + longHex + " 41\nExt ZPK\n"},
      {"65 packers",
       [] {
         std::string many;
         for (int i = 0; i < 70; ++i) many += "ID 00 41\nExt P" + std::to_string(i) + "\n";
         return many + kPackers;
       }()},
  };
  for (const auto& [label, config] : rows) {
    const ZelmResult result = run(config, {"nothing.*"});
    EXPECT_EQ(result.exitCode, 0) << label << "\n" << describe(result);
    EXPECT_EQ(result.out, kEmptyReport) << label;
  }
}

TEST_F(Startup, HostileArgumentsDoNotCrash) {
  const std::string huge(10000, 'n');
  struct Row {
    std::string label;
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  const Row rows[] = {
      {"10,000-byte name", {huge}, 0, kEmptyReport},
      {"10,000-byte name with directories",
       {"d/" + huge + "/x/" + huge + "*.xpk"},
       0,
       kEmptyReport},
      {"10,000-byte switch", {"a.xpk", "/" + huge}, 1, "Command line error.\n"},
      {"10,000-byte destination",
       {"/d:" + huge, "nothing.*"},
       1,
       "Can't make destination: " + harness::native(work(huge)) + "\n"},
      {"10,000-byte list file", {"@" + huge}, 0, kEmptyReport},
      {"empty argument", {""}, 0, kEmptyReport},
      {"bytes outside ASCII", {"\xFF\xFE\x01*.xpk"}, 0, kEmptyReport},
  };
  for (const auto& row : rows) {
    const ZelmResult result = run(kPackers, row.args);
    EXPECT_EQ(result.exitCode, row.exitCode) << row.label << "\n" << describe(result);
    EXPECT_EQ(result.out, row.out) << row.label;
  }
}

TEST_F(Startup, AThousandNamesAndListFilesAreAllHandled) {
  std::vector<std::string> args;
  for (int i = 0; i < 1000; ++i) args.push_back("name" + std::to_string(i) + ".*");
  for (int i = 0; i < 1000; ++i) args.push_back("@list" + std::to_string(i));
  const ZelmResult result = run(kPackers + "Log Yes\n", args);
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, kEmptyReport);
  ASSERT_TRUE(result.log);
  EXPECT_EQ(countOf(*result.log, "\r\nSearch name"), 1000u);
  EXPECT_EQ(countOf(*result.log, "\r\nCan't open:    @list"), 1000u);
  EXPECT_NE(result.log->find("\r\nSearch name999.*...\r\n"), std::string::npos);
  EXPECT_NE(result.log->find("\r\nCan't open:    @list999\r\n"), std::string::npos);
}

TEST_F(Startup, ASignatureOfMoreThan16BytesUsesTheFirst16) {
  std::string hex;
  while (hex.size() < 100) hex += "0123456789";
  const std::string config =
      "DefaultPacker YPK\nID 00 " + hex + "\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack ypk a\n";
  const std::string sixteen = "\x01\x23\x45\x67\x89\x01\x23\x45\x67\x89\x01\x23\x45\x67\x89\x01";
  harness::writeFile(work("match.bin"), sixteen + "anything after");
  harness::writeFile(work("short.bin"), sixteen.substr(0, 15) + "?");
  const ZelmResult result = run(config, {"*.bin"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  const auto unpack = recordOf("xpk");
  ASSERT_TRUE(unpack);
  EXPECT_EQ(unpack->argv,
            (std::vector<std::string>{locatedRecorder(bin(), "xpk"), "x", native("../match.bin")}));
  EXPECT_EQ(rolesRun(), (std::vector<std::string>{"xpk", "ypk"}));
}

TEST_F(Startup, APackProgramInTheStartDirectoryIsRunByItsAbsolutePath) {
  harness::installRecorder(work(), "ypk");
  harness::writeFile(work("old.xpk"), "archive");
  const ZelmResult result = run(kPackers, {"old.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 7, 4));
  const auto pack = recordOf("ypk");
  ASSERT_TRUE(pack);
  EXPECT_EQ(pack->argv,
            (std::vector<std::string>{locatedRecorder(work(), "ypk"), "a", native("../old.YPK")}));
  EXPECT_EQ(pack->cwd, native(work("$TMP$.001")));
}

TEST_F(Startup, APackProgramIsFoundAlongPathPastEmptyEntriesAndDataFiles) {
  harness::writeFile(work("ypk"), "a data file, not a program");
  harness::writeFile(work("old.xpk"), "archive");
  const ZelmResult result = run(kPackers, {"old.xpk"}, {{"PATH", "::" + bin() + "::"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 7, 4));
  const auto pack = recordOf("ypk");
  ASSERT_TRUE(pack);
  EXPECT_EQ(pack->argv, (std::vector<std::string>{bin() + "/ypk", "a", "../old.YPK"}));
}

TEST_F(Startup, APackProgramIsFoundByItsExeName) {
  TempDir other;
  harness::installRecorder(other.path(), "xpk");
  harness::installRecorder(other.path(), "ypk.EXE");
  harness::writeFile(work("old.xpk"), "archive");
  const ZelmResult result = run(kPackers, {"old.xpk"}, {{"PATH", other.path()}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  // Windows programs play their role without the extension.
  const auto pack = recordOf(harness::kWindows ? "ypk" : "ypk.EXE");
  ASSERT_TRUE(pack);
  EXPECT_EQ(pack->argv,
            (std::vector<std::string>{native(other / "ypk.EXE"), "a", native("../old.YPK")}));
}

TEST_F(Startup, WithoutPathOnlyTheStartDirectoryIsSearched) {
  harness::installRecorder(work(), "ypk");
  harness::installRecorder(work(), "xpk");
  harness::writeFile(work("old.xpk"), "archive");
  const ZelmResult result = run(kPackers + "Log Yes\n", {"old.xpk"}, {{"PATH", std::nullopt}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  // The unpack program is looked for inside the work directory, where a bare
  // name never means the current directory.
  EXPECT_EQ(result.out, report(0, 1, 0, 0, 0));
  EXPECT_TRUE(rolesRun().empty());
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("Can't run unpacker:  xpk\r\nConvert error:       " +
                             native(work("old.xpk")) + "\r\n"),
            std::string::npos)
      << *result.log;
  EXPECT_TRUE(harness::exists(work("old.xpk")));
}

TEST_F(Startup, AFailingExecEntryIsReportedOnConsoleAndLog) {
  harness::installRecorder(bin(), "xrun");
  harness::writeFile(work("old.xpk"), "archive");
  const ZelmResult result = run(kPackers + "Log Yes\nExec xrun -flag  \"two words\"\n", {"old.xpk"},
                                {{"RECORDER_EXIT_xrun", "3"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, "Exec error:          xrun -flag  \"two words\"\n" + report(0, 1, 0, 0, 0));
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("\r\nExec error:          xrun -flag  \"two words\"\r\n"
                             "Convert error:       " +
                             native(work("old.xpk")) + "\r\n"),
            std::string::npos)
      << *result.log;
  EXPECT_EQ(rolesRun(), (std::vector<std::string>{"xpk", "xrun"}));
  const auto exec = recordOf("xrun");
  ASSERT_TRUE(exec);
  EXPECT_EQ(exec->argv,
            (std::vector<std::string>{locatedRecorder(bin(), "xrun"), "-flag", "two words"}));
  EXPECT_EQ(exec->cwd, native(work("$TMP$.001")));
  EXPECT_TRUE(harness::exists(work("old.xpk")));
}

TEST_F(Startup, ASucceedingExecEntryPrintsNothing) {
  harness::installRecorder(bin(), "xrun");
  harness::writeFile(work("old.xpk"), "archive");
  const ZelmResult result = run(kPackers + "Exec xrun\nExec -xrun never\n", {"old.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 7, 4));
  EXPECT_EQ(rolesRun(), (std::vector<std::string>{"xpk", "xrun", "ypk"}));
}

TEST_F(Startup, AnExecProgramFromTheArchiveIsNeverRun) {
  harness::writeFile(work("old.xpk"), "archive");
  // The unpack step leaves a program named like the Exec entry in the work
  // directory; an empty PATH entry must not make the work directory count.
  const std::string unpackEvil = std::string("evil<") + RECORDER_BINARY;
  ZelmResult result = run(kPackers + "Exec evil\n", {"old.xpk"},
                          {{"PATH", ":" + bin() + ":"}, {"RECORDER_CREATE_xpk", unpackEvil}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, "Exec error:          evil\n" + report(0, 1, 0, 0, 0));
  EXPECT_EQ(rolesRun(), (std::vector<std::string>{"xpk"}));

  // Named by an absolute PATH entry, the same work directory is searched.
  result = run(kPackers + "Exec evil\n", {"old.xpk"},
               {{"PATH", bin() + ":" + work("$TMP$.001")}, {"RECORDER_CREATE_xpk", unpackEvil}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 7, 4));
  EXPECT_EQ(rolesRun(), (std::vector<std::string>{"xpk", "xpk", "evil", "ypk"}));
}

}  // namespace
