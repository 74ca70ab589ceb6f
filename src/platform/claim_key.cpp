// The name under which the runs of one machine meet to claim an entry name.
#include "platform/claim_key.h"

#include <cstdio>

namespace platform {

namespace {

std::string hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// FNV-1a: the same in every build, so that every run of any build agrees.
uint64_t hashOf(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

bool isPlain(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '\\') return false;
  }
  return true;
}

}  // namespace

std::string claimKey(const FileId& dir, std::string_view name, size_t room) {
  const std::string key = "zelm-name-" + hex(dir.volume) + "-" + hex(dir.index) + "-";
  if (isPlain(name) && key.size() + 1 + name.size() <= room) return key + "n" + std::string(name);
  return key + "h" + hex(hashOf(name)) + hex(name.size());
}

}  // namespace platform
