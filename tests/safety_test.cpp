// Black-box tests of what keeps a conversion safe: private work
// directories, no success without an archive, removal by file identity,
// links never followed, programs never taken from strangers' directories,
// the original time kept on a repack, and dot-directories cleaned up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "harness.h"

namespace {

using harness::listTree;
using harness::localTime;
using harness::mtimeOf;
using harness::readFile;
using harness::report;
using harness::setMtime;
using harness::TempDir;
using harness::writeFile;
using harness::ZelmResult;
using harness::ZelmRun;
using Env = std::map<std::string, std::optional<std::string>>;
using Names = std::vector<std::string>;

// XPK archives are unpacked by `xpk x`; YPK, the target, is packed by
// `ypk a` and unpacked by `yun x`, so a YPK archive can be repacked.
const std::string kConfig =
    "DefaultPacker YPK\nDetect Ext\nLog Yes\n"
    "ID\nExt XPK\nUnpack xpk x\n"
    "ID\nExt YPK\nPack ypk a\nUnpack yun x\n";

// Scripts that play packers run with the test's PATH; their tools come from
// the system's directories.
const std::string kShellPath = "PATH=/usr/bin:/bin\n";

void symlinkTo(const std::string& target, const std::string& link) {
  std::filesystem::create_directories(std::filesystem::path(link).parent_path());
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

// Every file below `dir` with its bytes, so that any change shows.
std::vector<std::pair<std::string, std::string>> snapshot(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& name : listTree(dir)) {
    const bool plainFile = name.back() != '/' && name.back() != '@';
    out.emplace_back(name, plainFile ? readFile(dir + "/" + name) : "");
  }
  return out;
}

// A start directory `work` with the archives, a directory `outside` that no
// conversion may touch, a PATH directory `bin` with the recorder as every
// program, and a record file. By default the unpacker extracts content.txt
// and the packer makes the archive it is given (its third argument).
class Safety : public ::testing::Test, public harness::Scene {
 protected:
  Safety()
      : harness::Scene({"xpk", "ypk", "yun", "xrun"}, {{"RECORDER_CREATE_xpk", "content.txt"},
                                                       {"RECORDER_CREATE_yun", "content.txt"},
                                                       {"RECORDER_CREATE_ypk", "@2"}}) {}

  void SetUp() override {
    writeFile(outside("keep.txt"), "precious\n");
    writeFile(outside("victim.diz"), "victim\n");
    writeFile(outside("sub/deep.txt"), "deep\n");
    writeFile(outside("inner.xpk"), "not yours");
  }

  std::string outside(const std::string& name = "") const {
    return root(name.empty() ? "outside" : "outside/" + name);
  }
};

// A work directory is always a new one.

TEST_F(Safety, AStoppedRunsWorkDirectoryIsNeitherPackedNorTouched) {
  writeFile(work("old.xpk"), "archive!");
  // The first run stops inside its work directory and leaves it behind.
  const ZelmResult stopped =
      run(kConfig + "BreakOnError Yes\n", {"old.xpk"},
          {{"RECORDER_CREATE_xpk", "stale.txt"}, {"RECORDER_EXIT_xpk", "2"}});
  ASSERT_EQ(stopped.exitCode, 1) << describe(stopped);
  ASSERT_EQ(workTree(), (Names{"$TMP$.001/", "$TMP$.001/stale.txt", "old.xpk"}));
  if (!harness::kWindows) {
    struct stat st;
    ASSERT_EQ(::stat(work("$TMP$.001").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << "a work directory is private";
  }

  const ZelmResult result = run(kConfig, {"old.xpk"}, {{"RECORDER_LIST_ypk", "1"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  const auto packs = runsOf("ypk");
  ASSERT_EQ(packs.size(), 1u);
  EXPECT_EQ(packs[0].cwd, harness::native(work("$TMP$.002")));
  EXPECT_EQ(packs[0].files, Names{"content.txt"});
  EXPECT_EQ(workTree(), (Names{"$TMP$.001/", "$TMP$.001/stale.txt", "old.YPK"}));
  EXPECT_EQ(readFile(work("$TMP$.001/stale.txt")), "xpk\n");
}

TEST_F(Safety, TheWorkDirectoryNamesGoRoundOnceAtMost) {
  // Only $TMP$.500 is free: both archives get it, the second after going
  // past 999 and 000.
  for (int i = 0; i < 1000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "$TMP$.%03d", i);
    if (i != 500) writeFile(work(name), "");
  }
  writeFile(work("a.xpk"), "a");
  writeFile(work("b.xpk"), "b");
  const ZelmResult result = run(kConfig, {"*.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(2, 0, 0, 2, 8));
  Names cwds;
  for (const auto& unpack : runsOf("xpk")) cwds.push_back(unpack.cwd);
  EXPECT_EQ(cwds, (Names{harness::native(work("$TMP$.500")), harness::native(work("$TMP$.500"))}));
  EXPECT_FALSE(harness::exists(work("$TMP$.500")));
}

// No archive, no success.

TEST_F(Safety, APackerThatSaysYesButMakesNoArchiveFails) {
  harness::installRecorder(bin(), "ytest");
  struct Row {
    std::string label;
    Env env;  // what the packer and the test program do instead
  };
  const Row rows[] = {
      {"nothing made", {{"RECORDER_CREATE_ypk", ""}}},
      {"a directory made", {{"RECORDER_CREATE_ypk", ""}, {"RECORDER_MKDIR_ypk", "@2"}}},
      {"another name made", {{"RECORDER_CREATE_ypk", "@2.tmp"}}},
      {"a dangling link made",
       {{"RECORDER_CREATE_ypk", ""}, {"RECORDER_SYMLINK_ypk", "@2<nowhere"}}},
      {"removed by the test", {{"RECORDER_REMOVE_ytest", "@2"}}},
  };
  for (const Row& row : rows) {
    // A Windows program makes no symbolic link under wine.
    if (harness::kWindows && row.env.count("RECORDER_SYMLINK_ypk")) continue;
    std::filesystem::remove_all(work());
    writeFile(work("old.xpk"), "archive!");
    const ZelmResult result = run(kConfig + "Test ytest t\n", {"old.xpk", "/t"}, row.env);
    EXPECT_EQ(result.exitCode, 0) << row.label << "\n" << describe(result);
    EXPECT_EQ(result.out, report(0, 1, 0, 0, 0)) << row.label;
    EXPECT_EQ(readFile(work("old.xpk")), "archive!") << row.label;
    EXPECT_FALSE(harness::exists(work("$TMP$.001"))) << row.label;
  }
}

// The source goes only when it is not the new archive.

TEST_F(Safety, ARepackThroughAnotherPathToTheSameDirectoryKeepsTheArchive) {
  symlinkTo(work(), root("alias"));
  const std::string rows[] = {"/d:" + root("alias"), "/d:.", "/d:../work/", "/d:" + work() + "/./"};
  for (const std::string& dest : rows) {
    std::filesystem::remove_all(work());
    writeFile(work("old.YPK"), "old archive");
    // An even second: the kept time equals the listed one, so only the
    // identity of the two files can keep the archive.
    setMtime(work("old.YPK"), localTime(2001, 2, 3, 10, 15, 30));
    const ZelmResult result = run(kConfig + "KeepTime Yes\n", {"old.YPK", dest});
    ASSERT_EQ(result.exitCode, 0) << dest << "\n" << describe(result);
    EXPECT_EQ(result.out, report(1, 0, 0, 11, 4)) << dest;
    EXPECT_EQ(workTree(), Names{"old.YPK"}) << dest;
    EXPECT_EQ(readFile(work("old.YPK")), "ypk\n") << dest;
  }
}

TEST_F(Safety, ANameDifferingOnlyInCaseIsAnotherFile) {
  writeFile(work("OLD.YPK"), "old archive");
  const std::string config =
      "DefaultPacker ypk\nDetect Ext\nID\nExt XPK\nUnpack xpk x\nID\nExt ypk\nPack ypk a\n"
      "Unpack yun x\n";
  const ZelmResult result = run(config, {"OLD.YPK"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 11, 4));
  const auto packs = runsOf("ypk");
  ASSERT_EQ(packs.size(), 1u);
  EXPECT_EQ(packs[0].argv.back(), "../OLD.ypk");
  EXPECT_EQ(workTree(), Names{"OLD.ypk"});
}

// Links lead nowhere.

TEST_F(Safety, LinksInAnArchiveNeverReachOutside) {
  const auto before = snapshot(outside());
  struct Row {
    std::string label;
    std::string unpack;   // the body of the unpack script
    Names packed;         // what the packer saw
    std::string archive;  // the new archive: by default, the bytes of file_id.diz
  };
  const std::string out = outside();
  // A file_id.diz that is a link counts as absent: it is packed untreated,
  // as the link it is (this packer copies through it). A link named like the
  // treatment's temporary is a member like any other: it is packed as it is.
  const Row rows[] = {
      {"directory links",
       "ln -s '" + out + "' outlink\nln -s '" + out + "' files.txt\nmkdir sub sub.txt\nln -s '" +
           out + "' sub/inner.txt\nln -s '" + out + "' sub.txt/inner.txt\nln -s '" + out +
           "/keep.txt' keep.txt\n: > file_id.diz\n",
       {"file_id.diz", "outlink", "sub/", "sub/inner.txt"},
       ""},
      {"file_id.diz is a link",
       "ln -s '" + out + "/victim.diz' file_id.diz\n",
       {"file_id.diz"},
       "victim\n"},
      {"file_id.tmp is a link",
       "printf 'Text\\n' > file_id.diz\nln -s '" + out + "/victim.diz' file_id.tmp\n",
       {"file_id.diz", "file_id.tmp"},
       "Text\r\n"},
  };
  for (const Row& row : rows) {
    std::filesystem::remove_all(work());
    std::filesystem::remove(root("records"));
    writeFile(work("old.xpk"), "archive!");
    harness::makeScript(bin() + "/xpk", kShellPath + row.unpack);
    const ZelmResult result =
        run(kConfig + "Del *.txt\nFile_ID.DIZ 1\n", {"old.xpk"},
            {{"RECORDER_LIST_ypk", "1"}, {"RECORDER_CREATE_ypk", "@2<file_id.diz"}});
    ASSERT_EQ(result.exitCode, 0) << row.label << "\n" << describe(result);
    EXPECT_EQ(result.out, report(1, 0, 0, 8, unsigned(row.archive.size()))) << row.label;
    EXPECT_EQ(snapshot(outside()), before) << row.label;
    EXPECT_EQ(workTree(), Names{"old.YPK"}) << row.label;
    EXPECT_EQ(readFile(work("old.YPK")), row.archive) << row.label;
    const auto packs = runsOf("ypk");
    ASSERT_EQ(packs.size(), 1u) << row.label;
    EXPECT_EQ(packs[0].files, row.packed) << row.label;
  }
}

TEST_F(Safety, TheWalkNeverEntersALinkedDirectory) {
  const auto before = snapshot(outside());
  symlinkTo(outside(), work("linked"));
  symlinkTo(outside("inner.xpk"), work("filelink.xpk"));
  writeFile(work("own/mine.xpk"), "mine");
  std::filesystem::create_directories(root("dest"));
  const ZelmResult result = run(kConfig, {"*.xpk", "/r", "/d:" + root("dest")});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  Names unpacked;
  for (const auto& unpack : runsOf("xpk")) unpacked.push_back(unpack.cwd);
  EXPECT_EQ(unpacked, (Names{work("$TMP$.001"), work("own/$TMP$.002")}));
  EXPECT_EQ(listTree(root("dest")), (Names{"filelink.YPK", "own/", "own/mine.YPK"}));
  // The link to a file is a file entry: converted, and then only the link
  // itself goes.
  EXPECT_EQ(workTree(), (Names{"linked@", "own/"}));
  EXPECT_EQ(snapshot(outside()), before);
}

// Programs come from where the user put them.

TEST_F(Safety, ProgramsPlantedBesideOrInsideTheArchiveAreNeverRun) {
  writeFile(work("old.xpk"), "archive!");
  // Impostors beside the archive: they would leave records of their own.
  for (const char* name : {"xpk", "xpk.COM", "xpk.EXE", "xrun"})
    harness::installRecorder(work(), name);
  for (const char* name : {"xpk", "xrun"}) harness::installRecorder(work("tools"), name);
  const std::string recorder = RECORDER_BINARY;
  const Env env = {
      // Relative entries name the work directory and the archive's directory.
      {"PATH", ".:..:tools:../tools:" + bin()},
      // The archive holds programs named like the Exec and unpack programs.
      {"RECORDER_CREATE_xpk",
       "xrun<" + recorder + ":xrun.EXE<" + recorder + ":tools/xrun<" + recorder},
  };
  const ZelmResult result = run(kConfig + "Exec xrun\n", {"old.xpk"}, env);
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  Names programs;
  for (const auto& record : records()) programs.push_back(record.argv.at(0));
  using harness::locatedRecorder;
  EXPECT_EQ(programs, (Names{locatedRecorder(bin(), "xpk"), locatedRecorder(bin(), "xrun"),
                             locatedRecorder(bin(), "ypk")}));
}

// A repack onto the same file keeps the file's time.

TEST_F(Safety, ARepackOntoTheSameFileKeepsItsOriginalTime) {
  const std::pair<int64_t, int64_t> rows[] = {
      {localTime(2001, 2, 3, 10, 15, 30), localTime(2001, 2, 3, 10, 15, 30)},
      {localTime(2001, 2, 3, 10, 15, 31), localTime(2001, 2, 3, 10, 15, 30)},
  };
  for (const auto& [source, expected] : rows) {
    std::filesystem::remove_all(work());
    writeFile(work("old.YPK"), "old archive");
    setMtime(work("old.YPK"), source);
    const ZelmResult result = run(kConfig, {"old.YPK"});
    ASSERT_EQ(result.exitCode, 0) << source << "\n" << describe(result);
    EXPECT_EQ(result.out, report(1, 0, 0, 11, 4)) << source;
    EXPECT_EQ(workTree(), Names{"old.YPK"}) << source;
    EXPECT_EQ(readFile(work("old.YPK")), "ypk\n") << source;
    EXPECT_EQ(mtimeOf(work("old.YPK")), expected) << source;
  }
}

// Dot-directories of an archive are cleaned up like any other.

TEST_F(Safety, AnArchiveWithDotDirectoriesLeavesNoWorkDirectory) {
  writeFile(work("old.xpk"), "archive!");
  const ZelmResult result =
      run(kConfig, {"old.xpk"},
          {{"RECORDER_CREATE_xpk",
            ".git/config:.git/objects/ab/cdef:.hidden/.deeper/x:..dots/y:normal.txt:.profile"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  EXPECT_EQ(workTree(), Names{"old.YPK"});
}

}  // namespace
