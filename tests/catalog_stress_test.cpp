// Black-box tests of catalogs and file_id.diz under stress: several runs at
// once over one directory, and file systems that run full during a rewrite.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "harness.h"
#include "small_tmpfs.h"

namespace {

namespace fs = std::filesystem;
using harness::crlf;
using harness::readFile;
using harness::writeFile;
using harness::ZelmResult;
using Names = std::vector<std::string>;

// XPK archives are unpacked by `xpk x`; YPK, the target, is packed by
// `ypk a`. Both are told by extension.
const std::string kConfig =
    "DefaultPacker YPK\nDetect Ext\nLog Yes\nDescfiles files.bbs\n"
    "ID\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack ypk a\nUnpack ypk x\n";

// The unpacker extracts what `unpacked` says; the packer makes the archive
// it is given.
class Scene : public harness::Scene {
 public:
  explicit Scene(const std::string& unpacked)
      : harness::Scene({"xpk", "ypk"},
                       {{"RECORDER_CREATE_xpk", unpacked}, {"RECORDER_CREATE_ypk", "@2"}}),
        unpacked_(unpacked) {}
  const std::string unpacked_;
};

// Starts zelm once per argument list, all at the same moment, and waits for
// all of them. The runs share one binary directory and so one log; the
// console holds an "exit=N" line per run besides what the runs printed.
ZelmResult runAtOnce(const Scene& scene, const std::string& config,
                     const std::vector<Names>& argLists) {
  const std::string binDir = scene.root("zelm");
  const std::string binary = harness::installZelm(binDir, config);
  const std::map<std::string, std::optional<std::string>> env = {
      {"PATH", scene.bin()},
      {"RECORDER_LOG", scene.root("records")},
      {"RECORDER_CREATE_xpk", scene.unpacked_},
      {"RECORDER_CREATE_ypk", "@2"}};
  const std::vector<ZelmResult> results =
      harness::runAtOnce(binary, argLists, scene.work(), env, 240);
  ZelmResult result;
  for (const ZelmResult& one : results) {
    result.timedOut = result.timedOut || one.timedOut;
    result.out +=
        one.out + "exit=" + (one.exitCode ? std::to_string(*one.exitCode) : "none") + "\n";
    result.err += one.err;
  }
  if (harness::exists(binDir + "/zelm.log")) result.log = readFile(binDir + "/zelm.log");
  return result;
}

// The lines of a CR LF text file, sorted; a line without CR LF is marked.
Names sortedLines(const std::string& text) {
  Names lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    lines.push_back(end == std::string::npos ? "<unended>" + text.substr(at)
                                             : text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 2;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string archiveName(char letter, int number) {
  char name[16];
  std::snprintf(name, sizeof name, "%c%03d", letter, number);
  return name;
}

TEST(ConcurrentCatalogs, UpdatedOrMadeAtOnceLoseAndDoubleNoLine) {
  // Fewer under wine, where every program start costs a great deal more.
  const int kArchives = harness::kWindows ? 60 : 200;
  // Every log line is whole and of a known shape.
  const std::regex logLine(
      "|;Log file ZELM utility, (opened|closed) .{24}|Search [a-d]\\*\\.xpk\\.\\.\\."
      "|Convert successfull: (/.*/|Z:\\\\.*\\\\)[a-d][0-9]{3}\\.xpk|------------ Report "
      "------------"
      "|(Converted  |Error      |Skipped    ):\\t *[0-9]+ files|Size (before|after ):\\t *[0-9]+ "
      "bytes");
  for (const std::string mode : {"/d", "/md"}) {
    for (const int runs : {2, 4}) {
      // /d: the unpacker extracts content.txt; /md: asked for a description
      // file it gives the archive's bytes.
      Scene scene(mode == "/d" ? "content.txt" : "@-1<@-2");
      std::string catalog;
      Names expected;
      std::vector<Names> argLists;
      for (char letter = 'a'; letter < 'a' + runs; ++letter) {
        for (int i = 0; i < kArchives / runs; ++i) {
          const std::string name = archiveName(letter, i);
          writeFile(scene.work(name + ".xpk"), "About " + name);
          catalog += name + ".xpk\tAbout " + name + "\r\n";
          expected.push_back(name + (mode == "/d" ? ".YPK" : ".xpk") + "\tAbout " + name);
        }
        argLists.push_back({std::string(1, letter) + "*.xpk", mode});
      }
      if (mode == "/d") writeFile(scene.work("files.bbs"), catalog);
      std::sort(expected.begin(), expected.end());

      const ZelmResult result = runAtOnce(scene, kConfig + "Fileorder file_id.diz\n", argLists);
      const std::string label = mode + " " + std::to_string(runs) + " runs\n" + describe(result);
      ASSERT_FALSE(result.timedOut) << label;
      size_t exits = 0;
      for (size_t at = 0; (at = result.out.find("exit=0\n", at)) != std::string::npos; ++at) {
        ++exits;
      }
      EXPECT_EQ(exits, size_t(runs)) << label;
      EXPECT_EQ(sortedLines(readFile(scene.work("files.bbs"))), expected) << label;
      EXPECT_EQ(scene.workTree().size(), size_t(kArchives + 1)) << "archives and the catalog\n"
                                                                << label;
      // Wine's appends from several processes can overlap: the log is sure
      // only natively.
      if (harness::kWindows) continue;
      ASSERT_TRUE(result.log) << label;
      size_t converted = 0;
      for (const std::string& line : sortedLines(*result.log)) {
        EXPECT_TRUE(std::regex_match(line, logLine)) << line << "\n" << label;
        if (line.rfind("Convert successfull: ", 0) == 0) ++converted;
      }
      EXPECT_EQ(converted, mode == "/d" ? size_t(kArchives) : 0u) << label;
    }
  }
}

TEST(FullDisk, ACatalogRewriteThatDoesNotFitLeavesTheCatalogWhole) {
  Scene scene("content.txt");
  SmallTmpfs disk(scene.work(), 256 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  std::string catalog;
  for (int i = 0; i < 3001; ++i) {
    catalog += (i == 1500 ? std::string("a.xpk") : archiveName('z', i % 1000) + ".xpk") +
               "\tA description of thirty bytes\r\n";
  }
  writeFile(scene.work("files.bbs"), catalog);
  writeFile(scene.work("a.xpk"), "archive");
  // 48 KiB stay free: room for the conversion, not for a second catalog.
  writeFile(scene.work("reserve"), std::string(48 * 1024, 'r'));
  ASSERT_TRUE(disk.fill());
  fs::remove(scene.work("reserve"));
  const ZelmResult result = scene.run(kConfig, {"a.xpk", "/d"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(scene.work("files.bbs")), catalog);
  EXPECT_EQ(scene.workTree(), (Names{"a.YPK", "files.bbs", "filler"}));
  ASSERT_TRUE(result.log);
  EXPECT_NE(result.log->find("Catalog not updated: files.bbs\r\n"), std::string::npos)
      << *result.log;
}

TEST(FullDisk, AFileIdDizThatCannotBeTreatedIsPackedAsUnpacked) {
  Scene scene("file_id.diz<@-1");
  SmallTmpfs disk(scene.work(), 1536 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  std::string text;
  while (text.size() < 588000) text += "\xBA A line of a long description \xBA\n";
  text.resize(588000);
  writeFile(scene.work("a.xpk"), text);
  const std::string out = scene.root("out");
  // The new archive is a copy of the work directory's file_id.diz.
  const ZelmResult result = scene.run(kConfig + "File_ID.DIZ 2\n", {"a.xpk", "/d:" + out},
                                      {{"RECORDER_CREATE_ypk", "@-1<file_id.diz"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(out + "/a.YPK"), text);
  EXPECT_EQ(scene.workTree(), Names{});
}

}  // namespace
