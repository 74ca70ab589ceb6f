// Unit tests of the configuration reader: keys, values, the ID line, pieces.
#include "config/config_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "config/settings.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory for one test, removed with everything in it afterwards.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path candidate =
          fs::temp_directory_path() / ("zelm_config_test_" + std::to_string(entropy()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) path_ = fs::absolute(candidate);
    }
  }
  ~ScopedTempDir() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings{};
    ASSERT_FALSE(dir_.path().empty());
  }

  // Writes `bytes` as the configuration, unchanged, and reads it.
  int readConfigText(const std::string& bytes) {
    const std::string path = (dir_.path() / "zelm.cfg").string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    return readConfigFile(path);
  }

  ScopedTempDir dir_;
};

std::string visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out;
}

TEST_F(ConfigFileTest, MissingFileReturnsZeroAndChangesNothing) {
  settings.keepTime = 0;
  settings.packers.resize(2);
  settings.delList = {"x"};
  EXPECT_EQ(readConfigFile((dir_.path() / "absent.cfg").string()), 0);
  EXPECT_EQ(settings.keepTime, 0);
  EXPECT_EQ(settings.packers.size(), 2u);
  EXPECT_EQ(settings.delList.size(), 1u);
}

TEST_F(ConfigFileTest, DirectoryOfThatNameIsNotAConfiguration) {
  fs::create_directory(dir_.path() / "zelm.cfg");
  EXPECT_EQ(readConfigFile((dir_.path() / "zelm.cfg").string()), 0);
}

TEST_F(ConfigFileTest, EmptyFilePreparesTheDocumentedDefaults) {
  settings.packers.resize(3);
  settings.delList = {"a"};
  settings.addList = {"b"};
  settings.execList = {"c"};
  settings.descFiles = {"d"};
  settings.fileOrder = {"e"};
  settings.targetPacker = 2;
  settings.breakOnError = 1;
  settings.destinationDir = "/somewhere";
  settings.skipExisting = 1;
  settings.keepSource = 1;
  settings.makeDescription = 1;
  settings.recurse = 1;  // not the reader's field: stays

  ASSERT_EQ(readConfigText(""), 1);
  EXPECT_TRUE(settings.packers.empty());
  EXPECT_TRUE(settings.delList.empty());
  EXPECT_TRUE(settings.addList.empty());
  EXPECT_TRUE(settings.execList.empty());
  EXPECT_TRUE(settings.descFiles.empty());
  EXPECT_TRUE(settings.fileOrder.empty());
  EXPECT_EQ(settings.targetPacker, -1);
  EXPECT_EQ(settings.breakOnError, 0);
  EXPECT_FALSE(settings.destinationDir.has_value());
  EXPECT_EQ(settings.detectById, 1);
  EXPECT_EQ(settings.keepTime, 1);
  EXPECT_EQ(settings.skipExisting, 0);
  EXPECT_EQ(settings.keepSource, 0);
  EXPECT_EQ(settings.makeDescription, 0);
  EXPECT_EQ(settings.logEnabled, 0);
  EXPECT_EQ(settings.updateDescription, 0);
  EXPECT_EQ(settings.fileIdDizMode, 0);
  EXPECT_EQ(settings.recurse, 1);
}

struct IntKeyRow {
  const char* text;
  int Settings::*field;
  int expected;
};

TEST_F(ConfigFileTest, SingleValuedKeys) {
  const IntKeyRow rows[] = {
      {"Log Yes\n", &Settings::logEnabled, 1},
      {"log yes\n", &Settings::logEnabled, 1},
      {"LOG YES\n", &Settings::logEnabled, 1},
      {"Log=Yes\n", &Settings::logEnabled, 0},
      {"  Log Yes\n", &Settings::logEnabled, 0},
      {"\tLog Yes\n", &Settings::logEnabled, 0},
      {"Log\n", &Settings::logEnabled, 0},
      {"Log , ,\n", &Settings::logEnabled, 0},
      {"Log Yes\nLog No\n", &Settings::logEnabled, 0},
      {"Log No\nLog Yes\n", &Settings::logEnabled, 1},
      {"Logging yes\n", &Settings::logEnabled, 0},
      {"Log Yess\n", &Settings::logEnabled, 0},
      {"Log,Yes\n", &Settings::logEnabled, 1},
      {"BreakOnError Yes, always\n", &Settings::breakOnError, 1},
      {"BreakOnError No\n", &Settings::breakOnError, 0},
      {"BreakOnError\n", &Settings::breakOnError, 0},
      {"ExistArchive Overwrite\n", &Settings::skipExisting, 0},
      {"existarchive OVERWRITE\n", &Settings::skipExisting, 0},
      {"ExistArchive Skip\n", &Settings::skipExisting, 1},
      {"ExistArchive\n", &Settings::skipExisting, 1},
      {"SourceArchive Keep\n", &Settings::keepSource, 1},
      {"SourceArchive Delete\n", &Settings::keepSource, 0},
      {"SourceArchive\n", &Settings::keepSource, 0},
      {"KeepTime Yes\n", &Settings::keepTime, 1},
      {"KeepTime No\n", &Settings::keepTime, 0},
      {"KeepTime\n", &Settings::keepTime, 0},
      {"Description Update\n", &Settings::updateDescription, 1},
      {"Description None\n", &Settings::updateDescription, 0},
      {"Description\n", &Settings::updateDescription, 0},
      {"Detect id\n", &Settings::detectById, 1},
      {"Detect EXT\n", &Settings::detectById, 0},
      {"Detect ext,id\n", &Settings::detectById, 0},
      {"Detect\n", &Settings::detectById, 1},
      {"Detect Extension\n", &Settings::detectById, 1},
      {"File_ID.DIZ 3\n", &Settings::fileIdDizMode, 3},
      {"File_ID.DIZ 5\n", &Settings::fileIdDizMode, 0},
      {"File_ID.DIZ x\n", &Settings::fileIdDizMode, 0},
      {"File_ID.DIZ\n", &Settings::fileIdDizMode, 0},
      {"file_id.diz +1\n", &Settings::fileIdDizMode, 1},
      {"File_ID.DIZ -2\n", &Settings::fileIdDizMode, -2},
      {"File_ID.DIZ 2abc\n", &Settings::fileIdDizMode, 2},
      {"File_ID.DIZ 03\n", &Settings::fileIdDizMode, 3},
      {"File_ID.DIZ 99999999999999999999\n", &Settings::fileIdDizMode, 0},
      {"File_ID.DIZ -99999999999999999999\n", &Settings::fileIdDizMode, INT_MIN},
      {"File_ID.DIZ 1\nFile_ID.DIZ 2\n", &Settings::fileIdDizMode, 2},
      {"File_IDxDIZ 2\n", &Settings::fileIdDizMode, 0},
  };
  for (const IntKeyRow& row : rows) {
    settings = Settings{};
    ASSERT_EQ(readConfigText(row.text), 1) << visible(row.text);
    EXPECT_EQ(settings.*row.field, row.expected) << visible(row.text);
  }
}

struct PackerTextRow {
  const char* text;  // follows an ID line
  std::optional<std::string> PackerDef::*field;
  std::optional<std::string> expected;
};

TEST_F(ConfigFileTest, PackerKeysTakeTheRestOfTheLine) {
  const PackerTextRow rows[] = {
      {"Ext XYZ\n", &PackerDef::ext, "XYZ"},
      {"ext\tXYZ\n", &PackerDef::ext, "XYZ"},
      {"Ext XYZ \n", &PackerDef::ext, "XYZ "},
      {"Extension XYZ\n", &PackerDef::ext, "ension XYZ"},
      {"Ext  a, b ; c  \n", &PackerDef::ext, "a, b ; c  "},
      {"Ext A\nExt B\n", &PackerDef::ext, "B"},
      {"Ext\n", &PackerDef::ext, ""},
      {"Ext XYZ\r\n", &PackerDef::ext, "XYZ"},
      {"Ext X\rY\n", &PackerDef::ext, "X\rY"},
      {"Ext XYZ", &PackerDef::ext, "XYZ"},
      {"", &PackerDef::ext, std::nullopt},
      {"Pack\n", &PackerDef::pack, ""},
      {"Pack xyzpack -a\n", &PackerDef::pack, "xyzpack -a"},
      {"PACK xyzpack -a\n", &PackerDef::pack, "xyzpack -a"},
      {"Unpack xyzpack -x\n", &PackerDef::unpack, "xyzpack -x"},
      {"Test xyzpack -t\n", &PackerDef::test, "xyzpack -t"},
      {"Append *.*\n", &PackerDef::append, "*.*"},
      {"Append\t \t-y  \n", &PackerDef::append, "-y  "},
  };
  for (const PackerTextRow& row : rows) {
    settings = Settings{};
    const std::string text = std::string("ID 00 41\n") + row.text;
    ASSERT_EQ(readConfigText(text), 1) << visible(text);
    ASSERT_EQ(settings.packers.size(), 1u) << visible(text);
    EXPECT_EQ(settings.packers[0].*row.field, row.expected) << visible(text);
  }
}

TEST_F(ConfigFileTest, PackerKeysBeforeAnyIdAreIgnored) {
  ASSERT_EQ(readConfigText("Ext XYZ\nPack p\nUnpack u\nTest t\nAppend a\n"), 1);
  EXPECT_TRUE(settings.packers.empty());
}

TEST_F(ConfigFileTest, PackerKeysApplyToTheLatestPacker) {
  ASSERT_EQ(readConfigText("ID 00 41\nExt AAA\nID 00 42\nExt BBB\nPack bpack\n"), 1);
  ASSERT_EQ(settings.packers.size(), 2u);
  EXPECT_EQ(settings.packers[0].ext, "AAA");
  EXPECT_FALSE(settings.packers[0].pack.has_value());
  EXPECT_EQ(settings.packers[1].ext, "BBB");
  EXPECT_EQ(settings.packers[1].pack, "bpack");
}

TEST_F(ConfigFileTest, VerifyAndTimeoutAnywhereLeaveThePackerKeysAlone) {
  const std::string packer = "ID 00 41\nExt AAA\nTest atest -t\nUnpack aun\n";
  struct Row {
    std::string text;
    int verify;
    int timeoutSeconds;
  };
  const Row rows[] = {
      {packer, 0, 0},
      {"Verify Yes\nTimeout 30\n" + packer, 1, 30},
      {packer + "Verify yes\nTimeout 30\n", 1, 30},
      {"ID 00 41\nExt AAA\nTimeout 5\nTest atest -t\nVerify YES\nUnpack aun\n", 1, 5},
      {"Verify No\nTimeout -4\n" + packer, 0, 0},
      {"Verify\nTimeout x\n" + packer, 0, 0},
      {"Verify Yes\nVerify No\nTimeout 99999999999\n" + packer, 0, INT_MAX},
  };
  for (const Row& row : rows) {
    settings = Settings{};
    ASSERT_EQ(readConfigText(row.text), 1) << visible(row.text);
    EXPECT_EQ(settings.verify, row.verify) << visible(row.text);
    EXPECT_EQ(settings.timeoutSeconds, row.timeoutSeconds) << visible(row.text);
    ASSERT_EQ(settings.packers.size(), 1u) << visible(row.text);
    EXPECT_EQ(settings.packers[0].test, "atest -t") << visible(row.text);
    EXPECT_EQ(settings.packers[0].unpack, "aun") << visible(row.text);
  }
}

struct ListRow {
  const char* text;
  std::vector<std::string> Settings::*list;
  std::vector<std::string> expected;
};

TEST_F(ConfigFileTest, ListKeys) {
  const ListRow rows[] = {
      {"Del *.bak\n", &Settings::delList, {"*.bak"}},
      {"Del *.bak *.tmp\n", &Settings::delList, {"*.bak"}},
      {"Del ,*.bak\n", &Settings::delList, {"*.bak"}},
      {"Del -\n", &Settings::delList, {}},
      {"Del -x\n", &Settings::delList, {}},
      {"Del\n", &Settings::delList, {}},
      {"Delete *.bak\n", &Settings::delList, {"ete"}},
      {"Del a\nDel b\n", &Settings::delList, {"a", "b"}},
      {"Add c:\\notes\\readme.txt\n", &Settings::addList, {"c:\\notes\\readme.txt"}},
      {"Add -\n", &Settings::addList, {}},
      {"Add\n", &Settings::addList, {}},
      {"Exec -\n", &Settings::execList, {"-"}},
      {"Exec\n", &Settings::execList, {""}},
      {"Exec  run  it , now \n", &Settings::execList, {"run  it , now "}},
      {"Exec a\nExec -b\n", &Settings::execList, {"a", "-b"}},
      {"Descfiles a,b c\n", &Settings::descFiles, {"a", "b", "c"}},
      {"Descfiles\n", &Settings::descFiles, {}},
      {"Descfiles a\nDescfiles b\n", &Settings::descFiles, {"a", "b"}},
      {"Descfiles -x\n", &Settings::descFiles, {"-x"}},
      {"Fileorder file_id.diz, descript.ion\n",
       &Settings::fileOrder,
       {"file_id.diz", "descript.ion"}},
      {"FILEORDER\tone\t\ttwo,,three\n", &Settings::fileOrder, {"one", "two", "three"}},
  };
  for (const ListRow& row : rows) {
    settings = Settings{};
    ASSERT_EQ(readConfigText(row.text), 1) << visible(row.text);
    EXPECT_EQ(settings.*row.list, row.expected) << visible(row.text);
  }
}

TEST_F(ConfigFileTest, DelAddExecStopAtTheirCapacity) {
  std::string text;
  for (int i = 0; i < 70; ++i) {
    text += "Del d" + std::to_string(i) + "\nAdd a" + std::to_string(i) + "\nExec e" +
            std::to_string(i) + "\n";
  }
  ASSERT_EQ(readConfigText(text), 1);
  ASSERT_EQ(settings.delList.size(), size_t(kMaxListEntries));
  ASSERT_EQ(settings.addList.size(), size_t(kMaxListEntries));
  ASSERT_EQ(settings.execList.size(), size_t(kMaxListEntries));
  EXPECT_EQ(settings.delList.back(), "d63");
  EXPECT_EQ(settings.addList.back(), "a63");
  EXPECT_EQ(settings.execList.back(), "e63");
}

TEST_F(ConfigFileTest, DescfilesAndFileorderHaveNoCountLimit) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += "Descfiles c" + std::to_string(i) + "\n";
  for (int i = 0; i < 30; ++i) text += "Fileorder f" + std::to_string(i) + "\n";
  ASSERT_EQ(readConfigText(text), 1);
  EXPECT_EQ(settings.descFiles.size(), 30u);
  EXPECT_EQ(settings.fileOrder.size(), 30u);
  EXPECT_EQ(settings.fileOrder.back(), "f29");
}

TEST_F(ConfigFileTest, PackerTableStopsAtItsCapacityAndKeysFeedTheLast) {
  std::string text;
  for (int i = 0; i < 70; ++i) text += "ID 00 41\nExt P" + std::to_string(i) + "\n";
  ASSERT_EQ(readConfigText(text), 1);
  ASSERT_EQ(settings.packers.size(), size_t(kMaxPackers));
  EXPECT_EQ(settings.packers[62].ext, "P62");
  EXPECT_EQ(settings.packers[63].ext, "P69");
}

struct IdRow {
  std::string text;
  int sigOffset;
  int sigLength;
  std::vector<unsigned char> bytes;  // the first sigLength bytes
  int firstByte;                     // sigBytes[0] when sigLength is 0
};

TEST_F(ConfigFileTest, IdLineReadsOffsetAndSignature) {
  const std::string hundredDigits = std::string(50, 'A') + std::string(50, '1');
  const IdRow rows[] = {
      {"ID 00 58595A\n", 0, 3, {0x58, 0x59, 0x5A}, -1},
      {"ID 0a abC\n", 10, 1, {0xAB}, -1},
      {"ID 1F\n", 31, 0, {}, 0xFF},
      {"ID\n", 0, 0, {}, 0xFF},
      {"ID", 0, 0, {}, 0xFF},
      {"ID , ,\n", 0, 0, {}, 0xFF},
      {"Id 10 1f\n", 16, 1, {0x1F}, -1},
      {"ID 7 41\n", 7, 1, {0x41}, -1},
      {"ID b 41\n", 11, 1, {0x41}, -1},
      {"ID 123 41\n", 0x12, 1, {0x41}, -1},
      {"ID,05,,4142\n", 5, 2, {0x41, 0x42}, -1},
      {"ID 00 414\n", 0, 1, {0x41}, -1},
      {"ID 00 4\n", 0, 0, {}, 0},
      {"ID 00 41 42\n", 0, 1, {0x41}, -1},
      {"ID 00 GZ\n", 0, 1, {0x23}, -1},
      {"ID zz 00\n", 16 * 35 + 35, 1, {0x00}, -1},
      {"ID 00 //\n", 0, 1, {0x78}, -1},
      {"ID 00 " + hundredDigits + "\n", 0, 16, std::vector<unsigned char>(16, 0xAA), -1},
      {"ID FF " + std::string(32, '0') + "01FF\n", 255, 16, std::vector<unsigned char>(16, 0), -1},
  };
  for (const IdRow& row : rows) {
    settings = Settings{};
    ASSERT_EQ(readConfigText(row.text), 1) << visible(row.text);
    ASSERT_EQ(settings.packers.size(), 1u) << visible(row.text);
    const PackerDef& packer = settings.packers[0];
    EXPECT_EQ(packer.sigOffset, row.sigOffset) << visible(row.text);
    ASSERT_EQ(packer.sigLength, row.sigLength) << visible(row.text);
    for (int i = 0; i < row.sigLength; ++i) {
      EXPECT_EQ(packer.sigBytes[i], row.bytes[i]) << visible(row.text) << " byte " << i;
    }
    if (row.firstByte >= 0) {
      EXPECT_EQ(packer.sigBytes[0], row.firstByte) << visible(row.text);
    }
    EXPECT_FALSE(packer.ext || packer.pack || packer.unpack || packer.test || packer.append)
        << visible(row.text);
  }
}

TEST_F(ConfigFileTest, ALineBeginningWithIdStartsAPacker) {
  ASSERT_EQ(readConfigText("Identity\nidle 00 41\n"), 1);
  EXPECT_EQ(settings.packers.size(), 2u);
}

TEST_F(ConfigFileTest, DefaultPackerIsResolvedAfterTheWholeFile) {
  struct Row {
    const char* text;
    int expected;
  };
  const Row rows[] = {
      {"DefaultPacker xyz\nID 00 41\nExt XYZ\n", 0},
      {"ID 00 41\nExt ABC\nID 00 42\nExt XYZ\nDefaultPacker XyZ\n", 1},
      {"ID 00 41\nExt xyz\nID 00 42\nExt XYZ\nDefaultPacker XYZ\n", 0},
      {"ID 00 41\nExt ABC\nID 00 42\nExt XYZ\nDefaultPacker ABC\nDefaultPacker XYZ\n", 1},
      {"ID 00 41\nExt ABC\nDefaultPacker ABC\nDefaultPacker\n", 0},
      {"ID 00 41\nExt ABC\nDefaultPacker ABC\nDefaultPacker ,\n", 0},
      {"ID 00 41\nExt ABC\nDefaultPacker RAR\n", -1},
      {"ID 00 41\nExt ABC\nDefaultPacker ABC, XYZ\n", 0},
      {"ID 00 41\nExt ABC \nDefaultPacker ABC\n", -1},
      {"ID 00 41\nDefaultPacker ABC\n", -1},
      {"ID 00 41\nExt ABC\n", -1},
  };
  for (const Row& row : rows) {
    settings = Settings{};
    settings.targetPacker = 5;
    ASSERT_EQ(readConfigText(row.text), 1) << visible(row.text);
    EXPECT_EQ(settings.targetPacker, row.expected) << visible(row.text);
  }
}

TEST_F(ConfigFileTest, DefaultPackerWordHasNoLengthLimit) {
  const std::string name(65, 'q');  // the longest word a 79-byte piece can hold
  ASSERT_EQ(readConfigText("ID 00 41\nExt " + name + "\nDefaultPacker " + name + "\n"), 1);
  EXPECT_EQ(settings.targetPacker, 0);
}

TEST_F(ConfigFileTest, LongLineIsReadInPiecesOf79Bytes) {
  // 100 characters: the first 79 hold "Pack", a blank and 74 characters; the
  // last 21 are a line of their own, which here turns the log on.
  const std::string packValue(74, 'a');
  const std::string tail = "Log Yes " + std::string(13, 'z');
  const std::string line = "Pack " + packValue + tail;
  ASSERT_EQ(line.size(), 100u);
  ASSERT_EQ(readConfigText("ID 00 41\n" + line + "\nKeepTime No\n"), 1);
  ASSERT_EQ(settings.packers.size(), 1u);
  EXPECT_EQ(settings.packers[0].pack, packValue);
  EXPECT_EQ(settings.logEnabled, 1);
  EXPECT_EQ(settings.keepTime, 0);
}

TEST_F(ConfigFileTest, LineOfTenThousandCharacters) {
  const std::string line = "Exec " + std::string(10000, 'x');
  ASSERT_EQ(readConfigText(line + "\nLog Yes\n"), 1);
  ASSERT_EQ(settings.execList.size(), 1u);
  EXPECT_EQ(settings.execList[0], std::string(74, 'x'));
  EXPECT_EQ(settings.logEnabled, 1);
}

TEST_F(ConfigFileTest, LastLineWithoutNewlineKeepsEveryCharacter) {
  ASSERT_EQ(readConfigText("ID 00 41\nExt XYZ\nPack xyzpack -a"), 1);
  ASSERT_EQ(settings.packers.size(), 1u);
  EXPECT_EQ(settings.packers[0].pack, "xyzpack -a");
  ASSERT_EQ(readConfigText("Log Yes"), 1);
  EXPECT_EQ(settings.logEnabled, 1);
}

TEST_F(ConfigFileTest, EndOfFileByteEndsTheConfiguration) {
  ASSERT_EQ(readConfigText("Log Yes\n\x1AKeepTime No\n"), 1);
  EXPECT_EQ(settings.logEnabled, 1);
  EXPECT_EQ(settings.keepTime, 1);
}

TEST_F(ConfigFileTest, NulEndsTheTextOfItsLine) {
  static const char kText[] = "ID 00 41\nExt A\0B\nPack p\0\nLog\0 Yes\n";
  ASSERT_EQ(readConfigText(std::string(kText, sizeof kText - 1)), 1);
  ASSERT_EQ(settings.packers.size(), 1u);
  EXPECT_EQ(settings.packers[0].ext, "A");
  EXPECT_EQ(settings.packers[0].pack, "p");
  EXPECT_EQ(settings.logEnabled, 0);
}

TEST_F(ConfigFileTest, HighBytesAreKeptAsTheyAre) {
  ASSERT_EQ(readConfigText("ID 00 41\nExt \xFF\xFE\x80\nDescfiles \xE9t\xE9\n"), 1);
  ASSERT_EQ(settings.packers.size(), 1u);
  EXPECT_EQ(settings.packers[0].ext, "\xFF\xFE\x80");
  EXPECT_EQ(settings.descFiles, std::vector<std::string>{"\xE9t\xE9"});
}

TEST_F(ConfigFileTest, BinaryGarbageIsReadSafely) {
  std::mt19937 random(1234);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(20000, '\0');
    for (char& c : bytes) {
      // Mostly key letters, blanks and line ends, so that keys really match.
      static const char kAlphabet[] =
          "IDExtPackLogDelAddExec \t,\n\r\0\xFF\x1A"
          "0123456789abcdef";
      c = (random() % 4 == 0) ? char(random() % 256) : kAlphabet[random() % (sizeof kAlphabet - 1)];
    }
    ASSERT_EQ(readConfigText(bytes), 1) << "round " << round;
    EXPECT_LE(settings.packers.size(), size_t(kMaxPackers));
    EXPECT_LE(settings.delList.size(), size_t(kMaxListEntries));
    EXPECT_LE(settings.execList.size(), size_t(kMaxListEntries));
    for (const PackerDef& packer : settings.packers) {
      EXPECT_GE(packer.sigLength, 0);
      EXPECT_LE(packer.sigLength, kMaxSignatureBytes);
      EXPECT_GE(packer.sigOffset, 0);
    }
  }
}

TEST_F(ConfigFileTest, ExampleConfigurationUsingEveryKey) {
  const char* text =
      "; a line that begins with no key is ignored\n"
      "DefaultPacker XYZ\n"
      "Detect ID\n"
      "KeepTime Yes\n"
      "BreakOnError No\n"
      "ExistArchive Overwrite\n"
      "SourceArchive Keep\n"
      "Log Yes\n"
      "Description Update\n"
      "File_ID.DIZ 3\n"
      "Descfiles catalog.txt\n"
      "Fileorder file_id.diz\n"
      "Del *.bak\n"
      "Add c:\\notes\\readme.txt\n"
      "Exec -\n"
      "ID 00 58595A\n"
      "Ext XYZ\n"
      "Pack xyzpack -a\n"
      "Unpack xyzpack -x\n"
      "Test xyzpack -t\n"
      "Append *.*\n";
  ASSERT_EQ(readConfigText(text), 1);
  ASSERT_EQ(settings.packers.size(), 1u);
  const PackerDef& packer = settings.packers[0];
  EXPECT_EQ(packer.sigOffset, 0);
  EXPECT_EQ(packer.sigLength, 3);
  EXPECT_EQ(packer.ext, "XYZ");
  EXPECT_EQ(packer.pack, "xyzpack -a");
  EXPECT_EQ(packer.unpack, "xyzpack -x");
  EXPECT_EQ(packer.test, "xyzpack -t");
  EXPECT_EQ(packer.append, "*.*");
  EXPECT_EQ(settings.targetPacker, 0);
  EXPECT_EQ(settings.detectById, 1);
  EXPECT_EQ(settings.keepTime, 1);
  EXPECT_EQ(settings.breakOnError, 0);
  EXPECT_EQ(settings.skipExisting, 0);
  EXPECT_EQ(settings.keepSource, 1);
  EXPECT_EQ(settings.logEnabled, 1);
  EXPECT_EQ(settings.updateDescription, 1);
  EXPECT_EQ(settings.fileIdDizMode, 3);
  EXPECT_EQ(settings.descFiles, std::vector<std::string>{"catalog.txt"});
  EXPECT_EQ(settings.fileOrder, std::vector<std::string>{"file_id.diz"});
  EXPECT_EQ(settings.delList, std::vector<std::string>{"*.bak"});
  EXPECT_EQ(settings.addList, std::vector<std::string>{"c:\\notes\\readme.txt"});
  EXPECT_EQ(settings.execList, std::vector<std::string>{"-"});
}

// The keys of installs and scripts, each before and after a packer section,
// and against the older keys they begin like.
TEST_F(ConfigFileTest, ErrorExitWorkDirAndLogFile) {
  const std::string packer = "ID 00 58595A\nExt XYZ\nPack xyzpack -a\n";
  struct Row {
    std::string text;
    int errorExit;
    std::optional<std::string> workDir;
    std::optional<std::string> logFile;
    int logEnabled;
  };
  const Row rows[] = {
      {packer, 0, std::nullopt, std::nullopt, 0},
      {"ErrorExit Yes\n" + packer, 1, std::nullopt, std::nullopt, 0},
      {packer + "errorexit YES\n", 1, std::nullopt, std::nullopt, 0},
      {packer + "ErrorExit No\n", 0, std::nullopt, std::nullopt, 0},
      {"WorkDir /srv/tmp\n" + packer, 0, "/srv/tmp", std::nullopt, 0},
      {packer + "WorkDir \t my work \t\n", 0, "my work", std::nullopt, 0},
      {packer + "WorkDir\n", 0, std::nullopt, std::nullopt, 0},
      {"LogFile logs/zelm.log\nLog Yes\n" + packer, 0, std::nullopt, "logs/zelm.log", 1},
      {"Log Yes\n" + packer + "LOGFILE /var/log/z.log\n", 0, std::nullopt, "/var/log/z.log", 1},
      {packer + "LogFile x.log\n", 0, std::nullopt, "x.log", 0},
      {packer + "Log Yes\nLogfile x.log\nLog No\n", 0, std::nullopt, "x.log", 0},
  };
  for (const Row& row : rows) {
    settings = Settings{};
    ASSERT_EQ(readConfigText(row.text), 1) << visible(row.text);
    EXPECT_EQ(settings.errorExit, row.errorExit) << visible(row.text);
    EXPECT_EQ(settings.workDir, row.workDir) << visible(row.text);
    EXPECT_EQ(settings.logFile, row.logFile) << visible(row.text);
    EXPECT_EQ(settings.logEnabled, row.logEnabled) << visible(row.text);
    ASSERT_EQ(settings.packers.size(), 1u) << visible(row.text);
    EXPECT_EQ(settings.packers[0].pack, "xyzpack -a") << visible(row.text);
    EXPECT_EQ(settings.targetPacker, -1) << visible(row.text);
  }
}

TEST_F(ConfigFileTest, APathIsTheWholeLineHoweverLong) {
  const std::string path = "/srv/" + std::string(300, 'w') + "/x y";
  ASSERT_EQ(readConfigText("WorkDir " + path + "  \nLog Yes\nLogFile " + path + ".log"), 1);
  EXPECT_EQ(settings.workDir, path);
  EXPECT_EQ(settings.logFile, path + ".log");
  EXPECT_EQ(settings.logEnabled, 1);

  // A NUL ends the path's text; the line after it is a line of its own.
  ASSERT_EQ(readConfigText(std::string("WorkDir /a\0/b\nLog Yes\n", 22)), 1);
  EXPECT_EQ(settings.workDir, "/a");
  EXPECT_EQ(settings.logEnabled, 1);
}

TEST_F(ConfigFileTest, ReadConfigBuildsLogPathBesideTheExecutable) {
  readConfig();
  const std::string exe = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(settings.logPath, exe.substr(0, exe.rfind('/')) + "/zelm.log");
}

}  // namespace
