// Unit tests of template splitting, program location and program runs.
#include "convert/external_program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "run/output.h"

namespace {

TEST(SplitTemplate, FirstWordAndTheTextAfterItsDelimiter) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"xpk -a -b", "xpk", "-a -b"},
      {"xpk", "xpk", ""},
      {"xpk ", "xpk", ""},
      {"xpk  two  blanks ", "xpk", " two  blanks "},
      {"xpk\t-x", "xpk", "-x"},
      {"xpk\n-x", "xpk", "-x"},
      {" \t\nxpk -x", "xpk", "-x"},
      {"", "", ""},
      {" \t ", "", ""},
      {"C:\\UTIL\\XPK.EXE x -y", "C:\\UTIL\\XPK.EXE", "x -y"},
  };
  for (const auto& [text, program, args] : rows) {
    const auto split = splitTemplate(text);
    EXPECT_EQ(split.program, program) << "template: [" << text << "]";
    EXPECT_EQ(split.args, args) << "template: [" << text << "]";
  }
}

TEST(SplitWords, WindowsCommandLineRules) {
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"", {}},
      {" \t ", {}},
      {"a b", {"a", "b"}},
      {"  a \t b  ", {"a", "b"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"-x \"\" y", {"-x", "", "y"}},
      {"a\\b", {"a\\b"}},
      {"a\\\\b", {"a\\\\b"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"open ended", {"open ended"}},
      {"tail\\", {"tail\\"}},
      {"*.* $HOME;x", {"*.*", "$HOME;x"}},
  };
  for (const auto& [text, words] : rows) {
    EXPECT_EQ(splitWords(text), words) << "text: [" << text << "]";
  }
}

// A scratch directory made current for the test, with PATH under control.
class ExternalProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelm-extprog-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    startDir_ = platform::currentDirectory();
    ASSERT_TRUE(platform::changeDirectory(dir_));
    if (const char* path = std::getenv("PATH")) oldPath_ = path;
  }
  void TearDown() override {
    if (oldPath_) {
      ::setenv("PATH", oldPath_->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
    platform::changeDirectory(startDir_);
    closeLog();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void makeDir(const std::string& name) const { std::filesystem::create_directories(path(name)); }

  void write(const std::string& name, const std::string& text, bool executable) const {
    {
      std::ofstream out(path(name), std::ios::binary);
      out << text;
    }
    ::chmod(path(name).c_str(), executable ? 0755 : 0644);
  }

  void program(const std::string& name) const { write(name, "#!/bin/sh\nexit 0\n", true); }

  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  void setPath(const std::string& value) const { ::setenv("PATH", value.c_str(), 1); }

  std::string dir_;
  std::string startDir_;
  std::optional<std::string> oldPath_;
};

TEST_F(ExternalProgram, StartUpFindsTheNameInTheCurrentDirectoryFirst) {
  makeDir("bin");
  program("tool");
  program("bin/tool");
  setPath(path("bin"));
  EXPECT_EQ(locateProgram("tool", LocateScope::StartUp), path("tool"));
  EXPECT_EQ(locateProgram("tool", LocateScope::InSearch), path("bin/tool"));
}

TEST_F(ExternalProgram, OnlyRegularExecutableFilesCount) {
  makeDir("bin");
  makeDir("tool");
  makeDir("bin/data");
  write("data", "not a program", false);
  program("bin/tool");
  write("bin/data.COM", "", false);
  program("bin/data.EXE");
  setPath(path("bin"));
  EXPECT_EQ(locateProgram("tool", LocateScope::StartUp), path("bin/tool"));
  EXPECT_EQ(locateProgram("data", LocateScope::StartUp), path("bin/data.EXE"));
  EXPECT_EQ(locateProgram("missing", LocateScope::StartUp), std::nullopt);
  EXPECT_EQ(locateProgram("", LocateScope::StartUp), std::nullopt);
}

TEST_F(ExternalProgram, ProbesTheNameThenComThenExeEachAlongPath) {
  makeDir("bin");
  program("xpk.EXE");
  program("bin/xpk.COM");
  setPath(path("bin"));
  // The whole search for .COM comes before .EXE in the current directory.
  EXPECT_EQ(locateProgram("xpk", LocateScope::StartUp), path("bin/xpk.COM"));
  program("bin/xpk");
  EXPECT_EQ(locateProgram("xpk", LocateScope::StartUp), path("bin/xpk"));
  // Any extension is tried as written first; the probes replace it.
  program("xpk.bat");
  EXPECT_EQ(locateProgram("xpk.bat", LocateScope::StartUp), path("xpk.bat"));
  EXPECT_EQ(locateProgram("xpk.sh", LocateScope::StartUp), path("bin/xpk.COM"));
}

TEST_F(ExternalProgram, ProbesDropTheDirectoryPart) {
  makeDir("tools");
  makeDir("bin");
  program("tools/xpk.EXE");
  program("bin/xpk.EXE");
  setPath(path("bin"));
  EXPECT_EQ(locateProgram("tools/xpk", LocateScope::StartUp), path("bin/xpk.EXE"));
  setPath("/nonexistent");
  EXPECT_EQ(locateProgram("tools/xpk", LocateScope::StartUp), std::nullopt);
}

TEST_F(ExternalProgram, InSearchPassesOverTheCurrentDirectoryAndRelativePathEntries) {
  makeDir("rel");
  makeDir("abs");
  program("here");
  program("rel/inrel");
  program("abs/inabs");
  setPath("::.:rel:" + path("abs") + "/");
  const std::tuple<std::string, std::optional<std::string>, std::optional<std::string>> rows[] = {
      // name, at start-up, inside the search
      {"here", path("here"), std::nullopt},
      {"./here", path("here"), path("here")},
      {"inrel", path("rel/inrel"), std::nullopt},
      {"inabs", path("abs/inabs"), path("abs/inabs")},
      {"rel/inrel", path("rel/inrel"), path("rel/inrel")},
      {"rel\\inrel", path("rel/inrel"), path("rel/inrel")},
      {"../" + dir_.substr(dir_.rfind('/') + 1) + "/here", path("here"), path("here")},
      {path("here"), path("here"), path("here")},
  };
  for (const auto& [name, startUp, inSearch] : rows) {
    EXPECT_EQ(locateProgram(name, LocateScope::StartUp), startUp) << name;
    EXPECT_EQ(locateProgram(name, LocateScope::InSearch), inSearch) << name;
  }
}

TEST_F(ExternalProgram, WithoutPathOnlyTheNameAsWrittenIsFound) {
  program("tool");
  ::unsetenv("PATH");
  EXPECT_EQ(locateProgram("tool", LocateScope::StartUp), path("tool"));
  EXPECT_EQ(locateProgram("tool", LocateScope::InSearch), std::nullopt);
  EXPECT_EQ(locateProgram("sh", LocateScope::StartUp), std::nullopt);
}

TEST_F(ExternalProgram, AnAbsoluteNameIsNotJoinedToPathEntries) {
  makeDir("bin/opt");
  program("bin/opt/tool");
  setPath(path("bin"));
  EXPECT_EQ(locateProgram("/opt/tool", LocateScope::StartUp), std::nullopt);
}

// A program that writes its argv, one bracketed argument each, to "seen".
std::string recordingScript(const std::string& out, int exitCode) {
  return "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '[%s]' \"$a\"; done > '" + out + "'\nexit " +
         std::to_string(exitCode) + "\n";
}

TEST_F(ExternalProgram, RunProgramPassesTheReferenceAsOneArgument) {
  write("rec", recordingScript(path("seen"), 0), true);
  struct Row {
    std::string args;
    std::optional<std::string> reference;
    std::string append;
    std::string seen;
  };
  const Row rows[] = {
      {"x -y", std::string("../OLD.XPK"), "", "[x][-y][../OLD.XPK]"},
      {"", std::string("\"../MY FILE.XPK\""), "*.*", "[../MY FILE.XPK][*.*]"},
      {"a", std::string("-rf"), "", "[a][-rf]"},
      {"", std::string("../a\"b;$x `y`.XPK"), "", "[../a\"b;$x `y`.XPK]"},
      {"", std::string("\""), "", "[\"]"},
      {"", std::string(""), "", "[]"},
      {"\"two words\"  c", std::nullopt, "d \"e f\"", "[two words][c][d][e f]"},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(runProgram(path("rec"), row.args, row.reference, row.append), 0);
    EXPECT_EQ(read("seen"), "[" + path("rec") + "]" + row.seen)
        << "args [" << row.args << "] reference [" << row.reference.value_or("(none)") << "]";
  }
}

TEST_F(ExternalProgram, RunProgramGivesTheExitCode) {
  write("fails", recordingScript(path("seen"), 7), true);
  EXPECT_EQ(runProgram(path("fails"), ""), 7);
  EXPECT_EQ(runProgram(path("missing"), ""), -1);
}

TEST_F(ExternalProgram, RunCommandReportsFailuresOnConsoleAndLog) {
  write("ok", recordingScript(path("seen-ok"), 0), true);
  write("bad", recordingScript(path("seen-bad"), 5), true);
  ASSERT_TRUE(openLog(path("log")));
  const std::tuple<std::string, int, std::string> rows[] = {
      {"", 0, ""},
      {"  \t", 0, ""},
      {"./ok -a", 0, ""},
      {"./bad x", 5, "Exec error:          ./bad x\n"},
      {"ok -a", 1, "Exec error:          ok -a\n"},
      {"nowhere at all", 1, "Exec error:          nowhere at all\n"},
  };
  std::string logged;
  for (const auto& [entry, result, console] : rows) {
    ::testing::internal::CaptureStdout();
    const int got = runCommand(entry);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), console) << "entry: [" << entry << "]";
    EXPECT_EQ(got, result) << "entry: [" << entry << "]";
    logged += console;
  }
  closeLog();
  std::string crlf;
  for (char c : logged) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(read("log"), crlf);
  EXPECT_EQ(read("seen-ok"), "[" + path("ok") + "][-a]");
  EXPECT_EQ(read("seen-bad"), "[" + path("bad") + "][x]");
}

}  // namespace
