// Black-box tests of converting archives: every way a conversion can end,
// with and without BreakOnError, the command lines the packers get, the
// Del/Add/Exec steps, sizes, time stamps, destinations, and bad input.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "harness.h"

namespace {

using harness::crlf;
using harness::listTree;
using harness::localTime;
using harness::maskTimes;
using harness::mtimeOf;
using harness::native;
using harness::readFile;
using harness::report;
using harness::setMtime;
using harness::writeFile;
using harness::ZelmResult;
using Env = std::map<std::string, std::optional<std::string>>;
using Names = std::vector<std::string>;

// XPK archives are unpacked by `xpk x`; YPK, the target, is packed by
// `ypk a` and tested by `ytest t`. Both are told by extension.
const std::string kXpk = "ID\nExt XPK\nUnpack xpk x\n";
const std::string kYpk = "ID\nExt YPK\nPack ypk a\nTest ytest t\n";
const std::string kConfig = "DefaultPacker YPK\nDetect Ext\nLog Yes\n" + kXpk + kYpk;

const std::string kHeader = ";Log file ZELM utility, opened <time>\n";
const std::string kFooter = "\n;Log file ZELM utility, closed <time>\n\n";

// The log of a run over one input: what the conversions wrote after the
// Search line, then the close-out when the run was not stopped.
std::string logOf(const std::string& input, const std::string& body,
                  std::optional<std::string> reportBlock) {
  std::string log = kHeader + "\nSearch " + input + "...\n" + body;
  if (reportBlock) log += kFooter + *reportBlock;
  return crlf(log);
}

// One scene of a run: a start directory `work` holding the archives, a PATH
// directory `bin` with the recorder as every program, and a record file. By
// default the unpacker extracts content.txt and the packer makes the archive
// it is given (its third argument).
class Scene : public harness::Scene {
 public:
  Scene()
      : harness::Scene({"xpk", "ypk", "ytest", "xrun", "xok"},
                       {{"RECORDER_CREATE_xpk", "content.txt"}, {"RECORDER_CREATE_ypk", "@2"}}) {}
};

// How a run over the one archive old.xpk ends.
struct Outcome {
  int exitCode;
  std::string out;      // the whole console
  std::string logBody;  // what follows the Search line
  Names tree;           // the start directory afterwards
  Names roles;          // the programs run, in order
};

// What a branch finds on disk besides old.xpk.
enum class Setup {
  None,
  EveryWorkNameTaken,  // files $TMP$.000 to $TMP$.999
  TargetExists,        // old.YPK
  BrokenPrograms,      // bin/broken: an executable that cannot be started
};

struct Branch {
  std::string label;
  std::string config;  // replaces the packer part of kConfig
  Names args;          // after old.xpk
  Env env;
  Setup setup;
  Outcome withBreak;
  Outcome goingOn;
};

Names thousandWorkNames() {
  Names names;
  for (int i = 0; i < 1000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "$TMP$.%03d", i);
    names.push_back(name);
  }
  return names;
}

// Whether the platform under test can hold `name`. Windows names hold no
// control byte, none of *?:"<>| and no trailing dot or blank; under wine
// they are also text of the ANSI code page (here the Latin-1 letters), as a
// unix name reaches an ANSI program only in that form.
bool platformCanName(std::string_view name) {
  if (!harness::kWindows) return true;
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x20 || std::string_view("*?:\"<>|").find(name[i]) != std::string_view::npos) {
      return false;
    }
    const bool latin1 = (byte == 0xC2 || byte == 0xC3) && i + 1 < name.size() &&
                        (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80;
    if (byte >= 0x80 && !latin1) return false;
    if (latin1) ++i;
  }
  return true;
}

using NamePairs = std::vector<std::pair<std::string, std::string>>;

// The pairs (source name, base of the new name) whose source the platform
// under test can hold.
NamePairs nameable(const NamePairs& pairs) {
  NamePairs out;
  for (const auto& pair : pairs) {
    if (platformCanName(pair.first)) out.push_back(pair);
  }
  return out;
}

// `name` as a packer gets it: on Windows in the ANSI code page, where each
// Latin-1 letter is one byte.
std::string asArgument(const std::string& name) {
  if (!harness::kWindows) return name;
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte == 0xC2 || byte == 0xC3) {
      out += char(((byte & 0x03) << 6) | (static_cast<unsigned char>(name[++i]) & 0x3F));
    } else {
      out += name[i];
    }
  }
  return native(out);
}

Names plus(Names names, const Names& more) {
  names.insert(names.end(), more.begin(), more.end());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Conversion, EveryEndOfAConversionWithAndWithoutBreakOnError) {
  // The full path of old.xpk is only known inside a scene: "@P" stands for it.
  const std::string failed = "Convert error:       @P\n";
  const std::string left = "$TMP$.001/";
  const std::string leftContent = "$TMP$.001/content.txt";
  const Names allNames = plus(thousandWorkNames(), {"old.xpk"});
  const std::string stopped = "";  // no close-out after a stop
  const std::vector<Branch> branches = {
      {"source packer without Unpack",
       "ID\nExt XPK\n" + kYpk,
       {},
       {},
       Setup::None,
       {1, "Unknown unpacker.\n\n", stopped, {"old.xpk"}, {}},
       {1, "Unknown unpacker.\n\n", stopped, {"old.xpk"}, {}}},
      {"all 1000 work directory names taken",
       kXpk + kYpk,
       {},
       {},
       Setup::EveryWorkNameTaken,
       {1, "Can't make directory.\n", failed, allNames, {}},
       {0, report(0, 1, 0, 0, 0), failed, allNames, {}}},
      {"target exists, ExistArchive Skip",
       kXpk + kYpk + "ExistArchive Skip\n",
       {},
       {},
       Setup::TargetExists,
       {0, report(0, 0, 1, 0, 0), "Archive skipped:     @P\n", {"old.YPK", "old.xpk"}, {}},
       {0, report(0, 0, 1, 0, 0), "Archive skipped:     @P\n", {"old.YPK", "old.xpk"}, {}}},
      {"unpack program not located",
       "ID\nExt XPK\nUnpack nowhere x\n" + kYpk,
       {},
       {},
       Setup::None,
       {1, "\n", "Can't run unpacker:  nowhere\n", {left, "old.xpk"}, {}},
       {0, report(0, 1, 0, 0, 0), "Can't run unpacker:  nowhere\n" + failed, {"old.xpk"}, {}}},
      {"unpack exits 2",
       kXpk + kYpk,
       {},
       {{"RECORDER_EXIT_xpk", "2"}},
       Setup::None,
       {1, "Can't run unpacker.\n", "", {left, leftContent, "old.xpk"}, {"xpk"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.xpk"}, {"xpk"}}},
      {"unpack program cannot be started",
       "ID\nExt XPK\nUnpack broken x\n" + kYpk,
       {},
       {},
       Setup::BrokenPrograms,
       {1, "Can't run unpacker.\n", "", {left, "old.xpk"}, {}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.xpk"}, {}}},
      {"unpack killed by SIGKILL",
       kXpk + kYpk,
       {},
       {{"RECORDER_SIGNAL_xpk", "9"}},
       Setup::None,
       {1, "Can't run unpacker.\n", "", {left, leftContent, "old.xpk"}, {"xpk"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.xpk"}, {"xpk"}}},
      {"an Exec entry fails, the later ones still run",
       kXpk + kYpk + "Exec xrun first\nExec -xok never\nExec xok second\n",
       {"/t"},
       {{"RECORDER_EXIT_xrun", "1"}},
       Setup::None,
       {1,
        "Exec error:          xrun first\nExec error.\n",
        "Exec error:          xrun first\n",
        {left, leftContent, "old.xpk"},
        {"xpk", "xrun", "xok"}},
       {0,
        "Exec error:          xrun first\n" + report(0, 1, 0, 0, 0),
        "Exec error:          xrun first\n" + failed,
        {"old.xpk"},
        {"xpk", "xrun", "xok"}}},
      {"pack exits 1, test still runs",
       kXpk + kYpk,
       {"/t"},
       {{"RECORDER_EXIT_ypk", "1"}},
       Setup::None,
       {1, "Can't run packer.\n", "", {left, leftContent, "old.YPK", "old.xpk"}, {"xpk", "ypk"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.YPK", "old.xpk"}, {"xpk", "ypk", "ytest"}}},
      {"pack program cannot be started",
       kXpk + "ID\nExt YPK\nPack broken a\nTest ytest t\n",
       {"/t"},
       {},
       Setup::BrokenPrograms,
       {1, "Can't run packer.\n", "", {left, leftContent, "old.xpk"}, {"xpk"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.xpk"}, {"xpk", "ytest"}}},
      {"pack exits 0 without making the archive",
       kXpk + kYpk,
       {"/t"},
       {{"RECORDER_CREATE_ypk", ""}},
       Setup::None,
       {1, "Can't run packer.\n", "", {left, leftContent, "old.xpk"}, {"xpk", "ypk"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.xpk"}, {"xpk", "ypk", "ytest"}}},
      {"test exits 1",
       kXpk + kYpk,
       {"/t"},
       {{"RECORDER_EXIT_ytest", "1"}},
       Setup::None,
       {1,
        "Can't test archive.\n",
        "",
        {left, leftContent, "old.YPK", "old.xpk"},
        {"xpk", "ypk", "ytest"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.YPK", "old.xpk"}, {"xpk", "ypk", "ytest"}}},
      {"test program cannot be started",
       kXpk + "ID\nExt YPK\nPack ypk a\nTest broken t\n",
       {"/t"},
       {},
       Setup::BrokenPrograms,
       {1, "Can't test archive.\n", "", {left, leftContent, "old.YPK", "old.xpk"}, {"xpk", "ypk"}},
       {0, report(0, 1, 0, 0, 0), failed, {"old.YPK", "old.xpk"}, {"xpk", "ypk"}}},
      {"success",
       kXpk + kYpk,
       {"/t"},
       {},
       Setup::None,
       {0,
        report(1, 0, 0, 8, 4),
        "Convert successfull: @P\n",
        {"old.YPK"},
        {"xpk", "ypk", "ytest"}},
       {0,
        report(1, 0, 0, 8, 4),
        "Convert successfull: @P\n",
        {"old.YPK"},
        {"xpk", "ypk", "ytest"}}},
  };
  for (const Branch& branch : branches) {
    for (const bool breakOnError : {true, false}) {
      const Outcome& expected = breakOnError ? branch.withBreak : branch.goingOn;
      Scene scene;
      writeFile(scene.work("old.xpk"), "archive!");
      if (branch.setup == Setup::TargetExists) writeFile(scene.work("old.YPK"), "existing");
      if (branch.setup == Setup::EveryWorkNameTaken) {
        for (const auto& name : thousandWorkNames()) writeFile(scene.work(name), "");
      }
      if (branch.setup == Setup::BrokenPrograms) {
        writeFile(scene.bin() + "/broken", "#!/no/such/interpreter\n");
        ASSERT_EQ(::chmod((scene.bin() + "/broken").c_str(), 0755), 0);
      }
      const std::string config = "DefaultPacker YPK\nDetect Ext\nLog Yes\n" + branch.config +
                                 (breakOnError ? "BreakOnError Yes\n" : "BreakOnError No\n");
      Names args = {"old.xpk"};
      args.insert(args.end(), branch.args.begin(), branch.args.end());
      const ZelmResult result = scene.run(config, args, branch.env);
      const std::string label = branch.label +
                                (breakOnError ? " (BreakOnError Yes)\n" : " (BreakOnError No)\n") +
                                describe(result);

      EXPECT_EQ(result.exitCode, expected.exitCode) << label;
      EXPECT_EQ(result.out, expected.out) << label;
      EXPECT_EQ(result.err, "") << label;
      std::string body = expected.logBody;
      for (size_t at = body.find("@P"); at != std::string::npos; at = body.find("@P")) {
        body.replace(at, 2, native(scene.work("old.xpk")));
      }
      std::optional<std::string> reportBlock;
      if (expected.exitCode == 0) reportBlock = expected.out.substr(expected.out.find("-----"));
      ASSERT_TRUE(result.log) << label;
      EXPECT_EQ(maskTimes(*result.log), logOf("old.xpk", body, reportBlock)) << label;
      EXPECT_EQ(scene.workTree(), expected.tree) << label;
      EXPECT_EQ(scene.roles(), expected.roles) << label;
      if (branch.setup == Setup::TargetExists) {
        EXPECT_EQ(readFile(scene.work("old.YPK")), "existing") << label;
      }
      if (harness::exists(scene.work("old.xpk"))) {
        EXPECT_EQ(readFile(scene.work("old.xpk")), "archive!") << label;
      }
    }
  }
}

TEST(Conversion, PackersGetTheirArgumentsAndAppendWordsAsSeparateArguments) {
  Scene scene;
  writeFile(scene.work("old.xpk"), "archive!");
  const std::string config =
      "DefaultPacker YPK\nDetect Ext\nLog Yes\n"
      "ID\nExt XPK\nUnpack xpk x  -y\nAppend --  \"two words\"\n"
      "ID\nExt YpK\nPack ypk a\nTest ytest\tt\nAppend -z\n";
  const ZelmResult result =
      scene.run(config, {"old.xpk", "/t"},
                {{"RECORDER_PRINT_xpk", "unpacking\n"}, {"RECORDER_PRINT_ytest", "tested\n"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, "unpacking\ntested\n" + report(1, 0, 0, 8, 4));
  const auto runs = scene.records();
  ASSERT_EQ(runs.size(), 3u) << describe(result);
  EXPECT_EQ(runs[0].argv,
            (Names{scene.program("xpk"), "x", "-y", native("../old.xpk"), "--", "two words"}));
  EXPECT_EQ(runs[1].argv, (Names{scene.program("ypk"), "a", native("../old.YpK"), "-z"}));
  EXPECT_EQ(runs[2].argv, (Names{scene.program("ytest"), "t", native("../old.YpK"), "-z"}));
  for (const auto& run : runs) EXPECT_EQ(run.cwd, native(scene.work("$TMP$.001"))) << run.role();
  EXPECT_EQ(scene.workTree(), Names{"old.YpK"});
  EXPECT_EQ(readFile(scene.work("old.YpK")), "ypk\n");
}

TEST(Conversion, WithoutTestSwitchOrTestTemplateNothingIsTested) {
  const std::pair<std::string, Names> rows[] = {
      {kConfig, {"old.xpk"}},
      {kConfig, {"old.xpk", "/t", "/t-"}},
      {"DefaultPacker YPK\nDetect Ext\n" + kXpk + "ID\nExt YPK\nPack ypk a\n", {"old.xpk", "/t"}},
      {kConfig + "Test nowhere t\n", {"old.xpk", "/t"}},
  };
  for (const auto& [config, args] : rows) {
    Scene scene;
    writeFile(scene.work("old.xpk"), "archive!");
    const ZelmResult result = scene.run(config, args);
    const std::string label = ::testing::PrintToString(args) + "\n" + config;
    EXPECT_EQ(result.exitCode, 0) << label << describe(result);
    EXPECT_EQ(result.out, report(1, 0, 0, 8, 4)) << label;
    EXPECT_EQ(scene.roles(), (Names{"xpk", "ypk"})) << label;
  }
}

TEST(Conversion, DelAddAndExecShapeWhatIsPacked) {
  Scene scene;
  writeFile(scene.work("old.xpk"), "archive!");
  writeFile(scene.work("addme.txt"), "beside the archive\n");
  writeFile(scene.root("extra/keep.txt"), "added\n");
  const std::string config = kConfig +
                             "Del *.bak\nDel sub/deep.bak\nDel notes.txt\nDel -readme\n"
                             "Add " +
                             scene.root("extra/keep.txt") +
                             "\nAdd ../addme.txt\nAdd /no/such/file\n"
                             "Exec xrun one\nExec -xok never\nExec\n";
  const ZelmResult result = scene.run(
      config, {"old.xpk"},
      {{"RECORDER_CREATE_xpk",
        "a.bak:keep.txt:notes.txt:readme:old.bak/x.bak:old.bak/y.txt:gone.bak/z.bak:sub/deep.bak"},
       {"RECORDER_LIST_xrun", "1"},
       {"RECORDER_LIST_ypk", "1"},
       {"RECORDER_CREATE_ypk", "@2<keep.txt"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 6));
  EXPECT_EQ(scene.roles(), (Names{"xpk", "xrun", "ypk"}));
  const Names packed = {"addme.txt", "keep.txt", "old.bak/",    "old.bak/y.txt",
                        "readme",    "sub/",     "sub/deep.bak"};
  const auto exec = scene.runsOf("xrun");
  ASSERT_EQ(exec.size(), 1u);
  EXPECT_EQ(exec[0].argv, (Names{scene.program("xrun"), "one"}));
  EXPECT_EQ(exec[0].cwd, native(scene.work("$TMP$.001")));
  EXPECT_EQ(exec[0].files, packed) << "Exec runs after Del and Add";
  const auto pack = scene.runsOf("ypk");
  ASSERT_EQ(pack.size(), 1u);
  EXPECT_EQ(pack[0].files, packed);
  EXPECT_EQ(readFile(scene.work("old.YPK")), "added\n") << "the added file replaced the extracted";
  EXPECT_EQ(scene.workTree(), (Names{"addme.txt", "old.YPK"}));
}

TEST(Conversion, FileIdDizIsTreatedBeforePacking) {
  Scene scene;
  // The unpacker extracts the archive's own bytes as file_id.diz; the packer
  // keeps what it finds in file_id.diz as the new archive.
  writeFile(scene.work("old.xpk"), "\xC9\xCD\xBB\nText\n");
  const ZelmResult result = scene.run(
      kConfig + "File_ID.DIZ 1\n", {"old.xpk"},
      {{"RECORDER_CREATE_xpk", "file_id.diz<@2"}, {"RECORDER_CREATE_ypk", "@2<file_id.diz"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(readFile(scene.work("old.YPK")), crlf("Text\n"));
}

// The last-access time of `path` in seconds, -1 when it cannot be read.
int64_t atimeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_atime) : -1;
}

// Sets the last-access time of `path` two days back, below its write time, so
// that the next read moves it wherever access times are kept at all.
void ageAccessTime(const std::string& path) {
  const struct timespec times[2] = {{std::time(nullptr) - 2 * 86400, 0}, {0, UTIME_OMIT}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(Conversion, FileIdDizIsTreatedAfterAFailedExecUnlessTheRunStops) {
  // Nothing packs the work directory after a failed Exec entry, so the
  // treatment is seen through what it reads: the Exec program makes
  // file_id.diz a second name of a probe outside, whose access time moves
  // only when the treatment reads it. The probe itself is never written.
  const harness::TempDir scratch;
  const std::string control = scratch / "control";
  writeFile(control, "x");
  ageAccessTime(control);
  const int64_t agedControl = atimeOf(control);
  readFile(control);
  if (atimeOf(control) == agedControl) {
    GTEST_SKIP() << "this file system keeps no access times";
  }
  for (const bool breakOnError : {true, false}) {
    Scene scene;
    writeFile(scene.work("old.xpk"), "archive");
    writeFile(scene.root("probe"), "\xC9\xCD\xBB\nText\n");
    ageAccessTime(scene.root("probe"));
    const int64_t aged = atimeOf(scene.root("probe"));
    const ZelmResult result = scene.run(
        kConfig + "File_ID.DIZ 1\nExec xrun\n" + (breakOnError ? "BreakOnError Yes\n" : ""),
        {"old.xpk"},
        {{"RECORDER_CREATE_xpk", "file_id.diz"},
         {"RECORDER_HARDLINK_xrun", "file_id.diz<../../probe"},
         {"RECORDER_EXIT_xrun", "1"}});
    const std::string label = (breakOnError ? "BreakOnError Yes\n" : "\n") + describe(result);
    if (breakOnError) {
      EXPECT_EQ(result.exitCode, 1) << label;
      EXPECT_EQ(result.out, "Exec error:          xrun\nExec error.\n") << label;
      EXPECT_EQ(atimeOf(scene.root("probe")), aged) << label;
    } else {
      EXPECT_EQ(result.exitCode, 0) << label;
      EXPECT_EQ(result.out, "Exec error:          xrun\n" + report(0, 1, 0, 0, 0)) << label;
      EXPECT_NE(atimeOf(scene.root("probe")), aged) << label;
    }
    EXPECT_EQ(readFile(scene.root("probe")), "\xC9\xCD\xBB\nText\n") << label;
    EXPECT_EQ(scene.roles(), (Names{"xpk", "xrun"})) << label;
  }
}

TEST(Conversion, SizesCountConvertedArchivesOnly) {
  Scene scene;
  writeFile(scene.work("a.xpk"), "abc");
  writeFile(scene.work("b.xpk"), "abcde");
  writeFile(scene.work("c.xpk"), "abcdefg");
  writeFile(scene.work("c.YPK"), "already here");
  // The test program rewrites the archive: the size counted is the one
  // measured after the test.
  const ZelmResult result = scene.run(kConfig + "ExistArchive Skip\n", {"*.xpk", "/t"},
                                      {{"RECORDER_CONTENT_ypk", "0123456789"},
                                       {"RECORDER_CREATE_ytest", "@2"},
                                       {"RECORDER_CONTENT_ytest", "123"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(2, 0, 1, 8, 6));
  Names cwds;
  for (const auto& run : scene.runsOf("xpk")) cwds.push_back(run.cwd);
  EXPECT_EQ(cwds, (Names{native(scene.work("$TMP$.001")), native(scene.work("$TMP$.002"))}));
  EXPECT_EQ(scene.workTree(), (Names{"a.YPK", "b.YPK", "c.YPK", "c.xpk"}));
  EXPECT_EQ(readFile(scene.work("c.YPK")), "already here");
}

TEST(Conversion, ASourceChangedDuringItsConversionIsCountedAsListedAndKept) {
  Scene scene;
  writeFile(scene.work("old.xpk"), "archive!");
  setMtime(scene.work("old.xpk"), localTime(2001, 2, 3, 10, 15, 30));
  // The unpacker writes into its own archive.
  const ZelmResult result = scene.run(
      kConfig, {"old.xpk"}, {{"RECORDER_CREATE_xpk", "@2"}, {"RECORDER_CONTENT_xpk", "x"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  EXPECT_EQ(scene.workTree(), (Names{"old.YPK", "old.xpk"}));
  EXPECT_EQ(readFile(scene.work("old.xpk")), "x");
}

TEST(Conversion, KeepTimeGivesTheSourceTimeInDosForm) {
  struct Row {
    std::string label;
    int64_t source;
    int64_t expected;
  };
  const Row rows[] = {
      {"odd second", localTime(2001, 2, 3, 10, 15, 31), localTime(2001, 2, 3, 10, 15, 30)},
      {"even second", localTime(1999, 12, 31, 23, 59, 58), localTime(1999, 12, 31, 23, 59, 58)},
      {"before 1980", localTime(1975, 6, 1, 12, 0, 0), localTime(1980, 1, 1, 0, 0, 0)},
      {"after 2107", localTime(2200, 1, 1, 0, 0, 1), localTime(2107, 12, 31, 23, 59, 58)},
  };
  for (const Row& row : rows) {
    for (const char* keep : {"", "KeepTime Yes\n", "/k"}) {
      Scene scene;
      writeFile(scene.work("old.xpk"), "archive!");
      setMtime(scene.work("old.xpk"), row.source);
      Names args = {"old.xpk"};
      std::string config = kConfig;
      if (keep[0] == '/') {
        args.push_back(keep);
        config += "KeepTime No\n";
      } else {
        config += keep;
      }
      const ZelmResult result = scene.run(config, args);
      const std::string label = row.label + " with '" + keep + "'\n" + describe(result);
      ASSERT_EQ(result.exitCode, 0) << label;
      EXPECT_EQ(result.out, report(1, 0, 0, 8, 4)) << label;
      EXPECT_EQ(mtimeOf(scene.work("old.YPK")), row.expected) << label;
      EXPECT_FALSE(harness::exists(scene.work("old.xpk"))) << label;
    }
  }
}

TEST(Conversion, WithoutKeepTimeTheNewArchiveKeepsItsOwnTime) {
  const int64_t old = localTime(2001, 2, 3, 10, 15, 30);
  for (const auto& [config, args] :
       {std::pair<std::string, Names>{kConfig + "KeepTime No\n", {"old.xpk"}},
        {kConfig, {"old.xpk", "/k-"}}}) {
    Scene scene;
    writeFile(scene.work("old.xpk"), "archive!");
    setMtime(scene.work("old.xpk"), old);
    const ZelmResult result = scene.run(config, args);
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
    EXPECT_GT(mtimeOf(scene.work("old.YPK")), old) << ::testing::PrintToString(args);
  }
}

TEST(Conversion, DestinationMirrorsEveryWalkedDirectory) {
  struct Row {
    std::string destArg;  // "@R" stands for the scene's root
    std::string dest;     // relative to the root
  };
  const Row rows[] = {
      {"/d:@R/out", "out"},
      {"/d:../out", "out"},
      {"/d:@R/out dir/", "out dir"},
      {"/D:@R\\out\\", "out"},
  };
  for (const Row& row : rows) {
    Scene scene;
    std::string destArg = row.destArg;
    if (const size_t at = destArg.find("@R"); at != std::string::npos) {
      destArg.replace(at, 2, scene.root());
    }
    std::filesystem::create_directories(scene.root(row.dest));
    writeFile(scene.work("a/old.xpk"), "archive!");
    std::filesystem::create_directories(scene.work("a/b"));
    std::filesystem::create_directories(scene.work("c"));
    writeFile(scene.work("top.xpk"), "top");
    writeFile(scene.work(".hidden/in.xpk"), "hidden");
    const ZelmResult result = scene.run(kConfig, {"*.xpk", "/r", destArg});
    const std::string label = destArg + "\n" + describe(result);
    ASSERT_EQ(result.exitCode, 0) << label;
    EXPECT_EQ(result.out, report(2, 0, 0, 11, 8)) << label;
    EXPECT_EQ(listTree(scene.root(row.dest)), (Names{"a/", "a/b/", "a/old.YPK", "c/", "top.YPK"}))
        << label;
    EXPECT_EQ(scene.workTree(), (Names{".hidden/", ".hidden/in.xpk", "a/", "a/b/", "c/"})) << label;
    const auto unpacks = scene.runsOf("xpk");
    const auto packs = scene.runsOf("ypk");
    ASSERT_EQ(unpacks.size(), 2u) << label;
    ASSERT_EQ(packs.size(), 2u) << label;
    EXPECT_EQ(unpacks[0].cwd, native(scene.work("a/$TMP$.001"))) << label;
    EXPECT_EQ(unpacks[1].cwd, native(scene.work("$TMP$.002"))) << label;
    EXPECT_EQ(unpacks[0].argv.back(), native("../old.xpk")) << label;
    EXPECT_EQ(packs[0].argv,
              (Names{scene.program("ypk"), "a", native(scene.root(row.dest) + "/a/old.YPK")}))
        << label;
    EXPECT_EQ(packs[1].argv,
              (Names{scene.program("ypk"), "a", native(scene.root(row.dest) + "/top.YPK")}))
        << label;
  }
}

TEST(Conversion, SizesAreSummedIn64Bits) {
  Scene scene;
  // Sparse files: large sizes without the bytes.
  const auto sparse = [&](const std::string& name, uint64_t size) {
    writeFile(scene.work(name), "");
    std::filesystem::resize_file(scene.work(name), size);
  };
  sparse("a.xpk", (uint64_t(1) << 32) + 3);
  sparse("b.xpk", (uint64_t(1) << 32) - 1);
  const ZelmResult result = scene.run(kConfig, {"*.xpk"}, {{"RECORDER_SIZE_ypk", "@2=4294967297"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  const uint64_t before = (uint64_t(1) << 33) + 2;
  const uint64_t after = 2 * ((uint64_t(1) << 32) + 1);
  EXPECT_EQ(result.out, report(2, 0, 0, before, after));
  EXPECT_NE(result.out.find("Size before:\t8589934594 bytes\n"), std::string::npos) << result.out;
  EXPECT_EQ(scene.workTree(), (Names{"a.YPK", "b.YPK"}));
}

TEST(Conversion, TheMirrorStartsAtTheInputsDirectory) {
  Scene scene;
  writeFile(scene.work("in/top.xpk"), "top");
  writeFile(scene.work("in/deeper/old.xpk"), "archive!");
  std::filesystem::create_directories(scene.work("in/empty"));
  writeFile(scene.work("elsewhere.xpk"), "not searched");
  std::filesystem::create_directories(scene.work("out"));
  const ZelmResult result = scene.run(kConfig, {"in/*.xpk", "/r", "/d:out"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(2, 0, 0, 11, 8));
  EXPECT_EQ(listTree(scene.work("out")), (Names{"deeper/", "deeper/old.YPK", "empty/", "top.YPK"}));
  EXPECT_EQ(listTree(scene.work("in")), (Names{"deeper/", "empty/"}));
}

TEST(Conversion, NamesWithoutTheUsualExtensionConvertByTheirSignature) {
  Scene scene;
  const auto names = nameable({
      {"noext", "noext"},
      {"trailing.", "trailing"},
      {".xpk", ""},
      {"a.b.c", "a.b"},
      {"c:x.arc", "c:x"},
      {"archive.YPK.old", "archive.YPK"},
  });
  for (const auto& [name, base] : names) writeFile(scene.work(name), "XPK archive");
  const std::string config =
      "DefaultPacker YPK\nID 00 58504B\nUnpack xpk x\nExt XPK\nID\nExt YPK\nPack ypk a\n";
  const ZelmResult result = scene.run(config, {"*.*"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  const unsigned count = unsigned(names.size());
  EXPECT_EQ(result.out, report(count, 0, 0, 11 * count, 4 * count));
  Names packed;
  for (const auto& run : scene.runsOf("ypk")) packed.push_back(run.argv.back());
  Names unpacked;
  for (const auto& run : scene.runsOf("xpk")) unpacked.push_back(run.argv.back());
  Names expectedPacked;
  Names expectedUnpacked;
  for (const auto& [name, base] : names) {
    expectedPacked.push_back(native("../" + base + ".YPK"));
    expectedUnpacked.push_back(native("../" + name));
  }
  for (Names* list : {&packed, &unpacked, &expectedPacked, &expectedUnpacked})
    std::sort(list->begin(), list->end());
  EXPECT_EQ(packed, expectedPacked);
  EXPECT_EQ(unpacked, expectedUnpacked);
}

// ---------------------------------------------------------------------------
// Bad input: whatever the files are, nothing crashes and nothing is lost.

TEST(BadInput, FilesWithoutAPackerArePassedOverSilently) {
  const std::string byId =
      "DefaultPacker YPK\nLog Yes\nID 00 58504B\nExt XPK\nUnpack xpk x\nID\nExt YPK\nPack ypk a\n";
  const std::pair<std::string, std::string> rows[] = {{"by extension", kConfig},
                                                      {"by signature", byId}};
  for (const auto& [label, config] : rows) {
    Scene scene;
    writeFile(scene.work("readme.txt"), "text");
    writeFile(scene.work("noext"), "text");
    writeFile(scene.work(".dotfile"), "");
    writeFile(scene.work("empty.XPK"), "");
    writeFile(scene.work("wrong.xpk"), "XP");
    const Names before = scene.workTree();
    const ZelmResult result =
        scene.run(config, {label == "by signature" ? "*.XPK" : "*.TXT", "noext", ".dotfile"});
    ASSERT_EQ(result.exitCode, 0) << label << describe(result);
    EXPECT_EQ(result.out, report(0, 0, 0, 0, 0)) << label;
    EXPECT_EQ(scene.roles(), Names{}) << label;
    EXPECT_EQ(scene.workTree(), before) << label;
  }
}

TEST(BadInput, ArchivesTheUnpackerRejectsAreCountedAndKept) {
  Scene scene;
  writeFile(scene.work("empty.xpk"), "");
  writeFile(scene.work("garbage.xpk"), "garbage");
  writeFile(scene.work("good.xpk"), "XPK data");
  // The unpacker accepts only archives beginning with "XPK".
  const ZelmResult result = scene.run(kConfig, {"*.xpk"}, {{"RECORDER_BEGINS_xpk", "@-1=XPK"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 2, 0, 8, 4));
  EXPECT_EQ(scene.workTree(), (Names{"empty.xpk", "garbage.xpk", "good.YPK"}));
  EXPECT_EQ(readFile(scene.work("garbage.xpk")), "garbage");
  ASSERT_TRUE(result.log);
  EXPECT_EQ(maskTimes(*result.log),
            logOf("*.xpk",
                  "Convert error:       " + native(scene.work("empty.xpk")) +
                      "\nConvert error:       " + native(scene.work("garbage.xpk")) +
                      "\nConvert successfull: " + native(scene.work("good.xpk")) + "\n",
                  report(1, 2, 0, 8, 4)));
}

TEST(BadInput, ADirectoryNamedLikeAnArchiveIsNeverUnpacked) {
  for (const bool recurse : {false, true}) {
    Scene scene;
    writeFile(scene.work("dir.xpk/inner.xpk"), "inner");
    Names args = {"*.xpk"};
    if (recurse) args.push_back("/r");
    const ZelmResult result = scene.run(kConfig, args);
    const std::string label = (recurse ? "/r\n" : "\n") + describe(result);
    ASSERT_EQ(result.exitCode, 0) << label;
    Names unpacked;
    for (const auto& run : scene.runsOf("xpk")) unpacked.push_back(run.cwd + " " + run.argv.back());
    if (recurse) {
      EXPECT_EQ(result.out, report(1, 0, 0, 5, 4)) << label;
      EXPECT_EQ(unpacked, Names{native(scene.work("dir.xpk/$TMP$.001") + " ../inner.xpk")})
          << label;
      EXPECT_EQ(scene.workTree(), (Names{"dir.xpk/", "dir.xpk/inner.YPK"})) << label;
    } else {
      EXPECT_EQ(result.out, report(0, 0, 0, 0, 0)) << label;
      EXPECT_EQ(unpacked, Names{}) << label;
      EXPECT_EQ(scene.workTree(), (Names{"dir.xpk/", "dir.xpk/inner.xpk"})) << label;
    }
  }
}

TEST(BadInput, AProgramKilledByASignalFailsTheConversion) {
  const std::pair<std::string, std::string> rows[] = {
      {"ypk", "9"}, {"ypk", "11"}, {"ytest", "6"}, {"xrun", "15"}};
  for (const auto& [role, signal] : rows) {
    Scene scene;
    writeFile(scene.work("old.xpk"), "archive!");
    const ZelmResult result = scene.run(kConfig + "Exec xrun\n", {"old.xpk", "/t"},
                                        {{"RECORDER_SIGNAL_" + role, signal}});
    const std::string label = role + " killed by " + signal + "\n" + describe(result);
    EXPECT_EQ(result.exitCode, 0) << label;
    const std::string execError = role == "xrun" ? "Exec error:          xrun\n" : "";
    EXPECT_EQ(result.out, execError + report(0, 1, 0, 0, 0)) << label;
    EXPECT_TRUE(harness::exists(scene.work("old.xpk"))) << label;
    EXPECT_FALSE(harness::exists(scene.work("$TMP$.001"))) << label;
  }
}

TEST(BadInput, AReadOnlySourceIsConvertedAndRemoved) {
  Scene scene;
  writeFile(scene.work("old.xpk"), "archive!");
  ASSERT_EQ(::chmod(scene.work("old.xpk").c_str(), 0444), 0);
  const ZelmResult result = scene.run(kConfig, {"old.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  EXPECT_EQ(scene.workTree(), Names{"old.YPK"});
}

// Every byte of a name but the path separator is an ordinary byte: the
// packers get the name as one argument, and the conversion goes through.
// Names the platform cannot hold are left out.
void expectConvertedByName(const NamePairs& all) {
  const NamePairs names = nameable(all);
  Scene scene;
  Names expectedTree;
  for (const auto& [source, base] : names) {
    writeFile(scene.work(source), "archive!");
    expectedTree.push_back(base + ".YPK");
  }
  std::sort(expectedTree.begin(), expectedTree.end());
  const ZelmResult result = scene.run(kConfig, {"*.*"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(unsigned(names.size()), 0, 0, unsigned(8 * names.size()),
                               unsigned(4 * names.size())));
  Names unpacked;
  Names packed;
  for (const auto& run : scene.runsOf("xpk")) {
    EXPECT_EQ(run.argv.size(), 3u) << ::testing::PrintToString(run.argv);
    unpacked.push_back(run.argv.back());
  }
  for (const auto& run : scene.runsOf("ypk")) {
    EXPECT_EQ(run.argv.size(), 3u) << ::testing::PrintToString(run.argv);
    packed.push_back(run.argv.back());
  }
  std::sort(unpacked.begin(), unpacked.end());
  std::sort(packed.begin(), packed.end());
  Names expectedUnpacked;
  Names expectedPacked;
  for (const auto& [source, base] : names) {
    expectedUnpacked.push_back(asArgument("../" + source));
    expectedPacked.push_back(asArgument("../" + base + ".YPK"));
  }
  std::sort(expectedUnpacked.begin(), expectedUnpacked.end());
  std::sort(expectedPacked.begin(), expectedPacked.end());
  EXPECT_EQ(unpacked, expectedUnpacked);
  EXPECT_EQ(packed, expectedPacked);
  EXPECT_EQ(scene.workTree(), expectedTree);
}

TEST(BadInput, HostileNamesReachThePackersAsOneArgument) {
  expectConvertedByName({
      {"my file.xpk", "my file"},
      {" lead and trail .xpk", " lead and trail "},
      {"-rf.xpk", "-rf"},
      {"--output=x.xpk", "--output=x"},
      {"say \"hi\".xpk", "say \"hi\""},
      {"\"q.xpk", "\"q"},
      {"\"two words\".xpk", "\"two words\""},
      {"$HOME.xpk", "$HOME"},
      {"a;b.xpk", "a;b"},
      {"`id`.xpk", "`id`"},
      {"'single'.xpk", "'single'"},
      {"star*?.xpk", "star*?"},
      {"tab\there.xpk", "tab\there"},
      {"new\nline.xpk", "new\nline"},
      {"caf\xC3\xA9.xpk", "caf\xC3\xA9"},
      {"\xE9t\xE9.xpk", "\xE9t\xE9"},
      {"many.dots.in.it.xpk", "many.dots.in.it"},
  });
}

TEST(BadInput, ABackslashInANameIsAnOrdinaryByte) {
  // b.xpk must not be unpacked in place of a\b.xpk (which would then be
  // deleted unconverted).
  Scene scene;
  writeFile(scene.work("a\\b.xpk"), "AAAA");
  writeFile(scene.work("b.xpk"), "B");
  const ZelmResult result = scene.run(kConfig, {"*.xpk"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  Names unpacked;
  for (const auto& run : scene.runsOf("xpk")) unpacked.push_back(run.argv.back());
  EXPECT_EQ(unpacked, (Names{"../a\\b.xpk", "../b.xpk"}));
  Names packed;
  for (const auto& run : scene.runsOf("ypk")) packed.push_back(run.argv.back());
  EXPECT_EQ(packed, (Names{"../a\\b.YPK", "../b.YPK"}));
  EXPECT_EQ(scene.workTree(), (Names{"a\\b.YPK", "b.YPK"}));
}

TEST(BadInput, ANewNameTooLongForTheFileSystemFailsAndKeepsTheSource) {
  Scene scene;
  const std::string name = std::string(253, 'n') + ".x";
  writeFile(scene.work(name), "archive!");
  const ZelmResult result = scene.run(kConfig + "ID\nExt X\nUnpack xpk x\n", {"*.x"});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(0, 1, 0, 0, 0));
  EXPECT_EQ(scene.workTree(), Names{name});
}

const std::string kLevel(250, 'd');

// Opens the directory `levels` levels of kLevel below `dir`, creating them
// when asked, one level at a time, as no single path may be that long.
int openDeep(const std::string& dir, int levels, bool create) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < levels && fd >= 0; ++i) {
    if (create) ::mkdirat(fd, kLevel.c_str(), 0755);
    const int next = ::openat(fd, kLevel.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  return fd;
}

TEST(BadInput, ATreeDeeperThanAnyPathLimitConvertsLikeAnyOther) {
  Scene scene;
  constexpr int kLevels = 18;
  const int64_t sourceTime = localTime(2001, 2, 3, 10, 15, 30);
  int fd = openDeep(scene.work(), kLevels, true);
  ASSERT_GE(fd, 0);
  const int source = ::openat(fd, "old.xpk", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_EQ(::write(source, "archive!", 8), 8);
  const struct timespec times[2] = {{time_t(sourceTime), 0}, {time_t(sourceTime), 0}};
  ASSERT_EQ(::futimens(source, times), 0);
  ::close(source);
  ::close(fd);

  const ZelmResult result = scene.run(kConfig + "Log No\n", {"*.xpk", "/r"});

  Names deepest;
  int64_t newTime = -1;
  fd = openDeep(scene.work(), kLevels, false);
  if (DIR* stream = fd >= 0 ? ::fdopendir(fd) : nullptr) {
    while (const dirent* entry = ::readdir(stream)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") deepest.push_back(name);
    }
    struct stat st;
    if (::fstatat(::dirfd(stream), "old.YPK", &st, 0) == 0) newTime = st.st_mtime;
    ::closedir(stream);
  }
  std::sort(deepest.begin(), deepest.end());
  // The scene's own clean-up works on whole paths, too long here.
  harness::runBinary("/bin/rm", {"-rf", "--", kLevel}, scene.work(), {});

  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 8, 4));
  std::string deep;
  for (int i = 0; i < kLevels; ++i) deep += kLevel + "/";
  const auto packs = scene.runsOf("ypk");
  ASSERT_EQ(packs.size(), 1u);
  EXPECT_EQ(packs[0].cwd, scene.work(deep + "$TMP$.001"));
  EXPECT_EQ(deepest, Names{"old.YPK"});
  EXPECT_EQ(newTime, sourceTime);
}

}  // namespace
