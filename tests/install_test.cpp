// Black-box tests of zelm as installed: `cmake --install` into a prefix, the
// Debian package, the manual page, and --version and --help of the
// installed program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "harness.h"

namespace {

namespace fs = std::filesystem;
using harness::describe;
using harness::exists;
using harness::readFile;
using harness::runBinary;
using harness::TempDir;
using harness::ZelmResult;

const std::map<std::string, std::optional<std::string>> kNoChange;

// The first program of that name on PATH, or "".
std::string onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "";
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string candidate = rest.substr(0, colon) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
  }
  return "";
}

ZelmResult run(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd = "/") {
  return runBinary(program, args, cwd, kNoChange, 120);
}

std::string linkTarget(const std::string& path) {
  std::error_code error;
  return fs::read_symlink(path, error).string();
}

// Converts a ZIP archive into a 7Z archive with the zelm at `zelm` and the
// default configuration it finds, and checks what came out. `logPath` is
// where that configuration puts the log.
void expectConversionWith(const std::string& zelm, const std::string& logPath) {
  const std::string sevenZip = onPath("7zz");
  if (sevenZip.empty()) GTEST_SKIP() << "7zz is not installed";
  TempDir work;
  harness::writeFile(work / "readme.txt", "text\n");
  ASSERT_EQ(run(sevenZip, {"a", "-tzip", "-bso0", "old.zip", "readme.txt"}, work.path()).exitCode,
            0);
  fs::remove(work / "readme.txt");

  const ZelmResult result = run(zelm, {"old.zip", "/7z"}, work.path());
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(harness::listTree(work.path()), std::vector<std::string>{"old.7z"});
  EXPECT_NE(readFile(logPath).find("Convert successfull: " + work / "old.zip"), std::string::npos);
}

TEST(Install, ThePrefixHoldsTheProgramItsConfigurationALinkAndTheManual) {
  TempDir prefix;
  const ZelmResult install =
      run(CMAKE_COMMAND, {"--install", ZELM_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(install.exitCode, 0) << describe(install);

  EXPECT_TRUE(fs::is_regular_file(prefix / "lib/zelm/zelm"));
  EXPECT_EQ(readFile(prefix / "lib/zelm/zelm.cfg"), readFile(ZELM_DEFAULT_CONFIG));
  EXPECT_EQ(linkTarget(prefix / "bin/zelm"), "../lib/zelm/zelm");
  EXPECT_EQ(readFile(prefix / "share/man/man1/zelm.1"), readFile(ZELM_SOURCE_DIR "/dist/zelm.1"));

  const ZelmResult version = run(prefix / "bin/zelm", {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "zelm " ZELM_VERSION "\n");
  const ZelmResult help = run(prefix / "bin/zelm", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Zelm. Version " ZELM_VERSION, 0), 0u) << help.out;

  expectConversionWith(prefix / "bin/zelm", prefix / "lib/zelm/zelm.log");
}

TEST(Install, InstallingAgainKeepsAnEditedConfiguration) {
  TempDir prefix;
  const std::vector<std::string> args = {"--install", ZELM_BUILD_DIR, "--prefix", prefix.path()};
  ASSERT_EQ(run(CMAKE_COMMAND, args).exitCode, 0);
  harness::writeFile(prefix / "lib/zelm/zelm.cfg", "DefaultPacker 7z\n");
  ASSERT_EQ(run(CMAKE_COMMAND, args).exitCode, 0);
  EXPECT_EQ(readFile(prefix / "lib/zelm/zelm.cfg"), "DefaultPacker 7z\n");
  EXPECT_EQ(readFile(prefix / "lib/zelm/zelm.cfg.dist"), readFile(ZELM_DEFAULT_CONFIG));
}

TEST(Install, TheDebianPackage) {
  if (onPath("dpkg-deb").empty()) GTEST_SKIP() << "dpkg-deb is not installed";
  TempDir out;
  const ZelmResult pack =
      run(CPACK_COMMAND,
          {"-G", "DEB", "--config", ZELM_BUILD_DIR "/CPackConfig.cmake", "-B", out.path()});
  ASSERT_EQ(pack.exitCode, 0) << describe(pack);
  std::string found;
  for (const auto& entry : fs::directory_iterator(out.path())) {
    if (entry.path().extension() == ".deb") found = entry.path().string();
  }
  ASSERT_FALSE(found.empty()) << "no .deb in " << out.path();

  const ZelmResult fields =
      run(onPath("dpkg-deb"), {"--field", found, "Package", "Version", "Recommends"});
  EXPECT_EQ(fields.out,
            "Package: zelm\nVersion: " ZELM_VERSION "\nRecommends: 7zip, arj, arc, jlha-utils\n");
  const ZelmResult conffiles = run(onPath("dpkg-deb"), {"--info", found, "conffiles"});
  EXPECT_EQ(conffiles.out, "/etc/zelm/zelm.cfg\n");

  TempDir root;
  ASSERT_EQ(run(onPath("dpkg-deb"), {"--extract", found, root.path()}).exitCode, 0);
  EXPECT_EQ(readFile(root / "etc/zelm/zelm.cfg"), readFile(ZELM_DEFAULT_CONFIG));
  EXPECT_EQ(linkTarget(root / "usr/lib/zelm/zelm.cfg"), "../../../etc/zelm/zelm.cfg");
  EXPECT_EQ(linkTarget(root / "usr/bin/zelm"), "../lib/zelm/zelm");
  EXPECT_TRUE(exists(root / "usr/share/man/man1/zelm.1"));
  // The configuration is read through its link.
  expectConversionWith(root / "usr/bin/zelm", root / "usr/lib/zelm/zelm.log");
}

TEST(Install, TheManualPageFormatsWithoutWarnings) {
  const std::string groff = onPath("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
  const ZelmResult result = run(groff, {"-man", "-ww", "-z", ZELM_SOURCE_DIR "/dist/zelm.1"});
  EXPECT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(result.err, "");
}

}  // namespace
