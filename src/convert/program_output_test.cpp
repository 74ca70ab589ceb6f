// Unit tests of cutting a program's output into log lines.
#include "convert/program_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines cut(const std::vector<std::string>& pieces, bool finish = true) {
  Lines lines;
  OutputLines output([&lines](std::string_view line) { lines.emplace_back(line); });
  for (const std::string& piece : pieces) output.take(piece);
  if (finish) output.finish();
  return lines;
}

TEST(OutputLines, CutsWholeLinesHoweverThePiecesFall) {
  struct Row {
    std::vector<std::string> pieces;
    Lines lines;
  };
  const Row rows[] = {
      {{}, {}},
      {{"one\ntwo\n"}, {"one", "two"}},
      {{"on", "e\ntw", "o\n"}, {"one", "two"}},
      {{"\n\n"}, {"", ""}},
      {{"dos\r\nline\r", "\n"}, {"dos", "line"}},
      {{"no end"}, {"no end"}},
      {{"last\n", "half"}, {"last", "half"}},
      {{"tab\tkept\n"}, {"tab\tkept"}},
      {{"10%\r20%\r100%\n"}, {"10%\\x0D20%\\x0D100%"}},
      {{"trailing CR\r"}, {"trailing CR\\x0D"}},
      {{std::string("nul\0esc\x1B[31mbell\x07"
                    "del\x7F\n",
                    22)},
       {"nul\\x00esc\\x1B[31mbell\\x07del\\x7F"}},
      {{"caf\xC3\xA9 \xE9t\xE9 \xFF\xFE\n"}, {"caf\xC3\xA9 \xE9t\xE9 \xFF\xFE"}},
  };
  for (const Row& row : rows) {
    std::string shown;
    for (const auto& piece : row.pieces) shown += "[" + piece + "]";
    EXPECT_EQ(cut(row.pieces), row.lines) << shown;
  }
}

TEST(OutputLines, AnUnfinishedLineWaitsForItsEndOrForFinish) {
  EXPECT_EQ(cut({"one\nhal", "f"}, false), Lines{"one"});
  EXPECT_EQ(cut({"ends in CR\r"}, false), Lines{});
}

TEST(OutputLines, AnEndlessLineIsCutIntoBoundedLines) {
  const std::string longRun(2 * kMaxOutputLineBytes + 10, 'x');
  const Lines lines = cut({longRun.substr(0, 5000), longRun.substr(5000) + "\nnext\n"});
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].size(), kMaxOutputLineBytes);
  EXPECT_EQ(lines[1].size(), kMaxOutputLineBytes);
  EXPECT_EQ(lines[2], std::string(10, 'x'));
  EXPECT_EQ(lines[3], "next");
  // A line end right at the cut adds no empty line.
  EXPECT_EQ(cut({std::string(kMaxOutputLineBytes, 'y') + "\n"}).size(), 1u);
}

}  // namespace
