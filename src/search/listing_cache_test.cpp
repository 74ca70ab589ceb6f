// Tests of the kept listing: the names a plain mask can fit, changes applied
// in listing order, and a kept listing that follows its directory.
#include "search/listing_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "scratch_dir.h"
#include "search/wildcard.h"

namespace {

namespace fs = std::filesystem;

std::vector<platform::ListedName> sortedListing(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), platform::listedBefore);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::vector<platform::ListedName> listing;
  for (auto& name : names) listing.push_back({name, platform::EntryKind::File});
  return listing;
}

std::vector<std::string> namesOf(const std::vector<platform::ListedName>& listing) {
  std::vector<std::string> names;
  for (const auto& entry : listing) names.push_back(entry.name);
  return names;
}

TEST(ListingCache, APlainMaskFitsTheSameNamesAsTheMatcherDoes) {
  std::mt19937 random(7);
  const std::string letters = "aAbB.-";
  const auto word = [&](size_t most) {
    std::string out(1 + random() % most, ' ');
    for (char& c : out) c = letters[random() % letters.size()];
    return out;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back(word(5));
    const auto listing = sortedListing(names);
    const std::string mask = word(6);
    ASSERT_TRUE(fitsOnlyItsBeginnings(mask));
    std::vector<size_t> fitting;
    for (size_t i = 0; i < listing.size(); ++i) {
      if (wildcardMatch(listing[i].name, mask)) fitting.push_back(i);
    }
    EXPECT_EQ(beginningsOf(listing, mask), fitting) << "mask " << mask;
  }
  EXPECT_FALSE(fitsOnlyItsBeginnings("a?c"));
  EXPECT_FALSE(fitsOnlyItsBeginnings("*.zip"));
  EXPECT_TRUE(beginningsOf(sortedListing({"a"}), "").empty());
}

TEST(ListingCache, ChangesKeepTheListingOrder) {
  auto listing = sortedListing({"b", "D", "f"});
  applyChanges(listing, {{"a", true, false},
                         {"E", true, true},
                         {"D", false, false},
                         {"c", true, false},
                         {"c", false, false},
                         {"b", true, true},
                         {"missing", false, false}});
  EXPECT_EQ(namesOf(listing), (std::vector<std::string>{"a", "b", "E", "f"}));
  EXPECT_EQ(listing[1].kind, platform::EntryKind::Directory);
  EXPECT_EQ(listing[2].kind, platform::EntryKind::Directory);
}

TEST(ListingCache, AKeptListingFollowsItsDirectoryAndNoOther) {
  const ScratchDir scratch("listing");
  std::ofstream{"one"};
  fs::create_directory("sub");
  std::ofstream{"sub/inner"};
  for (int round = 0; round < 3; ++round) {
    const CurrentListing here = listCurrentDirectory();
    ASSERT_NE(here.names, nullptr);
    EXPECT_EQ(namesOf(*here.names), (std::vector<std::string>{"one", "sub"})) << round;
  }
  std::ofstream{"two"};
  fs::remove("one");
  EXPECT_EQ(namesOf(*listCurrentDirectory().names), (std::vector<std::string>{"sub", "two"}));
  fs::current_path("sub");
  EXPECT_EQ(namesOf(*listCurrentDirectory().names), (std::vector<std::string>{"inner"}));
  fs::current_path("..");
  EXPECT_EQ(namesOf(*listCurrentDirectory().names), (std::vector<std::string>{"sub", "two"}));
  std::ofstream{"three"};
  EXPECT_EQ(namesOf(*listCurrentDirectory().names),
            (std::vector<std::string>{"sub", "three", "two"}));
}

}  // namespace
