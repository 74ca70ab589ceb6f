// Black-box tests of several zelm runs at once over one tree, sharing one
// log: every archive converted exactly once, no false error, no torn line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "harness.h"

namespace {

using harness::ZelmResult;
using Args = std::vector<std::string>;

const std::string kConfig =
    "DefaultPacker YPK\nDetect Ext\nLog Yes\nDescfiles files.bbs\nFileorder file_id.diz\n"
    "ID\nExt XPK\nUnpack xpk x\n"
    "ID\nExt YPK\nPack ypk a\nUnpack ypk x\n";

struct Counts {
  unsigned converted = 0;
  unsigned errors = 0;
  unsigned skipped = 0;
};

unsigned reportFigure(const std::string& out, const std::string& label) {
  const size_t at = out.find(label + ":\t");
  return at == std::string::npos ? 0 : unsigned(std::stoul(out.substr(at + label.size() + 2)));
}

// A log line is whole when it is one of the program's own lines, complete.
bool isWholeLine(const std::string& line) {
  static const std::regex kLines(
      "|;Log file ZELM utility, (opened|closed) .{24}|Search .*\\.xpk\\.\\.\\."
      "|(Convert successfull: |Convert error:       |Archive in use:      )(/|Z:\\\\)[^ ]*[/\\\\]"
      "[ab][0-9][0-9]"
      "\\.xpk"
      "|-{12} Report -{12}|(Converted  |Error      |Skipped    ):\\t {0,9}[0-9]+ files"
      "|Size (before|after ):\\t {0,9}[0-9]+ bytes");
  return std::regex_match(line, kLines);
}

// Fifty archives: a00-a14 and b00-b14 in the start directory, a00-a09 and
// b00-b09 in sub/, each with a catalog line.
class Concurrency : public ::testing::Test, public harness::Scene {
 protected:
  Concurrency() : harness::Scene({"xpk", "ypk"}, {}) {}

  void makeTree(int top, int sub) {
    std::string topCatalog;
    std::string subCatalog;
    for (const char letter : {'a', 'b'}) {
      for (int i = 0; i < top; ++i) addArchive("", letter, i, topCatalog);
      for (int i = 0; i < sub; ++i) addArchive("sub/", letter, i, subCatalog);
    }
    harness::writeFile(work("files.bbs"), topCatalog);
    harness::writeFile(work("sub/files.bbs"), subCatalog);
  }

  // Starts one zelm per argument list at the same moment, all from one
  // binary directory and so writing one log, and waits for every one.
  std::vector<ZelmResult> runAtOnce(const std::vector<Args>& argLists) {
    const std::string binDir = root("zelm");
    const std::string binary = harness::installZelm(binDir, kConfig);
    const std::map<std::string, std::optional<std::string>> env = {
        {"PATH", bin()},
        {"RECORDER_LOG", root("records")},
        {"RECORDER_NEED_xpk", "@-1"},  // an unpacker fails on a source gone
        {"RECORDER_CREATE_ypk", "@-1"}};
    const std::vector<ZelmResult> results = harness::runAtOnce(binary, argLists, work(), env, 240);
    log_ = harness::readFile(binDir + "/zelm.log");
    return results;
  }

  // Every archive converted exactly once over all runs, no run failing or
  // reporting an error, every skip logged, and nothing torn in the log.
  // Under wine only the runs' ends and the tree are sure: wine lets a run
  // open and claim a source that another run has removed until its last
  // holder closes it, and its appends from several processes can overlap.
  void expectEachConvertedOnce(const std::vector<ZelmResult>& results) const {
    for (const auto& result : results) ASSERT_EQ(result.exitCode, 0) << describe(result);
    for (const auto& archive : archives_) {
      EXPECT_FALSE(harness::exists(work(archive + ".xpk"))) << archive;
      EXPECT_TRUE(harness::exists(work(archive + ".YPK"))) << archive;
    }
    if (!harness::kWindows) expectNothingDoubledOrTorn(results);
  }

  void expectNothingDoubledOrTorn(const std::vector<ZelmResult>& results) const {
    Counts sum;
    for (const auto& result : results) {
      sum.converted += reportFigure(result.out, "Converted  ");
      sum.errors += reportFigure(result.out, "Error      ");
      sum.skipped += reportFigure(result.out, "Skipped    ");
    }
    std::map<std::string, int> unpacked;
    for (const auto& record : runsOf("xpk")) {
      std::string cwdText = record.cwd;
      std::replace(cwdText.begin(), cwdText.end(), '\\', '/');
      const std::filesystem::path cwd(cwdText);
      ++unpacked[cwd.parent_path().string() + "/" + record.argv.back().substr(3)];
    }
    std::vector<std::string> twice;
    for (const auto& [source, times] : unpacked) {
      if (times > 1) twice.push_back(source);
    }
    unsigned torn = 0;
    unsigned convertLines = 0;
    unsigned inUseLines = 0;
    std::istringstream lines(log_);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!isWholeLine(line)) ADD_FAILURE() << "torn log line " << ++torn << ": " << line;
      if (line.starts_with("Convert successfull: ")) ++convertLines;
      if (line.starts_with("Archive in use:      ")) ++inUseLines;
    }
    const std::string figures =
        "converted " + std::to_string(sum.converted) + " of " + std::to_string(archives_.size()) +
        ", " + std::to_string(twice.size()) + " unpacked more than once, " +
        std::to_string(sum.errors) + " errors, " + std::to_string(torn) + " torn lines";
    EXPECT_EQ(sum.converted, archives_.size()) << figures;
    EXPECT_EQ(unpacked.size(), archives_.size()) << figures;
    EXPECT_TRUE(twice.empty()) << figures;
    EXPECT_EQ(sum.errors, 0u) << figures;
    EXPECT_EQ(convertLines, sum.converted) << figures;
    EXPECT_EQ(inUseLines, sum.skipped) << figures;
  }

 private:
  void addArchive(const std::string& dir, char letter, int i, std::string& catalog) {
    const std::string name = std::string(1, letter) + char('0' + i / 10) + char('0' + i % 10);
    harness::writeFile(work(dir + name + ".xpk"), name);
    catalog += name + ".xpk\tthe archive " + name + "\r\n";
    archives_.push_back(dir + name);
  }

  std::vector<std::string> archives_;
  std::string log_;
};

// The runs' masks: all the same, overlapping, or disjoint (covering the
// tree together); with or without catalog updates.
struct Scenario {
  const char* name;
  std::vector<Args> masks;
  bool catalogs;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class ConcurrentRuns : public Concurrency, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ConcurrentRuns, ConvertEveryArchiveOnceWithoutFalseErrorsOrTornLines) {
  makeTree(15, 10);
  std::vector<Args> argLists;
  for (Args args : GetParam().masks) {
    args.push_back("/r");
    if (GetParam().catalogs) args.push_back("/d");
    argLists.push_back(args);
  }
  expectEachConvertedOnce(runAtOnce(argLists));
}

const Args kAll = {"*.xpk"};

INSTANTIATE_TEST_SUITE_P(
    , ConcurrentRuns,
    ::testing::Values(
        Scenario{"TwoSame", {kAll, kAll}, false}, Scenario{"TwoSameCatalogs", {kAll, kAll}, true},
        Scenario{"TwoOverlapping", {kAll, {"a*.xpk"}}, false},
        Scenario{"TwoOverlappingCatalogs", {{"b*.xpk"}, kAll}, true},
        Scenario{"TwoDisjoint", {{"a*.xpk"}, {"b*.xpk"}}, false},
        Scenario{"TwoDisjointCatalogs", {{"a*.xpk"}, {"b*.xpk"}}, true},
        Scenario{"FourSame", {kAll, kAll, kAll, kAll}, false},
        Scenario{"FourSameCatalogs", {kAll, kAll, kAll, kAll}, true},
        Scenario{"FourOverlapping", {kAll, {"a*.xpk"}, {"b*.xpk"}, {"?0*.xpk"}}, false},
        Scenario{"FourOverlappingCatalogs", {{"?1*.xpk"}, {"a*.xpk"}, kAll, {"b*.xpk"}}, true},
        Scenario{"FourDisjoint", {{"a0*.xpk"}, {"a1*.xpk"}, {"b0*.xpk"}, {"b1*.xpk"}}, false},
        Scenario{
            "FourDisjointCatalogs", {{"a0*.xpk"}, {"a1*.xpk"}, {"b0*.xpk"}, {"b1*.xpk"}}, true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST_F(Concurrency, AHundredRunsStartedAtOnceOnASmallTree) {
  makeTree(6, 4);
  expectEachConvertedOnce(runAtOnce(std::vector<Args>(100, {"*.xpk", "/r"})));
}

}  // namespace
