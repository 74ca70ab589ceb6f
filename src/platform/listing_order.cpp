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

bool listedBefore(const DirEntry& a, const DirEntry& b) {
  if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
  const size_t common = std::min(a.name.size(), b.name.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = upperByte(a.name[i]);
    const unsigned char y = upperByte(b.name[i]);
    if (x != y) return x < y;
  }
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
  return a.name < b.name;
}

}  // namespace

void sortListing(std::vector<DirEntry>& entries) {
  std::sort(entries.begin(), entries.end(), listedBefore);
}

}  // namespace platform
