// Black-box tests of where a run writes: the destination made at start-up,
// WorkDir, LogFile, the exit status with ErrorExit, and read-only trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"

namespace {

using harness::describe;
using harness::exists;
using harness::listTree;
using harness::readFile;
using harness::writeFile;
using harness::ZelmResult;
using Names = std::vector<std::string>;

// XPK archives are unpacked by `xpk x`; YPK, the target, is packed by
// `ypk a`. The unpacker extracts content.txt, the packer makes its archive.
const std::string kPackers = "ID\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack ypk a\n";
const std::string kConfig = "DefaultPacker YPK\nDetect Ext\nLog Yes\n" + kPackers;

class Scene : public harness::Scene {
 public:
  Scene()
      : harness::Scene({"xpk", "ypk"},
                       {{"RECORDER_CREATE_xpk", "content.txt"}, {"RECORDER_CREATE_ypk", "@2"}}) {
    writeFile(work("old.xpk"), "old archive\n");
  }
};

// A start-up stop: the message, exit code 1, no program run, no log, and
// the archive where it was.
void expectStoppedAtStart(const Scene& scene, const ZelmResult& result, const std::string& message,
                          const std::string& label) {
  EXPECT_EQ(result.exitCode, 1) << label << "\n" << describe(result);
  EXPECT_EQ(result.out, message + "\n") << label;
  EXPECT_TRUE(scene.records().empty()) << label;
  EXPECT_FALSE(result.log) << label;
  EXPECT_TRUE(exists(scene.work("old.xpk"))) << label;
}

TEST(Places, AMissingDestinationIsMadeWithItsParents) {
  Scene scene;
  const ZelmResult result = scene.run(kConfig, {"old.xpk", "/d:out/new/deep"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(scene.work("out/new/deep/old.YPK")), "ypk\n");
  EXPECT_FALSE(exists(scene.work("old.xpk")));
}

TEST(Places, ADestinationThatIsAFileStopsTheRun) {
  Scene scene;
  writeFile(scene.work("out"), "a file\n");
  const ZelmResult result = scene.run(kConfig, {"old.xpk", "/d:out"});
  expectStoppedAtStart(scene, result,
                       "Destination is not a directory: " + harness::native(scene.work("out")),
                       "file as destination");
  EXPECT_EQ(readFile(scene.work("out")), "a file\n");
}

TEST(Places, ErrorExitGivesTwoWhenAnArchiveFailed) {
  struct Row {
    std::string config;
    int unpackExit;
    int exitCode;
  };
  const Row rows[] = {
      {kConfig + "ErrorExit Yes\n", 1, 2}, {"ErrorExit yes\n" + kConfig, 1, 2},
      {kConfig + "ErrorExit No\n", 1, 0},  {kConfig, 1, 0},
      {kConfig + "ErrorExit Yes\n", 0, 0},
  };
  for (const Row& row : rows) {
    Scene scene;
    const ZelmResult result =
        scene.run(row.config, {"old.xpk"}, {{"RECORDER_EXIT_xpk", std::to_string(row.unpackExit)}});
    EXPECT_EQ(result.exitCode, row.exitCode) << row.config << describe(result);
  }
}

TEST(Places, WorkDirHoldsTheWorkDirectoriesAndTheArchivesAreNamedInFull) {
  struct Row {
    std::string config;
    Names args;
    std::string target;  // below the start directory
  };
  const Row rows[] = {
      {kConfig + "WorkDir ../spare\n", {"old.xpk"}, "old.YPK"},
      {"WorkDir ../spare  \n" + kConfig, {"old.xpk", "/d:out"}, "out/old.YPK"},
  };
  for (const Row& row : rows) {
    Scene scene;
    std::filesystem::create_directory(scene.root("spare"));
    const ZelmResult result = scene.run(row.config, row.args);
    ASSERT_EQ(result.exitCode, 0) << row.config << describe(result);
    const auto unpacks = scene.runsOf("xpk");
    const auto packs = scene.runsOf("ypk");
    ASSERT_EQ(unpacks.size(), 1u);
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(unpacks[0].cwd, harness::native(scene.root("spare/$TMP$.001")));
    EXPECT_EQ(unpacks[0].argv, (Names{harness::locatedRecorder(scene.bin(), "xpk"), "x",
                                      harness::native(scene.work("old.xpk"))}));
    EXPECT_EQ(packs[0].cwd, harness::native(scene.root("spare/$TMP$.001")));
    EXPECT_EQ(packs[0].argv, (Names{harness::locatedRecorder(scene.bin(), "ypk"), "a",
                                    harness::native(scene.work(row.target))}));
    EXPECT_TRUE(exists(scene.work(row.target)));
    EXPECT_TRUE(listTree(scene.root("spare")).empty()) << "work directory left behind";
  }
}

TEST(Places, DescriptionsAreExtractedBelowWorkDir) {
  Scene scene;
  std::filesystem::create_directory(scene.root("spare"));
  const std::string config =
      kConfig + "Descfiles files.bbs\nFileorder file_id.diz\nWorkDir " + scene.root("spare");
  const ZelmResult result =
      scene.run(config, {"old.xpk", "/md"}, {{"RECORDER_CREATE_xpk", "@-1<@-2"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(scene.work("files.bbs")), harness::crlf("old.xpk\told archive \n"));
  const auto unpacks = scene.runsOf("xpk");
  ASSERT_EQ(unpacks.size(), 1u);
  EXPECT_EQ(unpacks[0].cwd, harness::native(scene.root("spare/$TMP$.001")));
  EXPECT_EQ(unpacks[0].argv[2], harness::native(scene.work("old.xpk")));
  EXPECT_TRUE(listTree(scene.root("spare")).empty());
}

TEST(Places, AWorkDirThatCannotHoldWorkStopsTheRun) {
  struct Row {
    std::string label;
    std::string message;
  };
  const Row rows[] = {
      {"missing", "WorkDir does not exist: "},
      {"a file", "WorkDir is not a directory: "},
      {"read-only", "WorkDir is not writable: "},
  };
  for (const Row& row : rows) {
    Scene scene;
    const std::string spare = scene.root("spare");
    if (row.label == "a file") writeFile(spare, "");
    // Windows ignores the read-only attribute of a directory.
    if (harness::kWindows && row.label == "read-only") continue;
    if (row.label == "read-only") {
      std::filesystem::create_directory(spare);
      ::chmod(spare.c_str(), 0555);
    }
    const ZelmResult result = scene.run(kConfig + "WorkDir " + spare + "\n", {"old.xpk"});
    expectStoppedAtStart(scene, result, row.message + harness::native(spare), row.label);
  }
}

TEST(Places, LogFileTakesTheLogWhereverItStands) {
  const std::string noLog = "DefaultPacker YPK\nDetect Ext\n";
  struct Row {
    std::string config;
    bool logged;     // in logs/run.log below the start directory
    bool besideExe;  // zelm.log beside the binary
  };
  const Row rows[] = {
      {noLog + "LogFile logs/run.log\nLog Yes\n" + kPackers, true, false},
      {noLog + "Log Yes\nLogFile logs/run.log\n" + kPackers, true, false},
      {noLog + kPackers + "logfile logs/run.log  \nLOG YES\n", true, false},
      {noLog + "LogFile logs/run.log\n" + kPackers, false, false},
      {noLog + kPackers + "Log Yes\n", false, true},
  };
  for (const Row& row : rows) {
    Scene scene;
    std::filesystem::create_directory(scene.work("logs"));
    const ZelmResult result = scene.run(row.config, {"old.xpk"});
    ASSERT_EQ(result.exitCode, 0) << row.config << describe(result);
    EXPECT_EQ(exists(scene.work("logs/run.log")), row.logged) << row.config;
    EXPECT_EQ(result.log.has_value(), row.besideExe) << row.config;
    const std::string log = row.logged ? readFile(scene.work("logs/run.log")) : "";
    if (row.logged) {
      EXPECT_NE(log.find("Convert successfull: " + harness::native(scene.work("old.xpk"))),
                std::string::npos);
    }
  }
}

TEST(Places, ALogFileThatCannotBeWrittenStopsTheRun) {
  struct Row {
    std::string name;
    std::string message;
  };
  const Row rows[] = {
      {"none/run.log", "LogFile directory does not exist: "},
      {"logs", "LogFile is a directory: "},
      {"logs/locked.log", "LogFile is not writable: "},
  };
  for (const Row& row : rows) {
    Scene scene;
    writeFile(scene.work("logs/locked.log"), "earlier runs\n");
    ::chmod(scene.work("logs/locked.log").c_str(), 0444);
    const ZelmResult result = scene.run(kConfig + "LogFile " + row.name + "\n", {"old.xpk"});
    expectStoppedAtStart(scene, result, row.message + harness::native(scene.work(row.name)),
                         row.name);
    EXPECT_EQ(readFile(scene.work("logs/locked.log")), "earlier runs\n");
  }
}

// zelm run so that permission bits bind it: as nobody when the tests run as
// root. Absent when that is not possible here.
std::optional<Names> unprivileged() {
  if (::geteuid() != 0) return Names{};
  if (!exists("/usr/bin/setpriv")) return std::nullopt;
  return Names{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

// A read-only collection cd/sub/old.xpk, converted into out/ by someone who
// may write only in out/, spare/ and the log's directory.
TEST(ReadOnlyTree, ConvertsIntoTheDestinationThroughWorkDir) {
  const auto wrapper = unprivileged();
  if (!wrapper) GTEST_SKIP() << "no way to run without root's privileges";
  struct Row {
    std::string config;
    Names logLines;  // besides the header, Search line and footer
    int converted;
  };
  const std::string keep = "SourceArchive Keep\nWorkDir spare\n";
  const std::string remove = "SourceArchive Delete\nWorkDir spare\n";
  const Row rows[] = {
      {kConfig + keep, {"Convert successfull: @"}, 1},
      {kConfig + remove, {"Convert successfull: @", "Can't delete source: @"}, 1},
      {kConfig + "SourceArchive Keep\n", {"Convert error:       @"}, 0},
  };
  for (const Row& row : rows) {
    harness::TempDir root;
    const std::string bin = root / "bin";
    harness::installRecorder(bin, "xpk");
    harness::installRecorder(bin, "ypk");
    writeFile(root / "cd/sub/old.xpk", "old archive\n");
    for (const char* dir : {"out", "spare", "zelm", "records"}) {
      std::filesystem::create_directory(root / dir);
      ::chmod((root / dir).c_str(), 0777);
    }
    ::chmod((root / "cd/sub/old.xpk").c_str(), 0444);
    ::chmod((root / "cd/sub").c_str(), 0555);
    ::chmod((root / "cd").c_str(), 0555);
    ::chmod(root.path().c_str(), 0755);

    harness::ZelmRun run;
    run.config = row.config;
    run.args = {"cd/*.*", "/r", "/d:out"};
    run.cwd = root.path();
    run.binDir = root / "zelm";
    run.wrapper = *wrapper;
    run.env = {{"PATH", bin},
               {"RECORDER_LOG", root / "records/log"},
               {"RECORDER_CREATE_xpk", "content.txt"},
               {"RECORDER_CREATE_ypk", "@2"}};
    const ZelmResult result = harness::runZelm(run);
    ASSERT_EQ(result.exitCode, 0) << row.config << describe(result);
    EXPECT_EQ(exists(root / "out/sub/old.YPK"), row.converted == 1) << row.config;
    EXPECT_EQ(listTree(root / "cd"), (Names{"sub/", "sub/old.xpk"})) << row.config;
    EXPECT_TRUE(listTree(root / "spare").empty()) << row.config;
    ASSERT_TRUE(result.log) << row.config;
    for (std::string line : row.logLines) {
      line.replace(line.find('@'), 1, root / "cd/sub/old.xpk");
      EXPECT_NE(result.log->find(line + "\r\n"), std::string::npos) << line << "\n" << *result.log;
    }
  }
}

}  // namespace
