// Unit tests of locating and running programs on Windows: .COM and .EXE
// probing, batch files never located, PATH split at ";" with drive entries,
// and the raw command line a program gets, seen by the recorder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "convert/external_program.h"
#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

class ExternalProgramWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* path = std::getenv("PATH")) oldPath_ = path;
  }
  void TearDown() override {
    setEnv("PATH", oldPath_);
    setEnv("RECORDER_LOG", "");
    setEnv("RECORDER_EXIT", "");
    setEnv("RECORDER_SIGNAL", "");
  }

  static void setEnv(const std::string& name, const std::string& value) {
    _putenv((name + "=" + value).c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "\\" + name; }

  void file(const std::string& name) const {
    fs::create_directories(fs::path(path(name)).parent_path());
    std::ofstream(path(name), std::ios::binary) << "MZ";
  }

  std::string recorder(const std::string& name) const {
    fs::create_directories(fs::path(path(name)).parent_path());
    fs::copy_file(RECORDER_BINARY, path(name), fs::copy_options::overwrite_existing);
    return path(name);
  }

  // The command line of the recorder's last run, from its record file.
  std::string lastLine() const {
    std::ifstream in(path("records"), std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const size_t at = text.rfind("\nline ");
    if (at == std::string::npos) return "(no line recorded)";
    const size_t blank = text.find(' ', at + 6);
    return text.substr(blank + 1, std::stoul(text.substr(at + 6)));
  }

  ScratchDir scratch_{"extprog"};
  const std::string dir_ = platform::currentDirectory();
  std::string oldPath_;
};

TEST_F(ExternalProgramWin32, ComThenExeEachInTheCurrentDirectoryThenAlongPath) {
  file("xpk.EXE");
  file("bin\\xpk.COM");
  file("bin\\tool.exe");
  setEnv("PATH", path("bin"));
  EXPECT_EQ(locateProgram("xpk", LocateScope::StartUp), path("bin\\xpk.COM"));
  EXPECT_EQ(locateProgram("tool", LocateScope::StartUp), path("bin\\tool.EXE"))
      << "the probe's spelling, found whatever the file's case";
  // A name with a program extension is tried as written first.
  EXPECT_EQ(locateProgram("XPK.exe", LocateScope::StartUp), path("XPK.exe"));
  // A bare name is tried as written too, but a directory never counts.
  fs::create_directory(path("bin\\dir"));
  EXPECT_EQ(locateProgram("dir", LocateScope::StartUp), std::nullopt);
}

TEST_F(ExternalProgramWin32, ABatchFileIsNeverLocated) {
  file("bin\\xpk.bat");
  file("bin\\xpk.cmd");
  file("pk.bat");
  setEnv("PATH", path("bin"));
  EXPECT_EQ(locateProgram("xpk.bat", LocateScope::StartUp), std::nullopt);
  EXPECT_EQ(locateProgram("xpk", LocateScope::StartUp), std::nullopt);
  EXPECT_EQ(locateProgram("pk.bat", LocateScope::StartUp), std::nullopt);
  file("bin\\xpk.exe");
  EXPECT_EQ(locateProgram("xpk.bat", LocateScope::StartUp), path("bin\\xpk.EXE"));
}

TEST_F(ExternalProgramWin32, ADirectoryPartIsDroppedByTheProbes) {
  file("tools\\xpk.exe");
  file("bin\\xpk.exe");
  setEnv("PATH", path("bin"));
  // "..\tools\xpk.exe" fits neither mask: the mask's dot meets the name's.
  EXPECT_EQ(locateProgram("..\\" + fs::path(dir_).filename().string() + "\\tools\\xpk.exe",
                          LocateScope::StartUp),
            path("bin\\xpk.EXE"));
  EXPECT_EQ(locateProgram(path("tools\\xpk.exe"), LocateScope::StartUp), path("tools\\xpk.exe"));
  EXPECT_EQ(locateProgram(path("tools\\xpk"), LocateScope::StartUp), path("bin\\xpk.EXE"));
}

TEST_F(ExternalProgramWin32, PathEntriesAreSplitAtSemicolonsAndADriveAloneIsItsDirectory) {
  file("bin\\one.exe");
  file("two.exe");
  file("rel\\three.exe");
  const std::string drive = dir_.substr(0, 2);
  setEnv("PATH", ";;" + path("bin") + "\\;" + drive + ";rel");
  EXPECT_EQ(locateProgram("one", LocateScope::StartUp), path("bin\\one.EXE"));
  EXPECT_EQ(locateProgram("one", LocateScope::InSearch), path("bin\\one.EXE"));
  EXPECT_EQ(locateProgram("three", LocateScope::StartUp), path("rel\\three.EXE"));
  // Inside the search only the absolute entries count: not "rel", not "C:".
  EXPECT_EQ(locateProgram("three", LocateScope::InSearch), std::nullopt);
  if (!fs::is_directory("Z:\\tmp") || drive == "Z:") return;
  // From another drive, "C:" names the directory that is current on C:.
  ASSERT_TRUE(platform::changeDirectory("Z:\\tmp"));
  EXPECT_EQ(locateProgram("two", LocateScope::StartUp), path("two.EXE"));
  EXPECT_EQ(locateProgram("two", LocateScope::InSearch), std::nullopt);
  platform::changeDirectory(dir_);
}

TEST_F(ExternalProgramWin32, AProgramGetsItsCommandLineAsTheTemplateWroteIt) {
  const std::string xpk = recorder("bin\\xpk.exe");
  const std::string spaced = recorder("my tools\\ypk.exe");
  setEnv("RECORDER_LOG", path("records"));
  struct Row {
    std::string program;
    std::string args;
    std::optional<std::string> reference;
    std::string append;
    std::string line;
  };
  const Row rows[] = {
      {xpk, "x -y", std::string("..\\OLD.XPK"), "", xpk + " x -y ..\\OLD.XPK"},
      {xpk, "x  \"a b\"\t-c", std::string("\"..\\MY FILE.XPK\""), "-z \"q r\"",
       xpk + " x  \"a b\"\t-c \"..\\MY FILE.XPK\" -z \"q r\""},
      {xpk, "", std::string("..\\A.XPK"), "", xpk + "  ..\\A.XPK"},
      {xpk, "one", std::nullopt, "", xpk + " one"},
      {spaced, "a", std::string("..\\B.XPK"), "", "\"" + spaced + "\" a ..\\B.XPK"},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(runProgram(row.program, row.args, row.reference, row.append), 0) << row.line;
    EXPECT_EQ(lastLine(), row.line);
  }
}

TEST_F(ExternalProgramWin32, ExitCodesAboveTwoToTheThirtyFirstAndProgramsThatCannotStart) {
  const std::string xpk = recorder("xpk.exe");
  setEnv("RECORDER_LOG", path("records"));
  setEnv("RECORDER_EXIT", "7");
  EXPECT_EQ(runProgram(xpk, ""), 7);
  setEnv("RECORDER_EXIT", "");
  setEnv("RECORDER_SIGNAL", "11");
  EXPECT_EQ(runProgram(xpk, ""), int(0xC0000005u)) << "an access violation is a failure";
  setEnv("RECORDER_SIGNAL", "");
  std::ofstream(path("plain"), std::ios::binary) << "not a program";
  EXPECT_EQ(runProgram(path("plain"), ""), -1);
  EXPECT_EQ(runProgram(path("missing.exe"), ""), -1);
}

}  // namespace
