// Tests of packer detection by signature and by extension.
#include "convert/type_detection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "config/settings.h"
#include "scratch_dir.h"

namespace {

PackerDef packer(const char* ext, int offset, std::string sig) {
  PackerDef def;
  def.ext = ext;
  def.sigOffset = offset;
  def.sigLength = int(sig.size());
  for (size_t i = 0; i < sig.size(); ++i) def.sigBytes[i] = static_cast<unsigned char>(sig[i]);
  return def;
}

class TypeDetection : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = Settings{};
    settings.packers.push_back(packer("ARJ", 0, "\x60\xEA"));
    settings.packers.push_back(packer("LZH", 2, "-lh"));
    settings.packers.push_back(packer("ZIP", 0, "PK\x03\x04"));
    settings.packers.push_back(packer("ZIP2", 0, "PK"));
    settings.packers.push_back(packer("NONE", 0, ""));
    settings.packers.push_back(packer("END", 126, "EN"));
  }
  void TearDown() override { settings = Settings{}; }
};

TEST_F(TypeDetection, SignatureDecidesInTableOrder) {
  const std::pair<std::string, int> rows[] = {
      {std::string("\x60\xEA\x10\x00", 4), 0},
      {"xx-lh5-", 1},
      {"PK\x03\x04rest", 2},  // the earlier of two fitting packers
      {"PK\x05\x06", 3},
      {"", -1},
      {"P", -1},  // a signature past the end of a short file never fits
      {std::string(126, 'a') + "EN", 5},
      {std::string(126, 'a') + "E", -1},
  };
  for (const auto& [head, expected] : rows) {
    EXPECT_EQ(detectBySignature(head), expected) << "head of " << head.size() << " bytes";
  }
}

TEST_F(TypeDetection, SignatureReachingPastTheWindowNeverMatches) {
  settings.packers.push_back(packer("FAR", 127, "AB"));
  std::string head(128, 'x');
  head[127] = 'A';
  EXPECT_EQ(detectBySignature(head), -1);
}

TEST_F(TypeDetection, ExtensionModeTakesTheLastDotAndIgnoresCase) {
  const ScratchDir scratch("detect");
  for (const char* name : {"some-file.zip", "pkg.tar.Lzh", "README"}) std::ofstream{name} << "x";
  settings.detectById = 0;
  EXPECT_EQ(detectPacker("some-file.zip"), 2);
  EXPECT_EQ(detectPacker("pkg.tar.Lzh"), 1);
  EXPECT_EQ(detectPacker("README"), -1);
}

TEST_F(TypeDetection, OnlyARegularFileHasAPacker) {
  const ScratchDir scratch("detect");
  std::ofstream{"real.zip"} << "PK\x03\x04";
  ASSERT_EQ(::symlink("real.zip", "link.zip"), 0);
  ASSERT_EQ(::mkfifo("fifo.zip", 0666), 0);
  ASSERT_EQ(::mkdir("dir.zip", 0755), 0);
  for (const int byId : {0, 1}) {
    settings.detectById = byId;
    EXPECT_EQ(detectPacker("real.zip"), 2) << "by id " << byId;
    EXPECT_EQ(detectPacker("link.zip"), 2) << "by id " << byId;
    EXPECT_EQ(detectPacker("fifo.zip"), -1) << "by id " << byId;
    EXPECT_EQ(detectPacker("dir.zip"), -1) << "by id " << byId;
    EXPECT_EQ(detectPacker("missing.zip"), -1) << "by id " << byId;
  }
}

}  // namespace
