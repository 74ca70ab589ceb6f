// Black-box tests of descriptions: catalogs made with /md from the
// description files the unpacker extracts, file_id.diz in converted
// archives, and catalog lines carried over by a conversion.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "harness.h"

namespace {

using harness::crlf;
using harness::locatedRecorder;
using harness::native;
using harness::readFile;
using harness::readRecords;
using harness::RecorderRecord;
using harness::TempDir;
using harness::ZelmResult;
using harness::ZelmRun;

// XPK archives are unpacked by `xpk x`, YPK is the target, packed by `ypk a`
// and unpacked by `ypk x`. Both tell their archives by extension.
const std::string kConfig =
    "DefaultPacker YPK\n"
    "Detect Ext\n"
    "Log Yes\n"
    "Descfiles files.bbs\n"
    "ID\n"
    "Ext XPK\n"
    "Unpack xpk x\n"
    "ID\n"
    "Ext YPK\n"
    "Pack ypk a\n"
    "Unpack ypk x\n";

// A start directory `work` with the archives, a PATH directory `bin` with the
// recorder as xpk and ypk, and a record file. By default the xpk unpacker
// "extracts" the description file it is asked for with the archive's own
// bytes as its text, so an archive's content is its description.
class Describe : public ::testing::Test {
 protected:
  void SetUp() override {
    harness::installRecorder(bin(), "xpk");
    harness::installRecorder(bin(), "ypk");
    std::filesystem::create_directories(work());
  }

  std::string bin() const { return root_ / "bin"; }
  std::string work(const std::string& name = "") const {
    return name.empty() ? root_ / "work" : root_ / ("work/" + name);
  }
  std::string records() const { return root_ / "records"; }

  ZelmResult run(const std::string& config, std::vector<std::string> args,
                 std::map<std::string, std::optional<std::string>> env = {}) const {
    ZelmRun run;
    run.config = config;
    run.args = std::move(args);
    run.cwd = work();
    run.env = {{"PATH", bin()},
               {"RECORDER_LOG", records()},
               {"RECORDER_CREATE_xpk", "@-1<@-2"},
               {"RECORDER_CREATE_ypk", "@-1"}};
    for (auto& [name, value] : env) run.env[name] = value;
    return harness::runZelm(run);
  }

  std::vector<RecorderRecord> runsOf(const std::string& role) const {
    std::vector<RecorderRecord> out;
    for (const auto& record : readRecords(records())) {
      if (record.role() == role) out.push_back(record);
    }
    return out;
  }

  // The last argument of every run of `role`: the names asked for.
  std::vector<std::string> namesAskedBy(const std::string& role) const {
    std::vector<std::string> out;
    for (const auto& record : runsOf(role)) out.push_back(record.argv.back());
    return out;
  }

  std::vector<std::string> workTree() const { return harness::listTree(work()); }

  TempDir root_;
};

TEST_F(Describe, MakeModeWritesOneLinePerArchiveInListingOrder) {
  harness::writeFile(work("b.xpk"), "Second\n");
  harness::writeFile(work("A.xpk"), "  First   one\n");
  harness::writeFile(work("notes.txt"), "not an archive");
  const std::string config = kConfig + "Fileorder file_id.diz\n";
  const ZelmResult result = run(config, {"*.*", "/md"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, "") << "make mode prints no report";
  const std::string lines = "A.xpk\t First one \nb.xpk\tSecond \n";
  EXPECT_EQ(readFile(work("files.bbs")), crlf(lines));
  EXPECT_EQ(workTree(), (std::vector<std::string>{"A.xpk", "b.xpk", "files.bbs", "notes.txt"}));

  const auto runs = runsOf("xpk");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].argv, (std::vector<std::string>{locatedRecorder(bin(), "xpk"), "x",
                                                    native("../A.xpk"), "file_id.diz"}));
  EXPECT_EQ(runs[0].cwd, native(work("$TMP$.001")));
  EXPECT_EQ(runs[1].cwd, native(work("$TMP$.002")));
  EXPECT_TRUE(runsOf("ypk").empty());

  const ZelmResult again = run(config, {"*.xpk", "/md"});
  ASSERT_EQ(again.exitCode, 0) << describe(again);
  EXPECT_EQ(readFile(work("files.bbs")), crlf(lines + lines));
}

TEST_F(Describe, FileOrderNamesAreTriedInOrderUntilOneComesOut) {
  harness::writeFile(work("a.xpk"), "Found");
  const std::string config = kConfig + "Fileorder descript.ion FILE_ID.DIZ readme\n";
  // Whatever is asked for, the archive holds file_id.diz and readme only.
  const ZelmResult result =
      run(config, {"a.xpk", "/md"}, {{"RECORDER_CREATE_xpk", "file_id.diz<@-2:readme"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), crlf("a.xpk\tFound\n"));
  EXPECT_EQ(namesAskedBy("xpk"), (std::vector<std::string>{"descript.ion", "FILE_ID.DIZ"}));
  EXPECT_EQ(workTree(), (std::vector<std::string>{"a.xpk", "files.bbs"}));
}

TEST_F(Describe, AnEmptyDescriptionFileEndsTheSearchWithoutALine) {
  harness::writeFile(work("a.xpk"), "");
  const ZelmResult result = run(kConfig + "Fileorder file_id.diz readme\n", {"a.xpk", "/md"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), "");
  EXPECT_EQ(namesAskedBy("xpk"), std::vector<std::string>{"file_id.diz"});
  EXPECT_EQ(workTree(), (std::vector<std::string>{"a.xpk", "files.bbs"}));
}

TEST_F(Describe, DescriptionTextsAreFoldedIntoOneCleanLine) {
  std::string mebibyte;
  while (mebibyte.size() < (1u << 20)) mebibyte += "0123456789";
  std::string digits;
  for (int i = 0; i < 10; ++i) digits += "0123456789";
  std::string longLines;
  while (longLines.size() < (1u << 20)) longLines += digits + "\n";
  struct Row {
    std::string content;
    std::string description;
  };
  const Row rows[] = {
      {mebibyte, mebibyte.substr(0, 254)},
      {longLines, digits + " " + digits + " " + digits.substr(0, 52)},
      {std::string("Nul\0\0\0bytes\0", 12), "Nul bytes "},
      {"\n\n\n", "   "},
      {"No line end", "No line end"},
      {"Line one\r\nLine two\r\n", "Line one Line two "},
      {"Kept\x1AIgnored\n", "Kept"},
      {"\xC9\xCD\xBB\n\xBA Hi \xBA\n\xC8\xCD\xBC\n", "  Hi   "},
      {"*** Great === tool ***\n", "* Great = tool * "},
      {"\t\x01\x02", " "},
      {"Caf\xC3\xA9 \xE2\x95\x90\xE2\x95\x90 Tool\n", "Caf\xC3\xA9 Tool "},
      {"Caf\x82 \xCD\xCD Tool\n", "Caf\x82 Tool "},
  };
  for (const Row& row : rows) {
    std::remove(work("files.bbs").c_str());
    harness::writeFile(work("a.xpk"), row.content);
    const ZelmResult result = run(kConfig + "Fileorder file_id.diz\n", {"a.xpk", "/md"});
    const std::string label = "content of " + std::to_string(row.content.size()) +
                              " bytes: " + row.content.substr(0, 40) + "\n" + describe(result);
    ASSERT_EQ(result.exitCode, 0) << label;
    EXPECT_EQ(readFile(work("files.bbs")), crlf("a.xpk\t" + row.description + "\n")) << label;
    EXPECT_EQ(workTree(), (std::vector<std::string>{"a.xpk", "files.bbs"})) << label;
  }
}

TEST_F(Describe, TheCleanerCarriesItsLastCharacterFromArchiveToArchive) {
  harness::writeFile(work("a.xpk"), "Ends with -");
  harness::writeFile(work("b.xpk"), "--Starts with dashes");
  const ZelmResult result = run(kConfig + "Fileorder file_id.diz\n", {"*.xpk", "/md"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), crlf("a.xpk\tEnds with -\nb.xpk\tStarts with dashes\n"));
}

TEST_F(Describe, NamesWithBlanksAndDashesReachTheUnpackerAsOneArgument) {
  harness::writeFile(work("my game.xpk"), "Blank");
  harness::writeFile(work("-rf.xpk"), "Dash");
  const ZelmResult result = run(kConfig + "Fileorder file_id.diz\n", {"*.xpk", "/md"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), crlf("-rf.xpk\tDash\nmy game.xpk\tBlank\n"));
  const auto runs = runsOf("xpk");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].argv, (std::vector<std::string>{locatedRecorder(bin(), "xpk"), "x",
                                                    native("../-rf.xpk"), "file_id.diz"}));
  EXPECT_EQ(runs[1].argv, (std::vector<std::string>{locatedRecorder(bin(), "xpk"), "x",
                                                    native("../my game.xpk"), "file_id.diz"}));
}

TEST_F(Describe, ADescriptionFileThatIsALinkGivesNoDescription) {
  const std::string secret = root_ / "secret.txt";
  harness::writeFile(secret, "Secret text\n");
  harness::makeScript(bin() + "/xpk",
                      "case \"$3\" in\n"
                      "  file_id.diz) ln -s '" +
                          secret +
                          "' file_id.diz ;;\n"
                          "  *) printf 'From readme\\n' > \"$3\" ;;\n"
                          "esac\n");
  harness::writeFile(work("a.xpk"), "archive");
  harness::writeFile(work("b.xpk"), "archive");
  const ZelmResult result = run(kConfig + "Fileorder file_id.diz\n", {"a.xpk", "/md"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), "");

  const ZelmResult second = run(kConfig + "Fileorder file_id.diz readme\n", {"b.xpk", "/md"});
  ASSERT_EQ(second.exitCode, 0) << describe(second);
  EXPECT_EQ(readFile(work("files.bbs")), crlf("b.xpk\tFrom readme \n"));
  EXPECT_EQ(readFile(secret), "Secret text\n");
  EXPECT_EQ(workTree(), (std::vector<std::string>{"a.xpk", "b.xpk", "files.bbs"}));
}

TEST_F(Describe, AMissingUnpackerIsLoggedOrStopsTheRun) {
  harness::writeFile(work("a.xpk"), "Text");
  harness::writeFile(work("a.zpk"), "Text");
  const std::string config = kConfig + "Fileorder file_id.diz\nID\nExt ZPK\n";
  struct Row {
    std::string config;
    std::string input;
    int exitCode;
    std::string out;
    std::string logLine;
  };
  const Row rows[] = {
      {config, "a.zpk", 0, "", "Unknown unpacker:     a.zpk\n"},
      {config + "BreakOnError Yes\n", "a.zpk", 1, "Unknown unpacker.\n",
       "Unknown unpacker:     a.zpk\n"},
      {"ID\nExt XPK\nUnpack nothere x\n" + config, "a.xpk", 0, "",
       "Can't run unpacker:  nothere\n"},
      {"ID\nExt XPK\nUnpack nothere x\n" + config + "BreakOnError Yes\n", "a.xpk", 1, "\n",
       "Can't run unpacker:  nothere\n"},
  };
  for (const Row& row : rows) {
    std::remove(work("files.bbs").c_str());
    const ZelmResult result = run(row.config, {row.input, "/md"});
    const std::string label = row.input + " with\n" + row.config + describe(result);
    EXPECT_EQ(result.exitCode, row.exitCode) << label;
    EXPECT_EQ(result.out, row.out) << label;
    ASSERT_TRUE(result.log) << label;
    EXPECT_NE(result.log->find(crlf(row.logLine)), std::string::npos) << label;
    EXPECT_EQ(readFile(work("files.bbs")), "") << label;
    EXPECT_EQ(workTree(), (std::vector<std::string>{"a.xpk", "a.zpk", "files.bbs"})) << label;
  }
  EXPECT_TRUE(runsOf("xpk").empty());
}

TEST_F(Describe, AConvertedArchiveCarriesItsFileIdDizTreatedByTheMode) {
  const std::string framed =
      "\xC9\xCD\xCD\xBB\n\xBA"
      "ab\xBA\n\xDB\n\n";
  const std::pair<int, std::string> rows[] = {
      {0, framed},
      {1, "ab\n\n"},
      {2, "+--+\n|ab|\n#\n\n"},
      {3, "    \n ab \n \n\n"},
  };
  for (const auto& [mode, expected] : rows) {
    harness::writeFile(work("a.xpk"), framed);
    std::remove(work("a.YPK").c_str());
    std::remove(records().c_str());
    // The unpacker extracts FILE_ID.DIZ; the packer's archive is a copy of
    // the work directory's file_id.diz.
    const ZelmResult result = run(kConfig + "File_ID.DIZ " + std::to_string(mode) + "\n", {"a.xpk"},
                                  {{"RECORDER_CREATE_xpk", "FILE_ID.DIZ<@-1"},
                                   {"RECORDER_CREATE_ypk", "@-1<file_id.diz"},
                                   {"RECORDER_LIST_ypk", "1"}});
    const std::string label = "mode " + std::to_string(mode) + "\n" + describe(result);
    ASSERT_EQ(result.exitCode, 0) << label;
    EXPECT_EQ(readFile(work("a.YPK")), crlf(expected)) << label;
    const auto packs = runsOf("ypk");
    ASSERT_EQ(packs.size(), 1u) << label;
    // Windows names compare without case: the member already is file_id.diz,
    // and it keeps its own spelling.
    const std::string treated = harness::kWindows ? "FILE_ID.DIZ" : "file_id.diz";
    EXPECT_EQ(packs[0].files, std::vector<std::string>{treated}) << label;
  }
}

TEST_F(Describe, UpdateModeRenamesTheLineOfAConvertedArchive) {
  harness::writeFile(work("a.xpk"), "archive");
  harness::writeFile(work("files.bbs"), crlf("b.xpk\tOther\nA.XPK  Old one\n"));
  const ZelmResult result = run(kConfig + "Description Update\n", {"a.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), crlf("b.xpk\tOther\na.YPK  Old one\n"));
  EXPECT_EQ(workTree(), (std::vector<std::string>{"a.YPK", "files.bbs"}));
  EXPECT_TRUE(runsOf("ypk").size() == 1u) << "no description was extracted";
}

TEST_F(Describe, UpdateModeDescribesANewArchiveWithoutALine) {
  harness::writeFile(work("a.xpk"), "archive");
  harness::writeFile(work("files.bbs"), crlf("b.xpk\tOther\n"));
  const ZelmResult result = run(kConfig + "Fileorder file_id.diz\n", {"a.xpk", "/d"},
                                {{"RECORDER_CONTENT_ypk", "New archive\n"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), crlf("b.xpk\tOther\na.YPK\tNew archive \n"));
  EXPECT_EQ(namesAskedBy("ypk"), (std::vector<std::string>{native("../a.YPK"), "file_id.diz"}));
}

TEST_F(Describe, UpdateModeCarriesTheWholeLineToTheDestinationCatalog) {
  const std::string longText(300, 'd');
  harness::writeFile(work("a.xpk"), "archive");
  const std::string source = crlf("a.xpk " + longText + "\nA.xpk second\n");
  harness::writeFile(work("files.bbs"), source);
  const std::string out = root_ / "out";
  harness::writeFile(out + "/files.bbs", crlf("z.YPK\tEarlier\n"));
  const ZelmResult result = run(kConfig + "Description Update\n", {"a.xpk", "/d:" + out});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(work("files.bbs")), source);
  EXPECT_EQ(readFile(out + "/files.bbs"), crlf("z.YPK\tEarlier\na.YPK " + longText + "\n"));
}

}  // namespace
