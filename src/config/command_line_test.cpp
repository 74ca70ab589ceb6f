// Unit tests of the command-line parser: switches, packer names, destination.
#include "config/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/platform.h"

namespace {

// Runs the parse over `args`, the program name put in front.
ArgumentsResult apply(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"zelm"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return applyArguments(int(argv.size() - 1), argv.data());
}

std::string joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) out += "[" + arg + "]";
  return out;
}

void addPacker(const char* ext) {
  PackerDef packer;
  packer.ext = ext;
  settings.packers.push_back(packer);
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = Settings{}; }
};

struct SwitchRow {
  std::vector<std::string> args;
  int Settings::*field;
  int before;
  int after;
};

TEST_F(CommandLineTest, SwitchTable) {
  const SwitchRow rows[] = {
      {{"/id"}, &Settings::detectById, 0, 1},
      {{"/ID"}, &Settings::detectById, 0, 1},
      {{"/ext"}, &Settings::detectById, 1, 0},
      {{"/EXT"}, &Settings::detectById, 1, 0},
      {{"/r"}, &Settings::recurse, 0, 1},
      {{"/r+"}, &Settings::recurse, 0, 1},
      {{"/R+"}, &Settings::recurse, 0, 1},
      {{"/r-"}, &Settings::recurse, 1, 0},
      {{"/r", "/r-"}, &Settings::recurse, 0, 0},
      {{"/r-", "/r"}, &Settings::recurse, 0, 1},
      {{"/k"}, &Settings::keepTime, 0, 1},
      {{"/k+"}, &Settings::keepTime, 0, 1},
      {{"/k-"}, &Settings::keepTime, 1, 0},
      {{"/t"}, &Settings::testArchive, 0, 1},
      {{"/T+"}, &Settings::testArchive, 0, 1},
      {{"/t-"}, &Settings::testArchive, 1, 0},
      {{"/md"}, &Settings::makeDescription, 0, 1},
      {{"/Md"}, &Settings::makeDescription, 0, 1},
      {{"/d"}, &Settings::updateDescription, 0, 1},
      {{"/d+"}, &Settings::updateDescription, 0, 1},
      {{"/D-"}, &Settings::updateDescription, 1, 0},
  };
  for (const SwitchRow& row : rows) {
    settings = Settings{};
    settings.*row.field = row.before;
    EXPECT_EQ(apply(row.args), ArgumentsResult::Done) << joined(row.args);
    EXPECT_EQ(settings.*row.field, row.after) << joined(row.args);
    EXPECT_FALSE(settings.destinationDir.has_value()) << joined(row.args);
    EXPECT_TRUE(settings.inputNames.empty()) << joined(row.args);
  }
}

TEST_F(CommandLineTest, NoSwitchTurnsMakeDescriptionOff) {
  settings.makeDescription = 1;
  for (const char* arg : {"/md-", "/md+"}) {
    EXPECT_EQ(apply({arg}), ArgumentsResult::Error) << arg;
    EXPECT_EQ(settings.makeDescription, 1) << arg;
  }
}

TEST_F(CommandLineTest, PackerNamesAfterTheSwitchTable) {
  struct Row {
    std::vector<std::string> args;
    ArgumentsResult result;
    int targetPacker;
  };
  const Row rows[] = {
      {{"/xyz"}, ArgumentsResult::Done, 1},
      {{"/XyZ"}, ArgumentsResult::Done, 1},
      {{"/xyz", "/abc"}, ArgumentsResult::Done, 2},
      {{"/abc", "/xyz"}, ArgumentsResult::Done, 1},
      {{"/r"}, ArgumentsResult::Done, -1},  // the switch wins over the packer "R"
      {{"/id"}, ArgumentsResult::Done, -1},
      {{"/r+x"}, ArgumentsResult::Done, 3},
      {{"/"}, ArgumentsResult::Done, 5},
      {{"/dup"}, ArgumentsResult::Done, 6},
      {{"/xy"}, ArgumentsResult::Error, -1},
      {{"/xyz "}, ArgumentsResult::Error, -1},
      {{"/rar"}, ArgumentsResult::Error, -1},
  };
  for (const Row& row : rows) {
    settings = Settings{};
    for (const char* ext : {"R", "XYZ", "abc", "r+x", "ID", "", "DUP", "dup"}) addPacker(ext);
    EXPECT_EQ(apply(row.args), row.result) << joined(row.args);
    EXPECT_EQ(settings.targetPacker, row.targetPacker) << joined(row.args);
    EXPECT_EQ(settings.recurse, row.args[0] == "/r" ? 1 : 0) << joined(row.args);
  }
}

TEST_F(CommandLineTest, PackerSwitchOverridesTheConfiguredPacker) {
  addPacker("ABC");
  addPacker("XYZ");
  settings.targetPacker = 0;
  EXPECT_EQ(apply({"/xyz"}), ArgumentsResult::Done);
  EXPECT_EQ(settings.targetPacker, 1);
}

TEST_F(CommandLineTest, UnknownSwitchesAreErrors) {
  const std::vector<std::vector<std::string>> rows = {
      {"/"},
      {"/r+x"},
      {"/q"},
      {"/dd"},
      {"/d :x"},
      {"/xyz"},
      {"/-r"},
      {"/bad", "/?"},
      {"a", "/bad"},
      {"/md-"},
      {"/" + std::string(10000, 'w')},
  };
  for (const auto& args : rows) {
    settings = Settings{};
    EXPECT_EQ(apply(args), ArgumentsResult::Error) << joined(args);
  }
}

TEST_F(CommandLineTest, ParsingStopsAtTheFirstErrorOrUsage) {
  EXPECT_EQ(apply({"in1", "/bad", "in2", "/r"}), ArgumentsResult::Error);
  EXPECT_EQ(settings.inputNames, std::vector<std::string>{"in1"});
  EXPECT_EQ(settings.recurse, 0);

  settings = Settings{};
  EXPECT_EQ(apply({"/r", "/?", "/bad", "in"}), ArgumentsResult::Usage);
  EXPECT_EQ(settings.recurse, 1);
  EXPECT_TRUE(settings.inputNames.empty());
}

TEST_F(CommandLineTest, NoArgumentsAsksForUsage) {
  EXPECT_EQ(apply({}), ArgumentsResult::Usage);
  EXPECT_EQ(apply({"/?"}), ArgumentsResult::Usage);
}

TEST_F(CommandLineTest, UnixHelpAndVersionRequestsAreExactWords) {
  EXPECT_EQ(apply({"--help"}), ArgumentsResult::Usage);
  EXPECT_EQ(apply({"in", "-h", "/bad"}), ArgumentsResult::Usage);
  EXPECT_EQ(apply({"--version", "/bad"}), ArgumentsResult::Version);
  EXPECT_EQ(apply({"/bad", "--version"}), ArgumentsResult::Error);

  settings = Settings{};
  ASSERT_EQ(apply({"--verbose", "-help", "--HELP", "-v", "--version=2"}), ArgumentsResult::Done);
  EXPECT_EQ(settings.inputNames,
            (std::vector<std::string>{"--verbose", "-help", "--HELP", "-v", "--version=2"}));
}

TEST_F(CommandLineTest, ASlashArgumentWithASecondSlashIsAnAbsolutePath) {
  addPacker("7z");
  addPacker("a/b");
  ASSERT_EQ(apply({"/srv/bbs/*.*", "/r", "/7z", "/d:/srv/new", "/tmp/", "//", "/r/x", "/a/b"}),
            ArgumentsResult::Done);
  EXPECT_EQ(settings.inputNames, (std::vector<std::string>{"/srv/bbs/*.*", "/tmp/", "//", "/r/x"}));
  EXPECT_EQ(settings.recurse, 1);
  EXPECT_EQ(settings.targetPacker, 1);
  EXPECT_EQ(settings.destinationDir, "/srv/new");

  for (const std::string lone : {"/srv", "/srv\\x", "/7z+"}) {
    settings.inputNames.clear();
    EXPECT_EQ(apply({lone}), ArgumentsResult::Error) << lone;
    EXPECT_TRUE(settings.inputNames.empty()) << lone;
  }
}

TEST_F(CommandLineTest, InputNamesAndListFilesAreStoredWhole) {
  const std::vector<std::string> args = {"-r",  "@lists.txt", "*.zip",      "@",  "",
                                         "a b", "C:x",        "sub\\*.arj", "@@x"};
  ASSERT_EQ(apply(args), ArgumentsResult::Done);
  EXPECT_EQ(settings.inputNames,
            (std::vector<std::string>{"-r", "*.zip", "", "a b", "C:x", "sub\\*.arj"}));
  EXPECT_EQ(settings.listFiles, (std::vector<std::string>{"@lists.txt", "@", "@@x"}));
}

TEST_F(CommandLineTest, ThousandArgumentsAreAllKept) {
  std::vector<std::string> args;
  for (int i = 0; i < 1000; ++i) {
    args.push_back((i % 2 ? "@list" : "name") + std::to_string(i));
  }
  ASSERT_EQ(apply(args), ArgumentsResult::Done);
  ASSERT_EQ(settings.inputNames.size(), 500u);
  ASSERT_EQ(settings.listFiles.size(), 500u);
  EXPECT_EQ(settings.inputNames.front(), "name0");
  EXPECT_EQ(settings.inputNames.back(), "name998");
  EXPECT_EQ(settings.listFiles.back(), "@list999");
}

TEST_F(CommandLineTest, TenThousandCharacterArguments) {
  const std::string name(10000, 'n');
  ASSERT_EQ(apply({name, "@" + name}), ArgumentsResult::Done);
  EXPECT_EQ(settings.inputNames, std::vector<std::string>{name});
  EXPECT_EQ(settings.listFiles, std::vector<std::string>{"@" + name});

  ASSERT_EQ(apply({"/d:/" + name}), ArgumentsResult::Done);
  EXPECT_EQ(settings.destinationDir, "/" + name);
}

TEST_F(CommandLineTest, DestinationForms) {
  const std::string cwd = platform::currentDirectory();
  ASSERT_FALSE(cwd.empty());
  const std::string base = cwd == "/" ? "" : cwd;
  struct Row {
    std::vector<std::string> args;
    std::string expected;
  };
  const Row rows[] = {
      {{"/d:/srv/out/"}, "/srv/out"},
      {{"/D:/srv/out"}, "/srv/out"},
      {{"/d:/srv/out\\"}, "/srv/out"},
      {{"/d:/srv/out//"}, "/srv/out"},
      {{"/d:/srv//out/./x/.."}, "/srv/out"},
      {{"/d:\\srv\\out"}, "/srv/out"},
      {{"/d:/"}, ""},
      {{"/d:\\"}, ""},
      {{"/d:"}, ""},
      {{"/d:/.."}, ""},
      {{"/d:."}, cwd == "/" ? "" : cwd},
      {{"/d:sub"}, base + "/sub"},
      {{"/d:sub/"}, base + "/sub"},
      {{"/d:sub\\deep"}, base + "/sub/deep"},
      {{"/d:./sub/../other"}, base + "/other"},
      {{"/d:/first", "/d:/second"}, "/second"},
      {{"/d:/first", "/d:"}, ""},
  };
  for (const Row& row : rows) {
    settings = Settings{};
    ASSERT_EQ(apply(row.args), ArgumentsResult::Done) << joined(row.args);
    ASSERT_TRUE(settings.destinationDir.has_value()) << joined(row.args);
    EXPECT_EQ(*settings.destinationDir, row.expected) << joined(row.args);
    EXPECT_EQ(settings.updateDescription, 0) << joined(row.args);
  }
}

TEST_F(CommandLineTest, SlashDWithoutColonIsTheDescriptionSwitch) {
  ASSERT_EQ(apply({"/d"}), ArgumentsResult::Done);
  EXPECT_FALSE(settings.destinationDir.has_value());
  EXPECT_EQ(settings.updateDescription, 1);
}

TEST_F(CommandLineTest, UsageTextReadsAsDocumented) {
  const std::string text = usageText();
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0].rfind("Zelm. Version 1.30", 0), 0u) << lines[0];
  EXPECT_FALSE(lines[1].empty());
  const std::vector<std::string> body(lines.begin() + 2, lines.end());
  const std::vector<std::string> expected = {
      "Use:",
      " ZELM [ArcName] [Mask] [@FileList] [switches]",
      " /packer - name of packer",
      " /id     - detect by ID",
      " /ext    - detect by Extension",
      " /r[-]   - convert archives in subdirectories",
      " /k[+]   - keep archive time",
      " /t[-]   - test archive",
      " /d:[Drive:][Path] - destination directory",
      " /md     - make description",
      " /d[+]   - update description",
      " /?      - brief help",
      "",
  };
  ASSERT_EQ(body.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(body[i], expected[i]) << "line " << i;
  EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

// The process-ending paths: the console bytes go to a file the parent reads.
class CommandLineExitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings{};
    const std::string name = std::string("zelm_command_line_test_") +
                             std::to_string(std::random_device{}()) + "_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    outputPath_ = (std::filesystem::temp_directory_path() / name).string();
    // What the parent has buffered must not be written again by the child.
    std::fflush(stdout);
  }
  void TearDown() override { std::remove(outputPath_.c_str()); }

  void runToExit(std::vector<std::string> args) {
    std::vector<const char*> argv{"zelm"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    if (!std::freopen(outputPath_.c_str(), "w", stdout)) std::_Exit(99);
    parseCommandLine(int(argv.size()), argv.data());
    std::_Exit(98);  // parseCommandLine returned instead of ending the process
  }

  std::string output() const {
    std::ifstream in(outputPath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string outputPath_;
};

TEST_F(CommandLineExitTest, NoArgumentsPrintsUsageAndExitsZero) {
  EXPECT_EXIT(runToExit({}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(output(), usageText());
}

TEST_F(CommandLineExitTest, HelpSwitchPrintsUsageAndExitsZero) {
  EXPECT_EXIT(runToExit({"in", "/?", "/bad"}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(output(), usageText());
}

TEST_F(CommandLineExitTest, VersionPrintsTheVersionAndExitsZero) {
  EXPECT_EXIT(runToExit({"--version"}), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(output(), versionText());
  EXPECT_EQ(versionText().rfind("zelm 1.", 0), 0u) << versionText();
}

TEST_F(CommandLineExitTest, UnknownSwitchPrintsErrorAndExitsOne) {
  EXPECT_EXIT(runToExit({"/bad", "/?"}), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(output(), "Command line error.\n");
}

TEST_F(CommandLineExitTest, ValidArgumentsReturn) {
  const char* argv[] = {"zelm", "/r", "in", nullptr};
  parseCommandLine(3, argv);
  EXPECT_EQ(settings.recurse, 1);
  EXPECT_EQ(settings.inputNames, std::vector<std::string>{"in"});
}

}  // namespace
