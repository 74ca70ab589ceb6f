// Black-box tests with the real packers (7zz, zip/unzip, arj, jlha, arc) and
// the shipped zelm.cfg: conversions between every pair of formats, trees,
// awkward names, failures, descriptions and links.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using harness::crlf;
using harness::readFile;
using harness::report;
using harness::TempDir;
using harness::ZelmResult;
using harness::ZelmRun;
using Seconds = std::chrono::sys_seconds;
using Names = std::vector<std::string>;

// One format: the word of its packer section (the switch and the extension
// zelm gives) and the extension its test sources get.
struct Format {
  std::string name;
  std::string upper;
};

const Format kZip{"zip", "ZIP"};
const Format k7z{"7z", "7Z"};
const Format kArj{"arj", "ARJ"};
const Format kLzh{"lzh", "LZH"};
const Format kArc{"arc", "ARC"};
const Format* const kFormats[] = {&kZip, &k7z, &kArj, &kLzh, &kArc};

Seconds at(int year, unsigned month, unsigned day, int hour, int minute, int second) {
  return std::chrono::sys_days{std::chrono::year{year} / month / day} + std::chrono::hours{hour} +
         std::chrono::minutes{minute} + std::chrono::seconds{second};
}

// Source archives get an odd second, which a DOS time cannot hold.
const Seconds kArchiveTime = at(2022, 5, 6, 7, 8, 9);
const Seconds kArchiveTimeEven = at(2022, 5, 6, 7, 8, 8);

Seconds mtimeOf(const std::string& path) {
  return std::chrono::floor<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(fs::last_write_time(path)));
}

std::string show(Seconds time) { return std::to_string(time.time_since_epoch().count()); }

// Runs a real tool found along PATH, in `cwd`, in UTC.
::testing::AssertionResult runTool(const Names& command, const std::string& cwd) {
  const ZelmResult result = harness::runBinary("/usr/bin/env", command, cwd, {{"TZ", "UTC"}}, 120);
  if (result.exitCode == 0) return ::testing::AssertionSuccess();
  std::string text;
  for (const auto& word : command) text += word + " ";
  return ::testing::AssertionFailure() << text << "in " << cwd << "\n" << describe(result);
}

::testing::AssertionResult setTime(const std::string& path, Seconds time) {
  return runTool({"touch", "-h", "-d", "@" + show(time), path}, "/");
}

// Packs `names` of `dir` into `archive` with the format's own program;
// `tree` packs subdirectories too.
::testing::AssertionResult pack(const Format& format, const std::string& archive,
                                const std::string& dir, const Names& names, bool tree = false) {
  Names command;
  if (&format == &kZip) {
    command = {"zip", "-X", "-q"};
    if (tree) command.push_back("-r");
  } else if (&format == &k7z) {
    command = {"7zz", "a", "-bd", "-bso0", "-bsp0"};
  } else if (&format == &kArj) {
    command = {"arj", "a", "-+", "-i", "-y"};
    if (tree) command.insert(command.end(), {"-r", "-a1"});
  } else if (&format == &kLzh) {
    command = {"jlha", "aq"};
  } else {
    command = {"arc", "a"};
  }
  command.push_back(archive);
  // arj packs the whole directory when given no names.
  if (!(tree && &format == &kArj)) command.insert(command.end(), names.begin(), names.end());
  return runTool(command, dir);
}

// Extracts `archive` into the new directory `dir` with the format's own
// program (LZH archives with 7zz, which reads what jlha writes).
::testing::AssertionResult unpack(const Format& format, const std::string& archive,
                                  const std::string& dir) {
  fs::create_directories(dir);
  if (&format == &kZip) return runTool({"unzip", "-q", "-o", archive, "-d", dir}, dir);
  if (&format == &kArj) return runTool({"arj", "x", "-+", "-i", "-y", archive, dir + "/"}, dir);
  if (&format == &kArc) return runTool({"arc", "x", archive}, dir);
  return runTool({"7zz", "x", "-y", "-bd", "-bso0", "-bsp0", "-o" + dir, archive}, dir);
}

// The shipped configuration with some lines replaced: a change replaces the
// line that starts with its key word, or is added at the end.
std::string defaultConfig(const Names& changes = {}) {
  std::string config = readFile(ZELM_DEFAULT_CONFIG);
  for (const auto& change : changes) {
    const std::string key = change.substr(0, change.find(' ') + 1);
    size_t pos = config.rfind("\n" + key);
    if (pos == std::string::npos) {
      config += change + "\n";
    } else {
      ++pos;
      config.replace(pos, config.find('\n', pos) - pos, change);
    }
  }
  return config;
}

ZelmResult zelm(const std::string& cwd, const Names& args,
                const std::string& config = defaultConfig()) {
  ZelmRun run;
  run.config = config;
  run.args = args;
  run.cwd = cwd;
  run.env = {{"TZ", "UTC"}};
  run.timeoutSeconds = 200;
  return harness::runZelm(run);
}

// The console output ends with `end`: the report comes after whatever the
// packers printed.
::testing::AssertionResult endsWith(const std::string& text, const std::string& end) {
  if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the console output\n"
                                       << text << "\ndoes not end with\n"
                                       << end;
}

size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

struct Member {
  std::string name;  // relative, '/' between directories
  std::string bytes;
  Seconds time;
};

// Bytes that do not compress and hold every value.
std::string noise(size_t size, unsigned state) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    out += static_cast<char>(state >> 23);
  }
  return out;
}

std::string prose(size_t size) {
  std::string out;
  while (out.size() < size) out += "The quick brown fox jumps over the lazy dog. ";
  return out.substr(0, size);
}

// Flat members with 8.3 upper-case names, as every format can carry them.
const std::vector<Member>& flatMembers() {
  static const std::vector<Member> members = {
      {"ALPHA.TXT", "Alpha line one\r\nAlpha line two\r\n", at(2021, 3, 4, 5, 6, 7)},
      {"DATA.BIN", noise(4000, 7), at(2020, 1, 2, 3, 4, 5)},
      {"README.DOC", prose(6000), at(2019, 7, 8, 9, 10, 11)},
      {"Z.DAT", std::string("\0\x1A\r\n\xFF", 5), at(2018, 12, 31, 23, 59, 59)},
  };
  return members;
}

Names namesOf(const std::vector<Member>& members) {
  Names names;
  for (const auto& member : members) names.push_back(member.name);
  return names;
}

::testing::AssertionResult writeMembers(const std::string& dir,
                                        const std::vector<Member>& members) {
  for (const auto& member : members) {
    harness::writeFile(dir + "/" + member.name, member.bytes);
    auto timed = setTime(dir + "/" + member.name, member.time);
    if (!timed) return timed;
  }
  return ::testing::AssertionSuccess();
}

// Compares the files below `dir` with `members`: bytes exactly, times to the
// two seconds of a DOS time. `tree` is every entry expected, directories too.
void expectMembers(const std::string& dir, const std::vector<Member>& members, const Names& tree) {
  EXPECT_EQ(harness::listTree(dir), tree) << "extracted into " << dir;
  for (const auto& member : members) {
    const std::string path = dir + "/" + member.name;
    if (!fs::is_regular_file(path)) continue;
    EXPECT_TRUE(readFile(path) == member.bytes) << member.name << " has other bytes";
    const auto drift = (mtimeOf(path) - member.time).count();
    EXPECT_LE(std::abs(drift), 2) << member.name << ": " << show(mtimeOf(path)) << " instead of "
                                  << show(member.time);
  }
}

Names sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

class RealPackers : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }

  // Converts an archive made by `source` to each of the other formats, each
  // in its own directory, and checks the result with the target's own tool.
  void convertToEveryOtherFormat(const Format& source) {
    const std::string staging = root_ / "members";
    ASSERT_TRUE(writeMembers(staging, flatMembers()));
    const Names names = namesOf(flatMembers());
    for (const Format* target : kFormats) {
      if (target == &source) continue;
      SCOPED_TRACE(source.upper + " to " + target->name);
      const std::string dir = root_ / ("to-" + target->name);
      const std::string sourcePath = dir + "/SRC." + source.upper;
      const std::string newName = "SRC." + target->name;
      fs::create_directories(dir);
      ASSERT_TRUE(pack(source, sourcePath, staging, names));
      ASSERT_TRUE(setTime(sourcePath, kArchiveTime));
      const uintmax_t sourceSize = fs::file_size(sourcePath);

      const ZelmResult result = zelm(dir, {"*.*", "/" + target->name});
      ASSERT_EQ(result.exitCode, 0) << describe(result);
      EXPECT_EQ(harness::listTree(dir), Names{newName}) << describe(result);
      ASSERT_TRUE(fs::is_regular_file(dir + "/" + newName)) << describe(result);
      const uintmax_t newSize = fs::file_size(dir + "/" + newName);
      EXPECT_TRUE(endsWith(result.out, report(1, 0, 0, sourceSize, newSize)));
      EXPECT_EQ(show(mtimeOf(dir + "/" + newName)), show(kArchiveTimeEven));
      ASSERT_TRUE(result.log);
      EXPECT_NE(result.log->find(crlf("Convert successfull: " + sourcePath + "\n")),
                std::string::npos)
          << *result.log;

      const std::string scratch = root_ / ("check-" + target->name);
      ASSERT_TRUE(unpack(*target, dir + "/" + newName, scratch));
      expectMembers(scratch, flatMembers(), names);
    }
  }

  TempDir root_;
};

TEST_F(RealPackers, ZipConvertsToEveryOtherFormat) { convertToEveryOtherFormat(kZip); }

TEST_F(RealPackers, SevenZipConvertsToEveryOtherFormat) { convertToEveryOtherFormat(k7z); }

TEST_F(RealPackers, ArjConvertsToEveryOtherFormat) { convertToEveryOtherFormat(kArj); }

TEST_F(RealPackers, LzhConvertsToEveryOtherFormat) { convertToEveryOtherFormat(kLzh); }

TEST_F(RealPackers, ArcConvertsToEveryOtherFormat) { convertToEveryOtherFormat(kArc); }

TEST_F(RealPackers, ATreeIsMirroredBelowTheDestinationWithItsArchivesWhole) {
  const std::vector<Member> members = {
      {"A.TXT", "top level\n", at(2021, 1, 1, 10, 0, 1)},
      {"SUB/B.TXT", noise(700, 3), at(2021, 1, 2, 10, 0, 3)},
      {"SUB/DEEP/C.TXT", prose(900), at(2021, 1, 3, 10, 0, 5)},
  };
  const Names inside = {"A.TXT", "EMPTY/", "SUB/", "SUB/B.TXT", "SUB/DEEP/", "SUB/DEEP/C.TXT"};
  const std::pair<const Format*, std::string> rows[] = {{&k7z, ""}, {&kZip, "../out"}};
  for (const auto& [target, destination] : rows) {
    SCOPED_TRACE("target " + target->name);
    const std::string base = root_ / ("tree-" + target->name);
    const std::string staging = base + "/members";
    const std::string in = base + "/in";
    const std::string out = base + "/out";
    ASSERT_TRUE(writeMembers(staging, members));
    fs::create_directories(staging + "/EMPTY");
    fs::create_directories(in + "/LEVEL1/LEVEL2");
    fs::create_directories(in + "/NOARCS");
    fs::create_directories(out);
    harness::writeFile(in + "/NOTES.TXT", "not an archive\n");
    const Names top = {"A.TXT", "EMPTY", "SUB"};
    const std::string sources[] = {in + "/TOP.ZIP", in + "/LEVEL1/MID.7Z",
                                   in + "/LEVEL1/LEVEL2/LOW.ARJ"};
    ASSERT_TRUE(pack(kZip, sources[0], staging, top, true));
    ASSERT_TRUE(pack(k7z, sources[1], staging, top, true));
    ASSERT_TRUE(pack(kArj, sources[2], staging, top, true));
    uintmax_t sizeBefore = 0;
    for (const auto& source : sources) {
      ASSERT_TRUE(setTime(source, kArchiveTime));
      sizeBefore += fs::file_size(source);
    }

    const std::string dest = destination.empty() ? out : destination;
    const ZelmResult result = zelm(in, {"*.*", "/r", "/d:" + dest, "/" + target->name});
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    const std::string ext = "." + target->name;
    EXPECT_EQ(harness::listTree(out), (Names{"LEVEL1/", "LEVEL1/LEVEL2/", "LEVEL1/LEVEL2/LOW" + ext,
                                             "LEVEL1/MID" + ext, "NOARCS/", "TOP" + ext}))
        << describe(result);
    // The sources are gone, and nothing else was written beside them.
    EXPECT_EQ(harness::listTree(in), (Names{"LEVEL1/", "LEVEL1/LEVEL2/", "NOARCS/", "NOTES.TXT"}));
    const std::string made[] = {out + "/TOP" + ext, out + "/LEVEL1/MID" + ext,
                                out + "/LEVEL1/LEVEL2/LOW" + ext};
    uintmax_t sizeAfter = 0;
    for (const auto& archive : made) {
      SCOPED_TRACE(archive);
      ASSERT_TRUE(fs::is_regular_file(archive));
      sizeAfter += fs::file_size(archive);
      EXPECT_EQ(show(mtimeOf(archive)), show(kArchiveTimeEven));
      const std::string scratch = base + "/check/" + fs::path(archive).filename().string();
      ASSERT_TRUE(unpack(*target, archive, scratch));
      expectMembers(scratch, members, inside);
    }
    EXPECT_TRUE(endsWith(result.out, report(3, 0, 0, sizeBefore, sizeAfter)));
    ASSERT_TRUE(result.log);
    EXPECT_EQ(countOf(*result.log, "Convert successfull: "), 3u) << *result.log;
  }
}

TEST_F(RealPackers, AwkwardArchiveNamesConvertBetweenZipSevenZipAndArj) {
  const std::vector<Member> members = {
      {"ONE.TXT", "first member\n", at(2021, 6, 1, 12, 0, 1)},
      {"MY FILE.TXT", noise(300, 11), at(2021, 6, 2, 12, 0, 3)},
  };
  const Names bases = {"my game", "-rf", "say \"hi\"", "semi;$HOME", "caf\xC3\xA9", "raw\xE9\x82"};
  const std::string staging = root_ / "members";
  ASSERT_TRUE(writeMembers(staging, members));
  // Two rounds between the three formats, one each way, cover all six pairs.
  const std::vector<const Format*> rounds[] = {{&k7z, &kArj, &kZip}, {&kArj, &k7z, &kZip}};
  int roundNumber = 0;
  for (const auto& steps : rounds) {
    const std::string dir = root_ / ("round" + std::to_string(++roundNumber));
    fs::create_directories(dir);
    for (const auto& base : bases) {
      ASSERT_TRUE(pack(kZip, dir + "/" + base + ".ZIP", staging, namesOf(members)));
      ASSERT_TRUE(setTime(dir + "/" + base + ".ZIP", kArchiveTime));
    }
    const Format* current = &kZip;
    std::string currentExt = "ZIP";
    for (const Format* target : steps) {
      SCOPED_TRACE("round " + std::to_string(roundNumber) + ": " + current->name + " to " +
                   target->name);
      uintmax_t sizeBefore = 0;
      for (const auto& base : bases)
        sizeBefore += fs::file_size(dir + "/" + base + "." + currentExt);
      const ZelmResult result = zelm(dir, {"*.*", "/" + target->name});
      ASSERT_EQ(result.exitCode, 0) << describe(result);
      Names expected;
      for (const auto& base : bases) expected.push_back(base + "." + target->name);
      EXPECT_EQ(harness::listTree(dir), sorted(expected)) << describe(result);
      uintmax_t sizeAfter = 0;
      for (const auto& base : bases) {
        SCOPED_TRACE(base);
        const std::string archive = dir + "/" + base + "." + target->name;
        ASSERT_TRUE(fs::is_regular_file(archive));
        sizeAfter += fs::file_size(archive);
        EXPECT_EQ(show(mtimeOf(archive)), show(kArchiveTimeEven));
        const std::string scratch = root_ / "check";
        fs::remove_all(scratch);
        ASSERT_TRUE(unpack(*target, archive, scratch));
        expectMembers(scratch, members, {"MY FILE.TXT", "ONE.TXT"});
      }
      EXPECT_TRUE(endsWith(result.out, report(6, 0, 0, sizeBefore, sizeAfter)));
      current = target;
      currentExt = target->name;
    }
  }
}

TEST_F(RealPackers, ANameThatArcShortensFailsAndKeepsTheSource) {
  const std::string staging = root_ / "members";
  ASSERT_TRUE(writeMembers(staging, flatMembers()));
  struct Row {
    std::string breakOnError;
    int exitCode;
    std::string outEnd;
  };
  const Row rows[] = {
      {"No", 2, report(0, 1, 0, 0, 0)},  // the default ErrorExit Yes
      {"Yes", 1, "Can't run packer.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("BreakOnError " + row.breakOnError);
    const std::string dir = root_ / ("break-" + row.breakOnError);
    const std::string source = dir + "/LONGNAME12.ZIP";
    fs::create_directories(dir);
    ASSERT_TRUE(pack(kZip, source, staging, namesOf(flatMembers())));
    ASSERT_TRUE(setTime(source, kArchiveTime));
    const std::string bytes = readFile(source);

    const ZelmResult result =
        zelm(dir, {"*.*", "/arc"}, defaultConfig({"BreakOnError " + row.breakOnError}));
    EXPECT_EQ(result.exitCode, row.exitCode) << describe(result);
    EXPECT_TRUE(endsWith(result.out, row.outEnd));
    EXPECT_EQ(readFile(source), bytes) << "the source must stay";
    EXPECT_EQ(show(mtimeOf(source)), show(kArchiveTime));
    EXPECT_FALSE(harness::exists(dir + "/LONGNAME12.arc"));
    // What arc made under its shortened name is left alone.
    EXPECT_TRUE(harness::exists(dir + "/LONGNAME.arc"));
    ASSERT_TRUE(result.log);
    if (row.breakOnError == "No") {
      EXPECT_NE(result.log->find(crlf("Convert error:       " + source + "\n")), std::string::npos)
          << *result.log;
      EXPECT_EQ(harness::listTree(dir), (Names{"LONGNAME.arc", "LONGNAME12.ZIP"}));
    }
  }
}

// The packers that cannot carry what a ZIP holds are caught by the round trip.
TEST_F(RealPackers, ANewArchiveThatLosesAnythingFailsAndKeepsTheSource) {
  const std::vector<Member> tree = {{"A.TXT", "top\n", at(2021, 1, 1, 1, 1, 1)},
                                    {"SUB/B.TXT", "below\n", at(2021, 1, 1, 1, 1, 3)}};
  const std::vector<Member> named = {{"ONE.TXT", "plain\n", at(2021, 1, 1, 1, 1, 1)},
                                     {"CAF\xC3\x89.TXT", "accent\n", at(2021, 1, 1, 1, 1, 3)}};
  struct Row {
    std::string label;
    const Format* target;
    const std::vector<Member>* members;
    std::string difference;
    bool breakOnError;
  };
  const Row rows[] = {
      {"subdirectories to arc", &kArc, &tree, "SUB: missing from the new archive", false},
      {"a non-ASCII name to lzh", &kLzh, &named, "CAF\xC3\x89.TXT: missing from the new archive",
       false},
      {"subdirectories to arc, BreakOnError", &kArc, &tree, "SUB: missing from the new archive",
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string base = root_ / row.label;
    ASSERT_TRUE(writeMembers(base + "/members", *row.members));
    const std::string source = base + "/in/SRC.ZIP";
    fs::create_directories(base + "/in");
    ASSERT_TRUE(pack(kZip, source, base + "/members", namesOf(*row.members), true));
    const std::string bytes = readFile(source);

    const ZelmResult result =
        zelm(base + "/in", {"*.*", "/" + row.target->name},
             defaultConfig({row.breakOnError ? "BreakOnError Yes" : "BreakOnError No"}));
    EXPECT_EQ(result.exitCode, row.breakOnError ? 1 : 2) << describe(result);
    EXPECT_TRUE(
        endsWith(result.out, row.breakOnError ? "Can't verify archive.\n" : report(0, 1, 0, 0, 0)));
    EXPECT_EQ(readFile(source), bytes);
    EXPECT_FALSE(harness::exists(base + "/in/SRC." + row.target->name)) << describe(result);
    if (!row.breakOnError) {
      EXPECT_EQ(harness::listTree(base + "/in"), Names{"SRC.ZIP"});
    }
    ASSERT_TRUE(result.log);
    EXPECT_NE(result.log->find(crlf("Verify error:       " + source + "\n                    " +
                                    row.difference + "\n")),
              std::string::npos)
        << *result.log;
  }
}

TEST_F(RealPackers, AnExistingNewNameIsSkippedOrPackedInto) {
  const std::string staging = root_ / "members";
  ASSERT_TRUE(writeMembers(staging, flatMembers()));
  const std::vector<Member> old = {{"OLD.TXT", "kept from before\n", at(2017, 4, 4, 4, 4, 4)}};
  const std::string oldStaging = root_ / "old";
  ASSERT_TRUE(writeMembers(oldStaging, old));
  for (const Format* target : {&k7z, &kArj, &kLzh, &kArc}) {
    for (const std::string mode : {"Skip", "Overwrite", "Overwrite-verified"}) {
      SCOPED_TRACE("ExistArchive " + mode + " to " + target->name);
      const std::string dir = root_ / (mode + "-" + target->name);
      const std::string source = dir + "/SRC.ZIP";
      const std::string made = dir + "/SRC." + target->name;
      fs::create_directories(dir);
      ASSERT_TRUE(pack(kZip, source, staging, namesOf(flatMembers())));
      ASSERT_TRUE(pack(*target, made, oldStaging, {"OLD.TXT"}));
      const std::string sourceBytes = readFile(source);
      const std::string oldBytes = readFile(made);

      const bool verified = mode == "Overwrite-verified";
      const ZelmResult result =
          zelm(dir, {"SRC.ZIP", "/" + target->name},
               defaultConfig({"ExistArchive " + mode.substr(0, mode.find('-')),
                              std::string("Verify ") + (verified ? "Yes" : "No")}));
      // The shipped ErrorExit Yes ends a run with a failed archive with 2.
      ASSERT_EQ(result.exitCode, verified ? 2 : 0) << describe(result);
      ASSERT_TRUE(result.log);
      if (verified) {
        // The members merged in come back too: never what was packed. The
        // archive was there before, so it stays, and so does the source.
        EXPECT_TRUE(endsWith(result.out, report(0, 1, 0, 0, 0)));
        EXPECT_EQ(readFile(source), sourceBytes);
        EXPECT_TRUE(fs::is_regular_file(made));
        EXPECT_NE(result.log->find(crlf("Verify error:       " + source +
                                        "\n                    OLD.TXT: in the new archive but "
                                        "never packed\n                    existed before, left "
                                        "in place: " +
                                        made + "\nConvert error:       " + source + "\n")),
                  std::string::npos)
            << *result.log;
        continue;
      }
      if (mode == "Skip") {
        EXPECT_TRUE(endsWith(result.out, report(0, 0, 1, 0, 0)));
        EXPECT_EQ(readFile(source), sourceBytes);
        EXPECT_EQ(readFile(made), oldBytes);
        EXPECT_EQ(harness::listTree(dir), sorted({"SRC.ZIP", "SRC." + target->name}));
        EXPECT_NE(result.log->find(crlf("Archive skipped:     " + source + "\n")),
                  std::string::npos)
            << *result.log;
        continue;
      }
      EXPECT_TRUE(endsWith(result.out, report(1, 0, 0, sourceBytes.size(), fs::file_size(made))));
      // jlha keeps the archive it added to under the name .bak.
      Names expected = {"SRC." + target->name};
      if (target == &kLzh) expected.push_back("SRC.bak");
      EXPECT_EQ(harness::listTree(dir), sorted(expected)) << describe(result);
      const std::string scratch = dir + "-check";
      ASSERT_TRUE(unpack(*target, made, scratch));
      std::vector<Member> all = flatMembers();
      all.push_back(old[0]);
      Names names = namesOf(all);
      expectMembers(scratch, all, sorted(names));
    }
  }
}

// A FILE_ID.DIZ framed with code page 437 lines, CR LF line ends.
Names dizLines(const std::string& label, bool longLine) {
  Names lines = {
      "\xC9" + std::string(10, '\xCD') + "\xBB",
      "\xBA " + label + " \x82\tTool \xBA",
      "\xBA --==Best...  tool!!!== \xFE\xBA",
      "\xC8" + std::string(10, '\xCD') + "\xBC",
      "\xDB",
      "",
  };
  if (longLine) lines.push_back(std::string(300, 'x'));
  return lines;
}

std::string crlfLines(const Names& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

// One archive per format, each with FILE_ID.DIZ and PROG.EXE; only the ARJ
// one has a long last line in its FILE_ID.DIZ.
struct DizArchive {
  const Format* format;
  std::string name;
  std::string label;
  bool longLine;
};

const DizArchive kDizArchives[] = {
    {&k7z, "DIZ7Z.7Z", "7Z", false},     {&kArc, "DIZARC.ARC", "ARC", false},
    {&kArj, "DIZARJ.ARJ", "ARJ", true},  {&kLzh, "DIZLZH.LZH", "LZH", false},
    {&kZip, "DIZZIP.ZIP", "ZIP", false},
};

const std::string kProgram = "MZ program bytes\x90\x00\x01";

::testing::AssertionResult makeDizArchives(const std::string& base, const std::string& dir) {
  for (const auto& archive : kDizArchives) {
    const std::string staging = base + "/diz-" + archive.label;
    harness::writeFile(staging + "/FILE_ID.DIZ",
                       crlfLines(dizLines(archive.label, archive.longLine)));
    harness::writeFile(staging + "/PROG.EXE", kProgram);
    auto made =
        pack(*archive.format, dir + "/" + archive.name, staging, {"FILE_ID.DIZ", "PROG.EXE"});
    if (!made) return made;
  }
  return ::testing::AssertionSuccess();
}

// The catalog text of dizLines: box bytes, the TAB and 0xFE become blanks,
// runs of blanks and of one decoration character shrink to one, each line end
// gives a blank of its own. The first blank of the top frame stays only when
// the character kept before it, in this or an earlier archive, was no blank.
std::string catalogText(const std::string& label, bool afterBlank) {
  return std::string(afterBlank ? " " : "  ") + label + " \x82 Tool  -=Best. tool!=     ";
}

TEST_F(RealPackers, CatalogLinesComeFromTheFileIdDizOfEveryFormat) {
  const std::string dir = root_ / "cat";
  fs::create_directories(dir);
  ASSERT_TRUE(makeDizArchives(root_.path(), dir));
  const std::string config = defaultConfig({"Descfiles files.bbs", "Fileorder FILE_ID.DIZ"});

  const ZelmResult made = zelm(dir, {"*.*", "/md"}, config);
  ASSERT_EQ(made.exitCode, 0) << describe(made);
  EXPECT_EQ(made.out.find("Report"), std::string::npos) << "make mode has no report";
  // Listing order; the ARJ text is cut at 254 bytes inside its long line, so
  // the LZH one after it starts after an 'x'.
  const std::string arj = catalogText("ARJ", true);
  const std::pair<std::string, std::string> lines[] = {
      {"7Z", catalogText("7Z", false)},
      {"ARC", catalogText("ARC", true)},
      {"ARJ", arj + std::string(254 - arj.size(), 'x')},
      {"LZH", catalogText("LZH", false)},
      {"ZIP", catalogText("ZIP", true)},
  };
  const auto catalog = [&](bool converted) {
    std::string text;
    for (const auto& [label, description] : lines) {
      text += "DIZ" + label + (converted ? ".zip" : "." + label) + "\t" + description + "\r\n";
    }
    return text;
  };
  EXPECT_EQ(readFile(dir + "/files.bbs"), catalog(false));
  EXPECT_EQ(harness::listTree(dir), (Names{"DIZ7Z.7Z", "DIZARC.ARC", "DIZARJ.ARJ", "DIZLZH.LZH",
                                           "DIZZIP.ZIP", "files.bbs"}))
      << describe(made);

  // Converting with /d gives each line the new name in place.
  uintmax_t sizeBefore = 0;
  for (const auto& archive : kDizArchives) sizeBefore += fs::file_size(dir + "/" + archive.name);
  const ZelmResult converted = zelm(dir, {"*.*", "/d"}, config);
  ASSERT_EQ(converted.exitCode, 0) << describe(converted);
  EXPECT_EQ(readFile(dir + "/files.bbs"), catalog(true));
  EXPECT_EQ(harness::listTree(dir), (Names{"DIZ7Z.zip", "DIZARC.zip", "DIZARJ.zip", "DIZLZH.zip",
                                           "DIZZIP.zip", "files.bbs"}))
      << describe(converted);
  uintmax_t sizeAfter = 0;
  for (const auto& archive : kDizArchives) {
    sizeAfter += fs::file_size(dir + "/DIZ" + archive.label + ".zip");
  }
  EXPECT_TRUE(endsWith(converted.out, report(5, 0, 0, sizeBefore, sizeAfter)));
}

TEST_F(RealPackers, ConvertedArchivesCarryFileIdDizTreatedByEachMode) {
  const std::string sources = root_ / "sources";
  fs::create_directories(sources);
  ASSERT_TRUE(makeDizArchives(root_.path(), sources));
  // What each mode makes of dizLines, line by line.
  const auto treated = [](int mode, const std::string& label, bool longLine) {
    Names lines;
    switch (mode) {
      case 0:
        return dizLines(label, longLine);
      case 1:
        lines = {" " + label + " \x82\tTool ", " --==Best...  tool!!!== \xFE", ""};
        break;
      case 2:
        lines = {"+----------+",
                 "| " + label + " \x82\tTool |",
                 "| --==Best...  tool!!!== \xFE|",
                 "+----------+",
                 "#",
                 ""};
        break;
      default:
        lines = {std::string(12, ' '),
                 "  " + label + " \x82\tTool  ",
                 "  --==Best...  tool!!!== \xFE ",
                 std::string(12, ' '),
                 " ",
                 ""};
    }
    if (longLine) lines.push_back(std::string(300, 'x'));
    return lines;
  };
  // Each mode goes to another packer, so that each keeps the lower-case name.
  const std::pair<int, const Format*> rows[] = {{0, &kZip}, {1, &k7z}, {2, &kArj}, {3, &kLzh}};
  for (const auto& [mode, target] : rows) {
    SCOPED_TRACE("File_ID.DIZ " + std::to_string(mode) + " to " + target->name);
    const std::string dir = root_ / ("mode" + std::to_string(mode));
    fs::create_directories(dir);
    for (const auto& archive : kDizArchives) {
      fs::copy_file(sources + "/" + archive.name, dir + "/" + archive.name);
    }
    uintmax_t sizeBefore = 0;
    for (const auto& archive : kDizArchives) sizeBefore += fs::file_size(dir + "/" + archive.name);
    const ZelmResult result = zelm(dir, {"*.*", "/" + target->name},
                                   defaultConfig({"File_ID.DIZ " + std::to_string(mode)}));
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    uintmax_t sizeAfter = 0;
    for (const auto& archive : kDizArchives) {
      SCOPED_TRACE(archive.name);
      const std::string made = dir + "/DIZ" + archive.label + "." + target->name;
      ASSERT_TRUE(fs::is_regular_file(made)) << describe(result);
      sizeAfter += fs::file_size(made);
      EXPECT_FALSE(harness::exists(dir + "/" + archive.name));
      const std::string scratch = dir + "-check/" + archive.label;
      ASSERT_TRUE(unpack(*target, made, scratch));
      EXPECT_EQ(harness::listTree(scratch), (Names{"PROG.EXE", "file_id.diz"}));
      EXPECT_EQ(readFile(scratch + "/PROG.EXE"), kProgram);
      EXPECT_EQ(readFile(scratch + "/file_id.diz"),
                crlfLines(treated(mode, archive.label, archive.longLine)));
    }
    EXPECT_TRUE(endsWith(result.out, report(5, 0, 0, sizeBefore, sizeAfter)));
  }
}

// With catalog updates on (/d), a conversion that finds no catalog line
// describes the new archive from the file_id.diz it now holds, whatever the
// target packer.
TEST_F(RealPackers, EveryTargetFormatGivesTheConvertedArchiveItsCatalogLine) {
  const std::string sources = root_ / "sources";
  fs::create_directories(sources);
  ASSERT_TRUE(makeDizArchives(root_.path(), sources));
  for (const Format* target : kFormats) {
    SCOPED_TRACE(target->name);
    const std::string dir = root_ / ("to-" + target->name);
    fs::create_directories(dir);
    fs::copy_file(sources + "/DIZZIP.ZIP", dir + "/DIZZIP.ZIP");
    const ZelmResult result = zelm(dir, {"*.*", "/d", "/" + target->name});
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_EQ(harness::listTree(dir), (Names{"DIZZIP." + target->name, "files.bbs"}));
    EXPECT_EQ(readFile(dir + "/files.bbs"),
              "DIZZIP." + target->name + "\t" + catalogText("ZIP", false) + "\r\n");
  }
}

// The fields of one member in a `7zz l -slt` listing.
std::map<std::string, std::string> sevenZipMember(const std::string& listing,
                                                  const std::string& name) {
  std::map<std::string, std::string> fields;
  std::istringstream in(listing.substr(std::min(listing.size(), listing.find("\n----------"))));
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind("Path = ", 0) == 0) inside = line == "Path = " + name;
    const size_t equals = line.find(" = ");
    if (inside && equals != std::string::npos)
      fields[line.substr(0, equals)] = line.substr(equals + 3);
  }
  return fields;
}

TEST_F(RealPackers, ALinkInAZipNeverBringsTheFileItNamesIntoTheNewArchive) {
  const std::string outside = root_ / "outside";
  std::string secret;
  while (secret.size() < 3000) secret += "SECRET-PAYLOAD-4711 ";
  harness::writeFile(outside + "/SECRET.TXT", secret);
  ASSERT_TRUE(setTime(outside + "/SECRET.TXT", at(2020, 2, 2, 2, 2, 2)));
  // An absolute link and one that climbs out of the work directory.
  const std::pair<std::string, std::string> rows[] = {
      {"absolute", outside + "/SECRET.TXT"},
      {"relative", "../../outside/SECRET.TXT"},
  };
  for (const auto& [kind, target] : rows) {
    SCOPED_TRACE(kind + " link to " + target);
    const std::string staging = root_ / ("members-" + kind);
    const std::string dir = root_ / ("work-" + kind);
    harness::writeFile(staging + "/NORMAL.TXT", "normal member\n");
    fs::create_symlink(target, staging + "/LINK.TXT");
    fs::create_directories(dir);
    ASSERT_TRUE(
        runTool({"zip", "-X", "-q", "-y", dir + "/SRC.ZIP", "LINK.TXT", "NORMAL.TXT"}, staging));
    const std::string sourceBytes = readFile(dir + "/SRC.ZIP");

    if (kind == "absolute") {
      // 7-Zip puts an absolute link's target below the directory it
      // extracts into, so no such link ever comes back as it was packed.
      const ZelmResult verified = zelm(dir, {"*.*", "/7z"});
      // A failed conversion ends with 2 under the default ErrorExit Yes.
      ASSERT_EQ(verified.exitCode, 2) << describe(verified);
      EXPECT_TRUE(endsWith(verified.out, report(0, 1, 0, 0, 0)));
      EXPECT_EQ(harness::listTree(dir), Names{"SRC.ZIP"});
      ASSERT_TRUE(verified.log);
      EXPECT_NE(verified.log->find(crlf("\n                    LINK.TXT: link to ")),
                std::string::npos)
          << *verified.log;
    }
    const ZelmResult result = zelm(dir, {"*.*", "/7z"}, defaultConfig({"Verify No"}));
    ASSERT_EQ(result.exitCode, harness::exists(dir + "/SRC.7z") ? 0 : 2) << describe(result);
    EXPECT_EQ(readFile(outside + "/SECRET.TXT"), secret);
    EXPECT_EQ(show(mtimeOf(outside + "/SECRET.TXT")), show(at(2020, 2, 2, 2, 2, 2)));
    EXPECT_EQ(harness::listTree(outside), Names{"SECRET.TXT"});
    if (!harness::exists(dir + "/SRC.7z")) {
      // 7-Zip refuses to make a link that climbs out of where it extracts:
      // a failed conversion that keeps its source.
      EXPECT_EQ(kind, "relative") << describe(result);
      EXPECT_TRUE(endsWith(result.out, report(0, 1, 0, 0, 0)));
      EXPECT_EQ(readFile(dir + "/SRC.ZIP"), sourceBytes);
      EXPECT_EQ(harness::listTree(dir), Names{"SRC.ZIP"});
      continue;
    }
    EXPECT_EQ(harness::listTree(dir), Names{"SRC.7z"}) << describe(result);
    const ZelmResult listing = harness::runBinary(
        "/usr/bin/env", {"7zz", "l", "-slt", dir + "/SRC.7z"}, dir, {{"TZ", "UTC"}}, 60);
    ASSERT_EQ(listing.exitCode, 0) << describe(listing);
    const auto link = sevenZipMember(listing.out, "LINK.TXT");
    ASSERT_FALSE(link.empty()) << listing.out;
    EXPECT_NE(link.count("Attributes") ? link.at("Attributes").find(" l") : std::string::npos,
              std::string::npos)
        << "not a link: " << listing.out;
    EXPECT_LT(std::stoul(link.count("Size") ? link.at("Size") : "0"), 1000u) << listing.out;
    // Every member's content, the link's text included.
    const ZelmResult contents = harness::runBinary(
        "/usr/bin/env", {"7zz", "x", "-so", dir + "/SRC.7z"}, dir, {{"TZ", "UTC"}}, 60);
    EXPECT_NE(contents.out.find("normal member\n"), std::string::npos) << describe(contents);
    EXPECT_EQ(contents.out.find("SECRET-PAYLOAD"), std::string::npos) << contents.out;
  }
}

}  // namespace
