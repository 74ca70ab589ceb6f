// Tests of the description cleaner, the box translation, the file_id.diz
// rewrite and the extraction of a description through an unpacker.
#include "describe/description.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "config/settings.h"
#include "run/output.h"
#include "scratch_dir.h"
#include "small_tmpfs.h"

namespace fs = std::filesystem;

namespace {

std::string hexOf(std::string_view bytes) {
  std::string out;
  char buffer[4];
  for (char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X ", static_cast<unsigned char>(c));
    out += buffer;
  }
  return out;
}

std::string cleaned(std::string_view bytes) {
  std::string text;
  appendCleanedText(text, bytes);
  return text;
}

class Cleaner : public ::testing::Test {
 protected:
  void SetUp() override { lastKept = 0; }
};

TEST_F(Cleaner, EachByteClassHasItsResult) {
  struct Row {
    int first, last;
    bool space;
  };
  const Row rows[] = {
      {0x00, 0x09, true},  {0x0B, 0x1F, true}, {0x20, 0x7E, false}, {0x7F, 0x7F, true},
      {0x80, 0xAF, false}, {0xB0, 0xDF, true}, {0xE0, 0xF2, false}, {0xF3, 0xFF, true},
  };
  for (const Row& row : rows) {
    for (int c = row.first; c <= row.last; ++c) {
      lastKept = 'Q' == c ? 'R' : 'Q';
      const unsigned char expected = row.space ? ' ' : c;
      EXPECT_EQ(cleanDescriptionChar(c), expected) << "byte " << c;
      EXPECT_EQ(lastKept, expected) << "byte " << c;
    }
  }
}

TEST_F(Cleaner, OnlySpacesAndTheSeventeenDecorationsShrinkInARun) {
  const std::string_view decorations = "-=*/#!.$%&+<>_^~\\";
  for (int c = 0; c < 256; ++c) {
    if (c == '\n') continue;
    lastKept = 0;
    const unsigned char first = cleanDescriptionChar(c);
    const unsigned char second = cleanDescriptionChar(c);
    const bool shrinks = first == ' ' || decorations.find(char(c)) != std::string_view::npos;
    EXPECT_EQ(second, shrinks ? 0 : first) << "byte " << c;
    EXPECT_EQ(lastKept, first) << "byte " << c;
  }
}

TEST_F(Cleaner, LineFeedGivesASpaceOutsideTheRunRules) {
  lastKept = ' ';
  EXPECT_EQ(cleanDescriptionChar('\n'), ' ');
  EXPECT_EQ(cleanDescriptionChar('\n'), ' ');
  EXPECT_EQ(lastKept, ' ');
  lastKept = '-';
  EXPECT_EQ(cleanDescriptionChar('\n'), ' ');
  EXPECT_EQ(lastKept, '-');
  EXPECT_EQ(cleanDescriptionChar('-'), 0);
}

TEST_F(Cleaner, FoldsTextsIntoOneLine) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"  Hello   World\n", " Hello World "},
      {"==== Tools ====\n", "= Tools = "},
      {"First line \n second line\n", "First line  second line "},
      {"Wait...\n", "Wait. "},
      {"AAA 111 (())", "AAA 111 (())"},
      {"\n\n", "  "},
      {"--\n--x", "- x"},
      {"a\t\x01\xC4\xB3\x7F\xFF b", "a b"},
      {std::string_view("nul\0byte", 8), "nul byte"},
      {"\xE0\xF2\x80\xAF", "\xE0\xF2\x80\xAF"},
      {"", ""},
  };
  for (const auto& [input, expected] : rows) {
    lastKept = 0;
    EXPECT_EQ(cleaned(input), expected) << hexOf(input);
  }
}

TEST_F(Cleaner, StopsAfter254BytesWithoutLookingFurther) {
  std::string input;
  for (int i = 0; i < 300; ++i) input += char('a' + i % 26);
  input += "-";
  const std::string text = cleaned(input);
  EXPECT_EQ(text, input.substr(0, 254));
  EXPECT_EQ(lastKept, static_cast<unsigned char>(input[253]));

  std::string full = text;
  appendCleanedText(full, "more");
  EXPECT_EQ(full, text);
}

TEST_F(Cleaner, LastKeptCarriesOverToTheNextText) {
  EXPECT_EQ(cleaned("Part one -"), "Part one -");
  EXPECT_EQ(cleaned("-- part two "), " part two ");
  EXPECT_EQ(cleaned(" three"), "three");
}

std::string cleanedUtf8(std::string_view bytes) {
  std::string text;
  appendCleanedUtf8(text, bytes);
  return text;
}

TEST_F(Cleaner, Utf8CharactersStayWholeAndFramesFoldLikeBlanks) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"Caf\xC3\xA9\n", "Caf\xC3\xA9 "},
      {"\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97 Tool \xE2\x94\x82", " Tool "},
      {"\xE2\x96\x91\xE2\x96\x92\xE2\x96\x93\xE2\x96\x88x", " x"},
      {"\xE2\x82\xAC\xE2\x82\xAC -- \xE2\x80\x94\xE2\x80\x94",
       "\xE2\x82\xAC\xE2\x82\xAC - \xE2\x80\x94\xE2\x80\x94"},
      {"\xEF\xBB\xBFHi", "Hi"},
      {"a\xC2\x85\tb", "a b"},
  };
  for (const auto& [input, expected] : rows) {
    lastKept = 0;
    EXPECT_EQ(cleanedUtf8(input), expected) << hexOf(input);
  }
  // A character keeps the decoration run rule from reaching across it, and
  // the rule carries over to code page 437 text as ever.
  lastKept = 0;
  EXPECT_EQ(cleanedUtf8("-\xC3\xA9-"), "-\xC3\xA9-");
  EXPECT_EQ(cleaned("-x"), "x");
}

TEST_F(Cleaner, TheUtf8CutNeverSplitsACharacter) {
  const std::string ascii(253, 'x');
  std::string text;
  EXPECT_FALSE(appendCleanedUtf8(text, ascii + "\xC3\xA9 more"));
  EXPECT_EQ(text, ascii);
  EXPECT_EQ(lastKept, 'x');

  text.clear();
  EXPECT_FALSE(appendCleanedUtf8(text, ascii.substr(1) + "\xC3\xA9 more"));
  EXPECT_EQ(text, ascii.substr(1) + "\xC3\xA9");
  EXPECT_EQ(text.size(), 254u);

  text.clear();
  EXPECT_TRUE(appendCleanedUtf8(text, "short"));
}

TEST(BoxChars, EveryBoxByteHasItsAsciiStandIn) {
  const std::pair<char, std::string_view> rows[] = {
      {'#', "\xB0\xB1\xB2\xDB\xDC\xDD\xDE\xDF"},
      {'+', "\xB7\xB8\xBB\xBC\xBD\xBE\xBF\xC0\xC8\xC9\xD3\xD4\xD5\xD6\xD9\xDA"},
      {'-', "\xC4\xCD"},
      {'|',
       "\xB3\xB4\xB5\xB6\xB9\xBA\xC1\xC2\xC3\xC5\xC6\xC7\xCA\xCB\xCC\xCE\xCF\xD0\xD1\xD2"
       "\xD7\xD8"},
  };
  int seen = 0;
  for (const auto& [result, bytes] : rows) {
    for (char c : bytes) {
      EXPECT_EQ(boxCharToAscii(static_cast<unsigned char>(c)), result) << hexOf({&c, 1});
      ++seen;
    }
  }
  EXPECT_EQ(seen, 48);
}

// A scratch directory made current for the test.
class InScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings{};
    lastKept = 0;
  }
  void TearDown() override {
    closeLog();
    settings = Settings{};
  }
  static void write(const fs::path& path, std::string_view bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  static std::vector<std::string> names(const fs::path& dir = ".") {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) {
      out.push_back(entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  ScratchDir scratch_{"describe"};
  const fs::path dir_ = scratch_.path();
};

using FileIdDiz = InScratchDir;

TEST_F(FileIdDiz, EachModeRebuildsTheLines) {
  const std::string frame(40, '\xCD');
  struct Row {
    int mode;
    std::string input;
    std::string expected;
  };
  const Row rows[] = {
      {0, "\xC9\xCD\xBB\r\nText\x1A tail", "\xC9\xCD\xBB\r\nText"},
      {1, frame + "\n\xB3 Name \xB3\n", " Name \r\n"},
      {1, "\n\xB0\n", "\r\n"},
      {2,
       "\xC9\xCD\xCD\xBB\n\xBA"
       "ab\xBA\n\xB0\xB1\xB2\xDB\n\xC3\xC4\xB4\n",
       "+--+\r\n|ab|\r\n####\r\n|-|\r\n"},
      {2, "\xC1\xC2\xCA\xCB\xCF\xD0\xD1\xD2\n", "||||||||\r\n"},
      {3, frame + "\n\xB3 x\xB3\n", std::string(40, ' ') + "\r\n  x \r\n"},
      {0, "\xDB\n", "\xDB\r\n"},
      {1, "\xDB\n", ""},
      {2, "\xDB\n", "#\r\n"},
      {3, "\xDB\n", " \r\n"},
      {7, "\xDB\n\xB3x\xB3\n", "x\r\n"},
      {-1, "\xDB\n", ""},
      {1, "no line end \xDB", "no line end "},
  };
  for (const Row& row : rows) {
    write("file_id.diz", row.input);
    filterFileIdDiz(row.mode);
    EXPECT_EQ(read("file_id.diz"), row.expected) << "mode " << row.mode << ": " << hexOf(row.input);
    EXPECT_EQ(names(), std::vector<std::string>{"file_id.diz"}) << "mode " << row.mode;
  }
}

TEST_F(FileIdDiz, ThePieceRuleWorksOnPiecesOfLongLines) {
  // 79 bytes of box lines but one letter make a piece that shrinks to "A".
  const std::string line = "A" + std::string(78, '\xCD') + "Z\n";
  write("file_id.diz", line + "keep\n");
  filterFileIdDiz(1);
  EXPECT_EQ(read("file_id.diz"), "Z\r\nkeep\r\n");

  const std::string longLine(300, 'x');
  write("file_id.diz", longLine + "\n");
  filterFileIdDiz(1);
  EXPECT_EQ(read("file_id.diz"), longLine + "\r\n");
}

TEST_F(FileIdDiz, AnotherCaseIsRewrittenUnderTheLowerCaseName) {
  write("FILE_ID.DIZ", "\xB3up\xB3\n");
  filterFileIdDiz(2);
  EXPECT_EQ(names(), std::vector<std::string>{"file_id.diz"});
  EXPECT_EQ(read("file_id.diz"), "|up|\r\n");
}

TEST_F(FileIdDiz, Utf8FramesAreTreatedLikeCodePage437Ones) {
  const std::string doubleLine = "\xE2\x95\x90";  // U+2550
  const std::string vertical = "\xE2\x94\x82";    // U+2502
  const std::string eAcute = "\xC3\xA9";
  const std::string box = "\xE2\x95\x94" + doubleLine + doubleLine + "\xE2\x95\x97\n" +
                          "\xE2\x95\x91"
                          "ab\xE2\x95\x91\n\xE2\x96\x91\xE2\x96\x92\xE2\x96\x93\xE2\x96\x88\n" +
                          "\xE2\x94\x9C\xE2\x94\x80\xE2\x94\xA4\n";
  struct Row {
    int mode;
    std::string input;
    std::string expected;
  };
  const Row rows[] = {
      {1, doubleLine + doubleLine + "\n" + vertical + " Caf" + eAcute + " " + vertical + "\n",
       " Caf" + eAcute + " \r\n"},
      {2, box, "+--+\r\n|ab|\r\n####\r\n|-|\r\n"},
      {3, "\xE2\x95\x94" + doubleLine + "\xE2\x95\x97" + eAcute + "\n", "   " + eAcute + "\r\n"},
      // A 79-byte piece would end inside the frame character: it takes the
      // whole character.
      {2, std::string(78, 'x') + doubleLine + "\n", std::string(78, 'x') + "-\r\n"},
  };
  for (const Row& row : rows) {
    write("file_id.diz", row.input);
    filterFileIdDiz(row.mode);
    EXPECT_EQ(read("file_id.diz"), row.expected) << "mode " << row.mode << ": " << hexOf(row.input);
    EXPECT_EQ(names(), std::vector<std::string>{"file_id.diz"}) << "mode " << row.mode;
  }
}

TEST_F(FileIdDiz, NoOtherMemberIsEverReplaced) {
  // The first case variant in listing order is treated, under its own name
  // when file_id.diz itself is taken; a member named like the temporary
  // stays as it was.
  write("FILE_ID.DIZ", "\xB3upper\xB3\n");
  write("File_Id.Diz", "\xB3mixed\xB3\n");
  write("file_id.diz", "\xB3lower\xB3\n");
  write("file_id.tmp", "member");
  filterFileIdDiz(2);
  EXPECT_EQ(names(),
            (std::vector<std::string>{"FILE_ID.DIZ", "File_Id.Diz", "file_id.diz", "file_id.tmp"}));
  EXPECT_EQ(read("FILE_ID.DIZ"), "|upper|\r\n");
  EXPECT_EQ(read("File_Id.Diz"), "\xB3mixed\xB3\n");
  EXPECT_EQ(read("file_id.diz"), "\xB3lower\xB3\n");
  EXPECT_EQ(read("file_id.tmp"), "member");
}

TEST_F(FileIdDiz, AFullDiskLeavesTheFileAsUnpacked) {
  fs::create_directory("full");
  SmallTmpfs tmpfs((dir_ / "full").string(), 1024 * 1024);
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  fs::current_path("full");
  std::string text;
  while (text.size() < 588000) text += "\xBA Line of a long description \xBA\n";
  write("file_id.diz", text);
  ASSERT_TRUE(tmpfs.fill());
  fs::remove("filler");
  // Room for a third of the treated copy.
  write("filler", std::string(1024 * 1024 - 588000 - 200 * 1024, 'f'));
  filterFileIdDiz(2);
  EXPECT_EQ(read("file_id.diz"), text);
  EXPECT_EQ(names(), (std::vector<std::string>{"file_id.diz", "filler"}));
}

TEST_F(FileIdDiz, ALinkOrADirectoryCountsAsAbsent) {
  write("outside/victim.txt", "\xB3 secret \xB3\n");
  fs::create_directory("work");
  fs::create_symlink(dir_ / "outside/victim.txt", "work/file_id.diz");
  fs::current_path("work");
  filterFileIdDiz(1);
  EXPECT_TRUE(fs::is_symlink("file_id.diz"));
  EXPECT_EQ(names(), std::vector<std::string>{"file_id.diz"});
  EXPECT_EQ(read(dir_ / "outside/victim.txt"), "\xB3 secret \xB3\n");

  fs::remove("file_id.diz");
  fs::create_directory("FILE_ID.DIZ");
  filterFileIdDiz(1);
  EXPECT_EQ(names(), std::vector<std::string>{"FILE_ID.DIZ"});
  EXPECT_TRUE(fs::is_directory("FILE_ID.DIZ"));
}

TEST_F(FileIdDiz, WithoutTheFileNothingIsWritten) {
  write("readme.txt", "\xB3\n");
  filterFileIdDiz(1);
  EXPECT_EQ(names(), std::vector<std::string>{"readme.txt"});
}

// Extraction through a stand-in unpacker: it records its arguments and
// copies everything beside the archive in "NAME.d/" into the work directory.
class Extraction : public InScratchDir {
 protected:
  void SetUp() override {
    InScratchDir::SetUp();
    const fs::path script = dir_ / "unpack.sh";
    write(script,
          "#!/bin/sh\n"
          "for a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" +
              (dir_ / "calls").string() +
              "'\n"
              "echo >> '" +
              (dir_ / "calls").string() +
              "'\n"
              "shift\n"
              "[ -d \"$1.d\" ] && cp -a \"$1.d/.\" .\n"
              "exit 3\n");
    fs::permissions(script, fs::perms::owner_all);
    PackerDef packer;
    packer.ext = "arc";
    packer.unpack = script.string() + " x";
    settings.packers.push_back(packer);
    settings.fileOrder = {"descript.ion", "file_id.diz", "readme"};
    fs::create_directory("arcs");
    fs::current_path("arcs");
  }
  std::vector<std::string> calls() {
    std::vector<std::string> out;
    std::ifstream in(dir_ / "calls");
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  static void archive(const std::string& name,
                      const std::vector<std::pair<fs::path, std::string>>& files) {
    write(name, "archive");
    fs::create_directories(name + ".d");
    for (const auto& [path, text] : files) write(fs::path(name + ".d") / path, text);
  }
  // Nothing but the archives and what they hold is left.
  void expectNoWorkDirectory() {
    for (const std::string& name : names()) {
      EXPECT_EQ(name.rfind("$TMP$", 0), std::string::npos) << name;
    }
  }
};

TEST_F(Extraction, TakesTheFirstNameThatComesOutInListOrder) {
  archive("game.arc", {{"readme", "Read me"}, {"file_id.diz", "  The   game\n"}});
  EXPECT_EQ(extractDescription("game.arc", 0), " The game ");
  EXPECT_EQ(calls(), (std::vector<std::string>{"[x][../game.arc][descript.ion]",
                                               "[x][../game.arc][file_id.diz]"}));
  expectNoWorkDirectory();
}

TEST_F(Extraction, AnEmptyFileEndsTheSearchWithoutDescription) {
  archive("game.arc", {{"file_id.diz", ""}, {"readme", "Read me"}});
  EXPECT_EQ(extractDescription("game.arc", 0), std::nullopt);
  EXPECT_EQ(calls().size(), 2u);
  expectNoWorkDirectory();
}

TEST_F(Extraction, FindsTheFileInAnyCaseAndRemovesDotDirectories) {
  archive("game.arc", {{"FILE_ID.DIZ", "Upper\n"},
                       {".git/objects/x", "x"},
                       {"sub/.hidden/y", "y"},
                       {"readme", "no"}});
  EXPECT_EQ(extractDescription("game.arc", 0), "Upper ");
  expectNoWorkDirectory();
}

TEST_F(Extraction, ALinkOrADirectoryOfTheNameCountsAsAbsent) {
  write(dir_ / "secret.txt", "Secret\n");
  archive("game.arc", {{"readme", "Plain\n"}});
  fs::create_symlink(dir_ / "secret.txt", "game.arc.d/file_id.diz");
  fs::create_directories("game.arc.d/DESCRIPT.ION");
  EXPECT_EQ(extractDescription("game.arc", 0), "Plain ");
  EXPECT_EQ(calls().size(), 3u);
  EXPECT_EQ(read(dir_ / "secret.txt"), "Secret\n");
  expectNoWorkDirectory();
}

TEST_F(Extraction, NamesWithBlanksAndQuotesArriveAsOneArgumentEach) {
  settings.fileOrder = {"read \"me\" now", "file_id.diz"};
  archive("my game -x.arc", {{"read \"me\" now", "Quoted"}});
  EXPECT_EQ(extractDescription("my game -x.arc", 0), "Quoted");
  EXPECT_EQ(calls(), std::vector<std::string>{"[x][../my game -x.arc][read \"me\" now]"});
}

TEST_F(Extraction, ANameWithADirectoryPartIsFoundOnlyThroughRealDirectories) {
  settings.fileOrder = {"DOCS/file_id.diz"};
  archive("game.arc", {{"docs/FILE_ID.DIZ", "In docs"}});
  EXPECT_EQ(extractDescription("game.arc", 0), "In docs");

  write(dir_ / "outside/file_id.diz", "Outside");
  archive("link.arc", {{"readme", "x"}});
  fs::create_directory_symlink(dir_ / "outside", "link.arc.d/docs");
  EXPECT_EQ(extractDescription("link.arc", 0), std::nullopt);
  EXPECT_EQ(read(dir_ / "outside/file_id.diz"), "Outside");
  expectNoWorkDirectory();
}

TEST_F(Extraction, CutsAt254BytesAndCarriesLastKeptToTheNextArchive) {
  std::string big;
  for (int i = 0; i < 2000; ++i) big += char('a' + i % 26);
  archive("big.arc", {{"file_id.diz", big + "\n"}});
  archive("dash.arc", {{"file_id.diz", "Ends with -"}});
  archive("next.arc", {{"file_id.diz", "--Next"}});
  EXPECT_EQ(extractDescription("big.arc", 0), big.substr(0, 254));
  EXPECT_EQ(extractDescription("dash.arc", 0), "Ends with -");
  EXPECT_EQ(extractDescription("next.arc", 0), "Next");
  expectNoWorkDirectory();
}

TEST_F(Extraction, EmptyFileOrderStillMakesAndRemovesAWorkDirectory) {
  settings.fileOrder.clear();
  archive("game.arc", {{"file_id.diz", "x"}});
  EXPECT_EQ(extractDescription("game.arc", 0), std::nullopt);
  EXPECT_TRUE(calls().empty());
  expectNoWorkDirectory();
}

TEST_F(Extraction, AMissingUnpackerIsLoggedAndRunsNothing) {
  ASSERT_TRUE(openLog((dir_ / "log").string()));
  settings.packers[0].unpack = "/nonexistent/unpacker -x";
  PackerDef bare;
  settings.packers.push_back(bare);
  archive("game.arc", {{"file_id.diz", "x"}});
  EXPECT_EQ(extractDescription("game.arc", 0), std::nullopt);
  EXPECT_EQ(extractDescription("game.arc", 1), std::nullopt);
  closeLog();
  EXPECT_EQ(read(dir_ / "log"),
            "Can't run unpacker:  /nonexistent/unpacker\r\nUnknown unpacker:     game.arc\r\n");
  EXPECT_TRUE(calls().empty());
  expectNoWorkDirectory();
}

TEST_F(Extraction, BreakOnErrorStopsTheRunWhenTheUnpackerIsMissing) {
  settings.breakOnError = 1;
  settings.packers[0].unpack = "/nonexistent/unpacker";
  PackerDef bare;
  settings.packers.push_back(bare);
  write("game.arc", "archive");
  EXPECT_EXIT(extractDescription("game.arc", 0), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(extractDescription("game.arc", 1), ::testing::ExitedWithCode(1), "");
}

}  // namespace
