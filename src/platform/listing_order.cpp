// The order in which both platforms hand out a directory's entries.
#include "platform/listing_order.h"

#include <algorithm>

namespace platform {

namespace {

unsigned char upperByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 32) : u;
}

int rank(const std::string& name) { return name == "." ? 0 : name == ".." ? 1 : 2; }

bool entryListedBefore(const DirEntry& a, const DirEntry& b) {
  if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
  return listedBefore(a.name, b.name);
}

}  // namespace

bool listedBefore(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = upperByte(a[i]);
    const unsigned char y = upperByte(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

void sortListing(std::vector<DirEntry>& entries) {
  std::sort(entries.begin(), entries.end(), entryListedBefore);
}

}  // namespace platform
