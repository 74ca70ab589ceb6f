// Black-box tests of scripts/zelm-parallel with the real packers: a tree
// converted with one zelm run per directory ends exactly like one /r run.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using harness::readFile;
using harness::TempDir;
using harness::ZelmResult;
using Names = std::vector<std::string>;

const std::string kScript = ZELM_SOURCE_DIR "/scripts/zelm-parallel";

bool haveParallel() {
  return harness::runBinary("/bin/sh", {"-c", "command -v parallel"}, "/", {}).exitCode == 0;
}

// Every entry below `dir` with its bytes; links with their targets.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> entries;
  for (const std::string& name : harness::listTree(dir)) {
    const std::string path = dir + "/" + name;
    if (name.back() == '@') {
      entries[name] = fs::read_symlink(path.substr(0, path.size() - 1)).string();
    } else {
      entries[name] = name.back() == '/' ? "" : readFile(path);
    }
  }
  return entries;
}

std::string reportOf(const std::string& out) {
  const size_t at = out.rfind("------------ Report ------------");
  return at == std::string::npos ? "" : out.substr(at);
}

class Parallel : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!haveParallel()) GTEST_SKIP() << "GNU parallel is not installed (Debian package parallel)";
    fs::create_directories(root_ / "bin");
    fs::copy_file(ZELM_BINARY, root_ / "bin/zelm");
    harness::writeFile(root_ / "bin/zelm.cfg", readFile(ZELM_DEFAULT_CONFIG));
  }

  // A ZIP archive at `path` holding a text and, when given, a description
  // file (DESC.SDI: a FILE_ID.DIZ would be rewritten, with a new time, into
  // every new archive, and no two runs would make the same bytes).
  void makeArchive(const std::string& path, const std::string& diz = "") const {
    const TempDir stage;
    harness::writeFile(stage / "README.TXT", "the text of " + path + "\r\n");
    Names command = {"zip", "-X", "-q", path, "README.TXT"};
    if (!diz.empty()) {
      harness::writeFile(stage / "DESC.SDI", diz + "\r\n");
      command.push_back("DESC.SDI");
    }
    for (const char* name : {"README.TXT", "DESC.SDI"}) {
      if (harness::exists(stage / name)) harness::setMtime(stage / name, 1200000000);
    }
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_EQ(harness::runBinary("/usr/bin/env", command, stage.path(), {}).exitCode, 0) << path;
    harness::setMtime(path, 1200000001);
  }

  ZelmResult zelm(const Names& args, const std::string& cwd) const {
    return harness::runBinary(root_ / "bin/zelm", args, cwd, {}, 120);
  }

  ZelmResult parallel(const Names& args, const std::string& cwd,
                      const std::map<std::string, std::optional<std::string>>& env = {}) const {
    Names all = {"--zelm", root_ / "bin/zelm"};
    all.insert(all.end(), args.begin(), args.end());
    return harness::runBinary(kScript, all, cwd, env, 120);
  }

  // A stand-in for ssh that runs the command here with only what a login
  // passes on; the machine "lost" stops answering after its first command.
  std::string sshStandIn() const {
    harness::makeScript(
        root_ / "ssh",
        "while [ \"${1#-}\" != \"$1\" ]; do shift; done\n"
        "host=$1; shift; [ \"$1\" = -- ] && shift\n"
        "if [ \"$host\" = lost ]; then\n"
        "  [ -e \"$0.lost\" ] && exit 255\n"
        "  : >\"$0.lost\"\n"
        "fi\n"
        "exec env -i PATH=\"$PATH\" HOME=\"$HOME\" SHELL=/bin/sh /bin/sh -c \"$*\"\n");
    return root_ / "ssh";
  }

  // Copies "one" to "two", converts "one" with one /r run and "two" with
  // zelm-parallel -j 2 (and `options`), and expects both to end alike,
  // reports included. Returns the parallel run.
  ZelmResult expectRunsEndAlike(const std::string& input, const Names& args,
                                const Names& options = {}) const {
    EXPECT_EQ(harness::runBinary("/bin/cp", {"-a", "one", "two"}, root_.path(), {}).exitCode, 0);
    Names withR = {input, "/r"};
    withR.insert(withR.end(), args.begin(), args.end());
    Names withJobs = options;
    withJobs.insert(withJobs.end(), {"-j", "2", "--", input});
    withJobs.insert(withJobs.end(), args.begin(), args.end());
    const ZelmResult one = zelm(withR, root_ / "one");
    // A user's own defaults for GNU parallel must not change the outcome.
    const ZelmResult two = parallel(withJobs, root_ / "two", {{"PARALLEL", "--tag --ungroup"}});
    EXPECT_EQ(one.exitCode, 0) << harness::describe(one);
    EXPECT_EQ(two.exitCode, 0) << harness::describe(two);
    EXPECT_EQ(reportOf(two.out), reportOf(one.out)) << two.out;
    EXPECT_EQ(snapshot(root_ / "two"), snapshot(root_ / "one"));
    return two;
  }

  TempDir root_;
};

TEST_F(Parallel, TreeEndsLikeOneRecursiveRun) {
  for (const std::string mode : {"/md", "/d"}) {
    SCOPED_TRACE(mode);
    fs::remove_all(root_ / "one");
    fs::remove_all(root_ / "two");
    const std::string tree = root_ / "one/tree";
    makeArchive(tree + "/a.zip", "Alpha");
    makeArchive(tree + "/b.zip");
    harness::writeFile(tree + "/files.bbs", harness::crlf("a.zip\tAlpha from the catalog\n"));
    makeArchive(tree + "/sub/c.zip", "Cee");
    harness::writeFile(tree + "/sub/files.bbs", harness::crlf("c.zip\tCee\nold.zip\tOld\n"));
    makeArchive(tree + "/sub/deep/d.zip", "Dee");
    fs::create_directories(tree + "/sub/deep/empty");
    makeArchive(tree + "/.hidden/e.zip", "Hidden");
    makeArchive(tree + "/z/f.zip");
    fs::create_directory_symlink("sub", tree + "/linked");
    fs::create_directories(tree + "/out");
    expectRunsEndAlike("tree/*.*", {"/7z", mode, "/d:tree/out"});
  }
}

TEST_F(Parallel, AwkwardNamesAreNeverSplitOrReadAsOptions) {
  const std::string treeName = "-t 'q\"{}";
  const Names names = {"sp ace", "new\nline", "-dash", "back\\slash", "$HOME;{}", "--"};
  for (const std::string& destination : {std::string("out"), treeName}) {
    SCOPED_TRACE(destination);
    fs::remove_all(root_ / "one");
    fs::remove_all(root_ / "two");
    const std::string tree = root_ / ("one/" + treeName);
    std::string dir = tree;
    for (const std::string& name : names) {
      dir += "/" + name;
      makeArchive(dir + "/" + name + ".zip");
      makeArchive(dir + "/-x y'z\".zip", "Awkward");
      harness::writeFile(dir + "/files.bbs", harness::crlf("-x y'z\".zip\tFrom the catalog\n"));
    }
    // On another machine, where the names travel through ssh.
    const ZelmResult two =
        expectRunsEndAlike(treeName + "/*.zip", {"/7z", "/d", "/d:" + destination},
                           {"--ssh", sshStandIn(), "-S", "good"});
    EXPECT_NE(two.out.find("Converted  :\t        12 files"), std::string::npos) << two.out;
  }
}

TEST_F(Parallel, LeftoverWorkDirectoriesAreNeverEntered) {
  makeArchive(root_ / "tree/$TMP$.004/a.zip");
  makeArchive(root_ / "tree/$tmp$.012/b.zip");
  makeArchive(root_ / "tree/c.zip");
  const ZelmResult result = parallel({"*.zip", "/7z", "/d:out"}, root_ / "tree");
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(harness::listTree(root_ / "tree"), (Names{"$TMP$.004/", "$TMP$.004/a.zip", "$tmp$.012/",
                                                      "$tmp$.012/b.zip", "out/", "out/c.7z"}));
}

// Each run starts where zelm-parallel was started, never in a directory of
// the tree, whose files may come from strangers.
TEST_F(Parallel, FilesOfTheTreeAreNeverRunAsPackers) {
  makeArchive(root_ / "tree/sub/a.zip");
  harness::makeScript(root_ / "tree/sub/7zz", "touch \"$0.ran\"\nexit 1\n");
  const ZelmResult result = parallel({"tree/*.zip", "/7z"}, root_.path());
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_FALSE(harness::exists(root_ / "tree/sub/7zz.ran"));
  EXPECT_TRUE(harness::exists(root_ / "tree/sub/a.7z"));
}

// A machine that stops answering after its first directory: its directories
// are named as not finished, and a second run on a good machine finishes them.
TEST_F(Parallel, AMachineLostMidRunLeavesItsDirectoriesToARerun) {
  for (const std::string dir : {"a", "b", "c", "d", "e", "f"}) {
    makeArchive(root_ / ("tree/" + dir + "/x.zip"));
  }
  const Names args = {"--ssh", sshStandIn(), "-j", "1", "-S"};
  Names first = args;
  first.insert(first.end(), {"good,lost", "*.zip", "/7z"});
  const ZelmResult lost = parallel(first, root_ / "tree");
  EXPECT_EQ(lost.exitCode, 1) << harness::describe(lost);
  EXPECT_NE(lost.err.find("not finished"), std::string::npos) << lost.err;
  EXPECT_EQ(reportOf(lost.out).find("Converted  :\t         6 files"), std::string::npos);

  Names second = args;
  second.insert(second.end(), {"good", "*.zip", "/7z"});
  const ZelmResult rerun = parallel(second, root_ / "tree");
  ASSERT_EQ(rerun.exitCode, 0) << harness::describe(rerun);
  for (const std::string dir : {"a", "b", "c", "d", "e", "f"}) {
    EXPECT_EQ(harness::listTree(root_ / ("tree/" + dir)), (Names{"x.7z"})) << dir;
  }
}

TEST_F(Parallel, BadInputGetsAMessageAndConvertsNothing) {
  makeArchive(root_ / "tree/a.zip");
  harness::writeFile(root_ / "file", "");
  const struct {
    Names args;
    std::string message;
  } rows[] = {
      {{"/7z"}, "no TREE/MASK given"},
      {{"@list", "/7z"}, "list files are not taken"},
      {{"*.zip", "b/*.zip", "/7z"}, "one TREE/MASK only"},
      {{"*.zip", "/r-", "/7z"}, "/r- leaves one directory"},
      {{"--frobnicate", "*.zip", "/7z"}, "unknown option: --frobnicate"},
      {{"missing/*.zip", "/7z"}, "cannot enter missing/"},
      {{"*.zip", "/7z", "/d:../file"}, "is not a directory"},
      {{"*.zip", "/7z", "/d:.."}, "the tree lies inside the destination"},
      {{"--zelm", "/nonexistent", "*.zip", "/7z"}, "/nonexistent is not a program"},
  };
  for (const auto& row : rows) {
    const ZelmResult result = parallel(row.args, root_ / "tree");
    EXPECT_EQ(result.exitCode, 1) << row.message << "\n" << harness::describe(result);
    EXPECT_EQ(result.err.rfind("zelm-parallel: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
  }
  EXPECT_EQ(harness::listTree(root_ / "tree"), (Names{"a.zip"}));
}

}  // namespace
