// The run's settings record and the lookup of packers by name.
#include "config/settings.h"

Settings settings;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  }
  return true;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

int findPacker(std::string_view name) {
  for (size_t i = 0; i < settings.packers.size(); ++i) {
    const auto& ext = settings.packers[i].ext;
    if (ext && equalsIgnoreCase(*ext, name)) return int(i);
  }
  return -1;
}
