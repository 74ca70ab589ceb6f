// Tests of the description catalogs: choosing the catalog, making lines,
// and carrying lines over to converted archives.
#include "describe/catalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "config/settings.h"
#include "describe/catalog_lock.h"
#include "describe/description.h"
#include "run/output.h"
#include "scratch_dir.h"
#include "small_tmpfs.h"

namespace fs = std::filesystem;

namespace {

TEST(CatalogLine, MatchesTheNameFollowedByABlankTabOrLineEnd) {
  struct Row {
    std::string_view piece;
    bool lastPiece;
    bool expected;
  };
  const Row rows[] = {
      {"GAME.OLD  A fine game\n", false, true},
      {"game.old\tTabbed\n", false, true},
      {"Game.old\n", false, true},
      {"Game.old", true, true},
      {"Game.old", false, false},
      {"GAME.OLDX text\n", false, false},
      {"\"Game.old\" quoted\n", false, false},
      {" Game.old text\n", false, false},
      {"Game.ol\n", true, false},
      {"", true, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(catalogLineMatches(row.piece, "Game.old", row.lastPiece), row.expected)
        << "'" << row.piece << "' last=" << row.lastPiece;
  }
  EXPECT_FALSE(catalogLineMatches(" text\n", "", true));
}

// Archives of the packers "old" and "new" in src/, a destination dst/, and an
// unpacker that writes "About NAME" as the description file and records the
// archives it was run for.
class Catalog : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings{};
    lastKept = 0;
    fs::create_directories(dir_ / "src");
    fs::create_directories(dir_ / "dst");
    const fs::path script = dir_ / "unpack.sh";
    write(script, "#!/bin/sh\necho \"$1\" >> '" + (dir_ / "calls").string() +
                      "'\nprintf 'About %s\\n' \"${1##*/}\" > \"$2\"\n");
    fs::permissions(script, fs::perms::owner_all);
    for (const char* ext : {"old", "new"}) {
      PackerDef packer;
      packer.ext = ext;
      packer.unpack = script.string();
      settings.packers.push_back(packer);
    }
    settings.fileOrder = {"file_id.diz"};
    settings.descFiles = {"files.bbs"};
    fs::current_path(dir_ / "src");
  }
  void TearDown() override { settings = Settings{}; }
  static void write(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  static void makeReadOnly(const fs::path& path) { fs::permissions(path, fs::perms::owner_read); }
  std::vector<std::string> calls() const {
    std::vector<std::string> out;
    std::ifstream in(dir_ / "calls");
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  static std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) {
      out.push_back(entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string src(const std::string& name) const { return (dir_ / "src" / name).string(); }
  std::string dst(const std::string& name) const { return (dir_ / "dst" / name).string(); }

  ScratchDir scratch_{"catalog"};
  const fs::path dir_ = scratch_.path();
};

TEST_F(Catalog, FindCatalogTakesTheFirstWritableRegularFile) {
  settings.descFiles = {"first.lst", "second.lst"};
  EXPECT_EQ(findCatalog(), std::nullopt);
  write("second.lst", "");
  EXPECT_EQ(findCatalog(), "second.lst");
  write("first.lst", "");
  EXPECT_EQ(findCatalog(), "first.lst");
  makeReadOnly("first.lst");
  EXPECT_EQ(findCatalog(), "second.lst");
  fs::remove("first.lst");
  fs::create_directory("first.lst");
  EXPECT_EQ(findCatalog(), "second.lst");
  fs::remove("first.lst");
  fs::create_symlink("second.lst", "first.lst");
  EXPECT_EQ(findCatalog(), "second.lst");
}

TEST_F(Catalog, MakeModeAppendsALinePerRunToTheChosenCatalog) {
  settings.descFiles = {"first.lst", "second.lst"};
  write("Game.old", "archive");
  catalogArchive("Game.old");
  catalogArchive("Game.old");
  EXPECT_EQ(read("first.lst"), "Game.old\tAbout Game.old \r\nGame.old\tAbout Game.old \r\n");
  EXPECT_FALSE(fs::exists("second.lst"));

  fs::remove("first.lst");
  write("second.lst", "Kept\r\n");
  catalogArchive("Game.old");
  EXPECT_EQ(read("second.lst"), "Kept\r\nGame.old\tAbout Game.old \r\n");
  EXPECT_FALSE(fs::exists("first.lst"));
}

TEST_F(Catalog, ALineIsNeverGluedOntoALastLineWithoutLineEnd) {
  write("Game.old", "archive");
  write("files.bbs", "Prior.old\tno line end");
  catalogArchive("Game.old");
  catalogArchive("Game.old");
  EXPECT_EQ(read("files.bbs"),
            "Prior.old\tno line end\r\nGame.old\tAbout Game.old \r\n"
            "Game.old\tAbout Game.old \r\n");

  write(dst("files.bbs"), "Prior.new\tP");
  write("files.bbs", "Game.old\tcarried\r\n");
  updateCatalog(1, src("Game.old"), dst("Game.new"));
  EXPECT_EQ(read(dst("files.bbs")), "Prior.new\tP\r\nGame.new\tcarried\r\n");
}

TEST_F(Catalog, MakeModePassesOverDirectoriesUnknownFilesAndControlBytes) {
  fs::create_directory("dir.old");
  write("notes.txt", "text");
  write("tab\tname.old", "archive");
  write("line\nend.old", "archive");
  for (const char* name : {"dir.old", "notes.txt", "tab\tname.old", "line\nend.old", "gone.old"}) {
    catalogArchive(name);
  }
  EXPECT_EQ(read("files.bbs"), "");
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, MakeModeWritesNothingWithoutAWritableCatalog) {
  write("Game.old", "archive");
  settings.descFiles.clear();
  catalogArchive("Game.old");
  EXPECT_EQ(names("."), std::vector<std::string>{"Game.old"});

  settings.descFiles = {"files.bbs"};
  write("files.bbs", "Old\r\n");
  makeReadOnly("files.bbs");
  catalogArchive("Game.old");
  EXPECT_EQ(read("files.bbs"), "Old\r\n");
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, UpdateInPlaceRenamesEveryMatchingLineAndKeepsLongLinesWhole) {
  const std::string longText(300, 'd');
  write("files.bbs",
        "GAME.OLD  A fine game\r\n"
        "game.old\tTabbed\r\n"
        "GAME.OLDX text\r\n"
        "\"Game.old\" quoted\r\n" +
            longText + "\r\n" + "Game.old " + longText + "\r\n" + "last.old\tno line end");
  write("Game.new", "archive");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"),
            "Game.new  A fine game\r\n"
            "Game.new\tTabbed\r\n"
            "GAME.OLDX text\r\n"
            "\"Game.old\" quoted\r\n" +
                longText + "\r\n" + "Game.new " + longText + "\r\n" + "last.old\tno line end");
  EXPECT_EQ(names("."), (std::vector<std::string>{"Game.new", "files.bbs"}));
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, UpdateInPlaceMatchesALastLineWithoutLineEnd) {
  write("files.bbs", "other.old x\r\nGAME.OLD");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "other.old x\r\nGame.new");
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, UpdateInPlaceWithoutALineCatalogsTheNewArchive) {
  write("files.bbs", "other.old x\r\n");
  write("Game.new", "archive");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "other.old x\r\nGame.new\tAbout Game.new \r\n");
  EXPECT_EQ(calls(), std::vector<std::string>{"../Game.new"});

  fs::remove("files.bbs");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "Game.new\tAbout Game.new \r\n");
}

TEST_F(Catalog, ACatalogWithTheExtensionTmpIsNotItsOwnTemporary) {
  for (const char* catalog : {"files.tmp", "files.TMP"}) {
    settings.descFiles = {catalog};
    write(catalog, "Game.old\tKept\r\nother.old x\r\n");
    updateCatalog(1, src("Game.old"), src("Game.new"));
    EXPECT_EQ(read(catalog), "Game.new\tKept\r\nother.old x\r\n") << catalog;
    EXPECT_EQ(names("."), std::vector<std::string>{catalog});
    fs::remove(catalog);
  }
}

TEST_F(Catalog, WithoutItsTemporaryTheCatalogStaysAndNothingIsAdded) {
  write("Game.new", "archive");
  // Every name the temporary may take is someone else's.
  fs::create_directory("files.tmp");
  for (int i = 1; i <= 99; ++i)
    write("files.t" + std::string(i < 10 ? "0" : "") + std::to_string(i), "");
  write("files.bbs", "Game.old\tOld\r\n");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "Game.old\tOld\r\n");
  EXPECT_EQ(names(".").size(), 102u);

  // A directory its owner may not write to takes no temporary either, and
  // no new catalog, whoever runs the program.
  fs::remove("files.t99");
  fs::permissions(".", fs::perms::owner_read | fs::perms::owner_exec);
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "Game.old\tOld\r\n");
  fs::remove("files.bbs");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  fs::permissions(".", fs::perms::owner_all);
  EXPECT_EQ(names(".").size(), 100u);
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, ATakenTemporaryNameIsPassedOverAndNeverReplaced) {
  write("files.bbs", "Game.old\tOld\r\n");
  write("files.tmp", "someone's file");
  fs::create_symlink(dst("victim"), "files.t01");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "Game.new\tOld\r\n");
  EXPECT_EQ(read("files.tmp"), "someone's file");
  EXPECT_FALSE(fs::exists(dst("victim")));
  EXPECT_EQ(names("."), (std::vector<std::string>{"files.bbs", "files.t01", "files.tmp"}));
}

TEST_F(Catalog, BuiltPathsSplitOnlyAtSlashAndControlBytesNeverTakeALine) {
  // "a\b.old" is one name: it must not take the line of "b.old".
  write("files.bbs", "b.old\tOther\r\na\\b.old\tMine\r\n");
  updateCatalog(1, src("a\\b.old"), src("a\\b.new"));
  EXPECT_EQ(read("files.bbs"), "b.old\tOther\r\na\\b.new\tMine\r\n");

  // The source "b.old<TAB>x" would fit the line "b.old<TAB>x rated": it is
  // no line's name, so the new archive is described afresh instead.
  write("files.bbs", "b.old\tx rated\r\n");
  write("b.new", "archive");
  updateCatalog(1, src("b.old\tx"), src("b.new"));
  EXPECT_EQ(read("files.bbs"), "b.old\tx rated\r\nb.new\tAbout b.new \r\n");
  EXPECT_EQ(calls(), std::vector<std::string>{"../b.new"});
}

TEST_F(Catalog, AListedNameWithWildcardsIsLookedUpExactly) {
  write("a*.old", "archive");
  write("ab.old", "archive");
  write("a?.old", "archive");
  catalogArchive("a*.old");
  catalogArchive("a?.old");
  EXPECT_EQ(read("files.bbs"), "a*.old\tAbout a*.old \r\na?.old\tAbout a?.old \r\n");
}

TEST_F(Catalog, AFullDiskLeavesTheCatalogAsItWas) {
  // The catalog lies on a small file system of its own, the archives do not:
  // its temporary must be made beside it.
  const fs::path full = dir_ / "full";
  fs::create_directory(full);
  SmallTmpfs tmpfs(full.string(), 256 * 1024);
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  settings.descFiles = {(full / "files.bbs").string()};
  write(full / "files.bbs", "Game.old\tOld\r\n");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read(full / "files.bbs"), "Game.new\tOld\r\n");
  // 3,001 lines of about 30 bytes, and no room for a second copy.
  std::string catalog;
  for (int i = 0; i < 3000; ++i) catalog += "other" + std::to_string(i) + ".old\tSome text\r\n";
  catalog += "Game.old\tOld\r\n";
  write(full / "files.bbs", catalog);
  write("Game.new", "archive");
  ASSERT_TRUE(tmpfs.fill());
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read(full / "files.bbs"), catalog);
  EXPECT_EQ(names(full), (std::vector<std::string>{"files.bbs", "filler"}));
  EXPECT_TRUE(calls().empty());

  // An append that fits part of its line only is cut back whole: the
  // catalog ends a few bytes short of a full page, and nothing else is free.
  fs::remove(full / "filler");
  const std::string pages(4096 * 2 - 6, 'p');
  write(full / "files.bbs", pages);
  ASSERT_TRUE(tmpfs.fill());
  catalogArchive("Game.new");
  EXPECT_EQ(calls(), std::vector<std::string>{"../Game.new"});
  EXPECT_EQ(read(full / "files.bbs"), pages);
}

TEST_F(Catalog, WhereNoLockCanBeTakenTheLogSaysSoOnce) {
  ASSERT_TRUE(openLog((dir_ / "zelm.log").string()));
  { const CatalogLock first("no-such-dir"); }
  { const CatalogLock second("no-such-dir"); }
  closeLog();
  EXPECT_EQ(read(dir_ / "zelm.log"), "Catalog not locked:  no-such-dir\r\n");
  EXPECT_EQ(catalogDirectory("files.bbs"), ".");
  EXPECT_EQ(catalogDirectory("/files.bbs"), "/");
  EXPECT_EQ(catalogDirectory("/srv/a\\b/files.bbs"), "/srv/a\\b");
}

TEST_F(Catalog, AReadOnlyCatalogOrADirectoryIsLeftAlone) {
  write("Game.new", "archive");
  write("files.bbs", "Game.old\tOld\r\n");
  makeReadOnly("files.bbs");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_EQ(read("files.bbs"), "Game.old\tOld\r\n");

  fs::permissions("files.bbs", fs::perms::owner_all);
  fs::remove("files.bbs");
  fs::create_directory("files.bbs");
  updateCatalog(1, src("Game.old"), src("Game.new"));
  EXPECT_TRUE(fs::is_directory("files.bbs"));
  EXPECT_EQ(names("."), (std::vector<std::string>{"Game.new", "files.bbs"}));
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, UpdateIntoAnotherDirectoryCarriesTheWholeFirstLine) {
  const std::string longText(300, 'd');
  const std::string source = "other.old x\r\nGame.old " + longText + "\r\nGAME.OLD second\r\n";
  write("files.bbs", source);
  write(dst("files.bbs"), "Prior.new\tP\r\n");
  updateCatalog(1, src("Game.old"), dst("Game.new"));
  EXPECT_EQ(read("files.bbs"), source);
  EXPECT_EQ(read(dst("files.bbs")), "Prior.new\tP\r\nGame.new " + longText + "\r\n");
}

TEST_F(Catalog, UpdateIntoAnotherDirectoryEndsALastLineWithoutLineEnd) {
  const std::string longText(200, 'e');
  write("files.bbs", "game.old\t" + longText);
  updateCatalog(1, src("Game.old"), dst("Game.new"));
  EXPECT_EQ(read(dst("files.bbs")), "Game.new\t" + longText + "\r\n");
  EXPECT_EQ(read("files.bbs"), "game.old\t" + longText);
}

TEST_F(Catalog, UpdateIntoAnotherDirectoryWithoutALineWritesNoLine) {
  write(dst("Game.new"), "archive");
  updateCatalog(1, src("Game.old"), dst("Game.new"));
  EXPECT_EQ(read("files.bbs"), "");
  EXPECT_FALSE(fs::exists(dst("files.bbs")));
  EXPECT_TRUE(calls().empty());
}

TEST_F(Catalog, NothingHappensWhenDisabledOrForANameWithAControlByte) {
  write("files.bbs", "Game.old\tOld\r\n");
  write("Game.new", "archive");
  updateCatalog(0, src("Game.old"), src("Game.new"));
  updateCatalog(1, src("Game.old"), src("Game\tnew"));
  EXPECT_EQ(read("files.bbs"), "Game.old\tOld\r\n");
  EXPECT_EQ(names("."), (std::vector<std::string>{"Game.new", "files.bbs"}));
  EXPECT_TRUE(calls().empty());
}

}  // namespace
