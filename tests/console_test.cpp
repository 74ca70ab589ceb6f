// Black-box tests of the console: where the packers' own output goes
// (PackerOutput), and the status line on a terminal that is resized or
// closed during the run.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "harness.h"

namespace {

using harness::crlf;
using harness::readFile;
using harness::report;
using harness::writeFile;
using harness::ZelmResult;
using harness::ZelmRun;
using Env = std::map<std::string, std::optional<std::string>>;
using Lines = std::vector<std::string>;

// XPK archives are unpacked by `xpk x`; YPK, the target, is packed by `ypk a`
// and unpacked by `yun x` (for its description). `scan` is an Exec program.
const std::string kPackers =
    "ID\nExt XPK\nUnpack xpk x\n"
    "ID\nExt YPK\nPack ypk a\nUnpack yun x\n";
const std::string kConfig = "DefaultPacker YPK\nDetect Ext\nLog Yes\n";

// What a terminal shows for `bytes`: "\r" goes back to the start of the line,
// a character replaces the one under the cursor, LF starts the next line.
// Blanks at the end of a line are not seen.
Lines screen(std::string_view bytes) {
  Lines lines(1);
  size_t cursor = 0;
  for (const char c : bytes) {
    std::string& line = lines.back();
    if (c == '\n') {
      lines.emplace_back();
      cursor = 0;
    } else if (c == '\r') {
      cursor = 0;
    } else {
      if (cursor < line.size()) {
        line[cursor] = c;
      } else {
        line += c;
      }
      ++cursor;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  return lines;
}

// Every text the console showed and later overwrote after a "\r": the status
// lines.
Lines overwritten(std::string_view bytes) {
  Lines shown;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t cr = bytes.find('\r', start);
    const size_t lf = bytes.find('\n', start);
    if (cr == std::string_view::npos) break;
    if (lf < cr) {
      start = lf + 1;
      continue;
    }
    const std::string_view piece = bytes.substr(start, cr - start);
    if (piece.find_first_not_of(' ') != std::string_view::npos) shown.emplace_back(piece);
    start = cr + 1;
  }
  return shown;
}

// The texts of the log's "Output:" lines, in order.
Lines outputLines(const std::string& log) {
  const std::string label = "Output:              ";
  Lines lines;
  for (size_t at = log.find(label); at != std::string::npos; at = log.find(label, at)) {
    const size_t end = log.find("\r\n", at);
    lines.push_back(log.substr(at + label.size(), end - at - label.size()));
    at = end;
  }
  return lines;
}

class Console : public ::testing::Test, public harness::Scene {
 protected:
  Console()
      : harness::Scene({"xpk", "ypk", "yun", "scan"}, {{"RECORDER_CREATE_xpk", "content.txt"},
                                                       {"RECORDER_CREATE_ypk", "@2"},
                                                       {"RECORDER_PRINT_xpk", "xpk out\n"},
                                                       {"RECORDER_STDERR_xpk", "xpk err\n"},
                                                       {"RECORDER_PRINT_ypk", "ypk out\n"},
                                                       {"RECORDER_PRINT_yun", "yun out\n"},
                                                       {"RECORDER_PRINT_scan", "scan out\n"}}) {}

  void SetUp() override { writeFile(work("old.xpk"), "source bytes"); }

  // One conversion with an Exec program and a description looked for.
  ZelmResult convert(const std::string& settings, const Env& env = {}) {
    return run(kConfig + settings + "Exec scan\nDescription Update\nDescfiles files.bbs\n" +
                   "Fileorder FILE_ID.DIZ\n" + kPackers,
               {"old.xpk"}, env);
  }

  ZelmResult onTerminal(const std::string& config, ZelmRun zelm, int columns = 100) {
    zelm.terminalColumns = columns;
    return runWith(config, zelm);
  }
};

TEST_F(Console, PackerOutputGoesToTheConsoleTheLogOrNowhere) {
  struct Row {
    std::string settings;
    bool console;
    Lines logged;
  };
  const Row rows[] = {
      {"", true, {}},
      {"PackerOutput Console\n", true, {}},
      {"PackerOutput Log\n", false, {"xpk out", "xpk err", "scan out", "ypk out", "yun out"}},
      {"PackerOutput Quiet\n", false, {}},
      {"PackerOutput Log\nLog No\n", false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    writeFile(work("old.xpk"), "source bytes");
    std::filesystem::remove(work("files.bbs"));
    const ZelmResult result = convert(row.settings);
    ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
    const std::string shared = row.console ? "xpk out\nscan out\nypk out\nyun out\n" : "";
    EXPECT_EQ(result.out, shared + report(1, 0, 0, 12, 4));
    EXPECT_EQ(result.err, row.console ? "xpk err\n" : "");
    EXPECT_EQ(outputLines(result.log.value_or("")), row.logged);
  }
}

TEST_F(Console, LoggedOutputIsWholeLinesWhateverThePackerPrints) {
  // As much as one environment string may carry: more than a pipe holds.
  const std::string chatter(120000, 'c');
  const ZelmResult result =
      convert("PackerOutput Log\n", {{"RECORDER_PRINT_xpk", "caf\xE9 \x1B[1mbold\r\nno end"},
                                     {"RECORDER_STDERR_xpk", ""},
                                     {"RECORDER_PRINT_ypk", chatter + "\n"}});
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(result.out, report(1, 0, 0, 12, 4));
  const Lines lines = outputLines(result.log.value_or(""));
  ASSERT_EQ(lines.size(), 34u);
  EXPECT_EQ(lines[0], "caf\xE9 \\x1B[1mbold");
  EXPECT_EQ(lines[1], "no end");
  EXPECT_EQ(lines[2], "scan out");
  std::string joined;
  for (size_t i = 3; i < 33; ++i) joined += lines[i];
  EXPECT_EQ(joined, chatter);
  EXPECT_EQ(lines[33], "yun out");
  EXPECT_NE(result.log->find(crlf("no end\nOutput:")), std::string::npos);
}

TEST_F(Console, TheStatusLineShowsOnATerminalAndNeverMixesWithOtherText) {
  writeFile(work("two.xpk"), "second source");
  ZelmRun zelm;
  zelm.args = {"*.xpk"};
  const std::string config = kConfig + "Exec scan\nExec missing\n" + kPackers;
  const ZelmResult result = onTerminal(config, zelm);
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  // What stays on the screen is what a pipe gets: the status line is gone
  // before every other text, and back after each packer.
  const std::string each = "xpk out\nscan out\nExec error:          missing\n";
  const std::string console = each + each + report(0, 2, 0, 0, 0);
  EXPECT_EQ(screen(result.out), screen(console));
  const std::string first = "Done 0  Errors 0  " + work("old.xpk");
  const std::string second = "Done 1  Errors 1  " + work("two.xpk");
  EXPECT_EQ(overwritten(result.out), (Lines{first, first, first, second, second, second}));

  // A pipe never gets it; Progress No keeps it off a terminal.
  EXPECT_EQ(run(config, {"*.xpk"}).out, console);
  EXPECT_EQ(onTerminal("Progress No\n" + config, zelm).out, console);
}

TEST_F(Console, TheStatusLineStaysWhileQuietPackersWorkAndFitsTheTerminal) {
  ZelmRun zelm;
  zelm.args = {"old.xpk"};
  const std::string config = kConfig + "PackerOutput Quiet\n" + kPackers;
  for (const int columns : {40, -1}) {
    SCOPED_TRACE(columns);
    writeFile(work("old.xpk"), "source bytes");
    const ZelmResult result = onTerminal(config, zelm, columns);
    ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
    const Lines shown = overwritten(result.out);
    ASSERT_EQ(shown.size(), 1u) << result.out;
    // One column is left free: a line that filled the last one would wrap.
    const size_t width = columns > 0 ? size_t(columns) - 1 : 79;
    const std::string line = "Done 0  Errors 0  " + work("old.xpk");
    EXPECT_EQ(shown[0], line.size() <= width
                            ? line
                            : "Done 0  Errors 0  ..." + line.substr(line.size() + 21 - width));
    EXPECT_EQ(screen(result.out), screen(report(1, 0, 0, 12, 4)));
  }
}

TEST_F(Console, AFatalStopEndsTheStatusLineFirst) {
  ZelmRun zelm;
  zelm.args = {"old.xpk"};
  zelm.env = {{"RECORDER_EXIT_xpk", "2"}};
  const ZelmResult result =
      onTerminal(kConfig + "BreakOnError Yes\nPackerOutput Log\n" + kPackers, zelm);
  EXPECT_EQ(result.exitCode, 1) << harness::describe(result);
  EXPECT_EQ(overwritten(result.out).size(), 1u);
  EXPECT_EQ(screen(result.out), screen("Can't run unpacker.\n"));
}

TEST_F(Console, AResizedTerminalChangesNothingAndAClosedOneStopsTheRunCleanly) {
  writeFile(work("two.xpk"), "second source");
  ZelmRun zelm;
  zelm.args = {"*.xpk"};
  zelm.env = {{"RECORDER_LOG_ypk", root("packing")}, {"RECORDER_SLEEP_ypk", "1"}};
  zelm.signals = {{SIGWINCH, root("packing")}};
  const std::string config = kConfig + kPackers;
  ZelmResult result = onTerminal(config, zelm);
  ASSERT_EQ(result.exitCode, 0) << harness::describe(result);
  EXPECT_EQ(workTree(), (std::vector<std::string>{"old.YPK", "two.YPK"}));

  // Closed while the packer has written part of the new archive.
  writeFile(work("old.xpk"), "source bytes");
  std::filesystem::remove(work("old.YPK"));
  std::filesystem::remove(root("packing"));
  harness::makeScript(bin() + "/ypk", "PATH=/usr/bin:/bin\nprintf part > \"$2\"\n: > '" +
                                          root("packing") + "'\nsleep 60\n");
  zelm.args = {"old.xpk"};
  zelm.signals.clear();
  zelm.hangUpWhen = root("packing");
  result = onTerminal(config, zelm);
  EXPECT_EQ(result.exitCode, 128 + SIGHUP) << harness::describe(result);
  EXPECT_EQ(readFile(work("old.xpk")), "source bytes");
  EXPECT_EQ(workTree(), (std::vector<std::string>{"old.xpk", "two.YPK"}));
  EXPECT_EQ(harness::maskTimes(result.log.value_or("")),
            crlf(";Log file ZELM utility, opened <time>\n\nSearch old.xpk...\nInterrupted.\n"
                 "\n;Log file ZELM utility, closed <time>\n\n") +
                crlf(report(0, 0, 0, 0, 0)));
}

}  // namespace
