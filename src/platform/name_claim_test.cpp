// Unit tests of claims on entry names, which need not exist.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

using platform::ClaimOutcome;

TEST(NameClaim, OneHolderPerNameInADirectoryAndNothingOnDisk) {
  ScratchDir scratch("name-claim");
  fs::create_directory("other");
  platform::NameClaim first;
  platform::NameClaim second;
  ASSERT_EQ(first.claim(".", "FOO.ZIP"), ClaimOutcome::Claimed);
  EXPECT_EQ(second.claim(scratch.path().string(), "FOO.ZIP"), ClaimOutcome::HeldElsewhere);
  const ClaimOutcome otherCase = platform::sameEntryName("foo.zip", "FOO.ZIP")
                                     ? ClaimOutcome::HeldElsewhere
                                     : ClaimOutcome::Claimed;
  EXPECT_EQ(platform::NameClaim().claim(".", "foo.zip"), otherCase);
  EXPECT_EQ(platform::NameClaim().claim(".", "BAR.ZIP"), ClaimOutcome::Claimed);
  EXPECT_EQ(platform::NameClaim().claim("other", "FOO.ZIP"), ClaimOutcome::Claimed);
  EXPECT_EQ(platform::NameClaim().claim("missing", "FOO.ZIP"), ClaimOutcome::Missing);
  first.release();
  EXPECT_EQ(second.claim(".", "FOO.ZIP"), ClaimOutcome::Claimed);
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

TEST(NameClaim, ALongNameIsClaimedThroughItsHash) {
  ScratchDir scratch("name-claim-long");
  const std::string longName(200, 'x');
  platform::NameClaim first;
  ASSERT_EQ(first.claim(".", longName), ClaimOutcome::Claimed);
  EXPECT_EQ(platform::NameClaim().claim(".", longName), ClaimOutcome::HeldElsewhere);
  EXPECT_EQ(platform::NameClaim().claim(".", longName + "y"), ClaimOutcome::Claimed);
}

}  // namespace
