// Black-box tests of odd members: names holding wildcards, Del patterns,
// and every member beside file_id.diz.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using harness::readFile;
using harness::writeFile;
using harness::ZelmResult;
using Names = std::vector<std::string>;

// XPK archives ("XPK" at offset 0) are unpacked by `xpk x`; YPK, the
// target, is packed by `ypk a`. Detection by signature, so any name counts.
const std::string kConfig =
    "DefaultPacker YPK\nDetect ID\nLog Yes\n"
    "ID 00 58504B\nExt XPK\nUnpack xpk x\nID 00 59504B\nExt YPK\nPack ypk a\n";

class Scene : public harness::Scene {
 public:
  Scene()
      : harness::Scene({"xpk", "ypk"}, {{"RECORDER_CREATE_xpk", "content.txt"},
                                        {"RECORDER_CREATE_ypk", "@2"},
                                        {"RECORDER_LIST_ypk", "1"}}) {}
  // The files the packer found in the work directory.
  Names packed() const {
    const auto packs = runsOf("ypk");
    return packs.size() == 1 ? packs[0].files
                             : Names{"<" + std::to_string(packs.size()) + " packs>"};
  }
};

TEST(OddNames, DelPatternsTakeOnlyWhatTheyName) {
  Scene scene;
  writeFile(scene.work("old.xpk"), "XPK archive");
  const ZelmResult result =
      scene.run(kConfig + "Del readme.*\nDel *.bak\n", {"old.xpk"},
                {{"RECORDER_CREATE_xpk", "readme:readme.txt:README.DOC:x.bak:bak:notes.txt"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(scene.packed(), (Names{"bak", "notes.txt", "readme"}));
}

TEST(OddNames, MembersNamedWithWildcardsLeaveNoWorkDirectory) {
  Scene scene;
  writeFile(scene.work("old.xpk"), "XPK archive");
  const ZelmResult result =
      scene.run(kConfig, {"old.xpk"}, {{"RECORDER_CREATE_xpk", "README.*txt:*x:?:*:sub/a*b:.*"}});
  ASSERT_EQ(result.exitCode, 0) << describe(result);
  EXPECT_EQ(scene.packed(), (Names{"*", "*x", ".*", "?", "README.*txt", "sub/", "sub/a*b"}));
  EXPECT_EQ(scene.workTree(), Names{"old.YPK"});
}

TEST(Members, EveryCaseOfFileIdDizAndItsTemporaryNameReachTheArchive) {
  for (const char* mode : {"0", "2"}) {
    Scene scene;
    writeFile(scene.work("old.xpk"), "XPK\xB3");
    // FILE_ID.DIZ, first in listing order, is treated; the packer's archive
    // is a copy of it.
    const ZelmResult result =
        scene.run(kConfig + "File_ID.DIZ " + mode + "\n", {"old.xpk"},
                  {{"RECORDER_CREATE_xpk", "FILE_ID.DIZ<@-1:file_id.diz:file_id.tmp:File_Id.Diz"},
                   {"RECORDER_CREATE_ypk", "@2<FILE_ID.DIZ"}});
    ASSERT_EQ(result.exitCode, 0) << mode << "\n" << describe(result);
    EXPECT_EQ(scene.packed(), (Names{"FILE_ID.DIZ", "File_Id.Diz", "file_id.diz", "file_id.tmp"}))
        << mode;
    EXPECT_EQ(readFile(scene.work("old.YPK")), mode[0] == '0' ? "XPK\xB3" : "XPK|") << mode;
  }
}

}  // namespace
