// The program's one wildcard matcher, and splitting names into their parts.
#include "search/wildcard.h"

#include "config/settings.h"
#include "platform/platform.h"

bool wildcardMatch(std::string_view name, std::string_view mask) {
  size_t n = 0;
  size_t m = 0;
  bool inNamePart = true;
  for (;;) {
    if (n == name.size()) return true;
    if (m == mask.size()) return false;
    const char nc = name[n];
    const char mc = mask[m];
    if (upperAscii(nc) == upperAscii(mc) || (mc == '?' && nc != '.')) {
      ++n;
      ++m;
      continue;
    }
    if (!inNamePart) return mc == '*';
    if (mc == '?') {
      // A "?" may stand for nothing at the end of the name part.
      while (m < mask.size() && mask[m] != '.') ++m;
      continue;
    }
    if (mc != '*') return false;
    ++m;
    if (m < mask.size() && mask[m] == '.') ++m;
    // The star takes the rest of the name part with its dot; a dot under
    // the star is itself that dot.
    while (n < name.size() && name[n] != '.') ++n;
    if (n < name.size()) ++n;
    inNamePart = false;
  }
}

NameParts splitName(std::string_view name) {
  NameParts parts;
  const size_t driveEnd = platform::driveLength(name);
  parts.drive = std::string(name.substr(0, driveEnd));
  size_t lastSep = std::string_view::npos;
  for (size_t i = driveEnd; i < name.size(); ++i) {
    if (platform::isSeparator(name[i])) lastSep = i;
  }
  size_t fileStart = driveEnd;
  if (lastSep != std::string_view::npos) {
    parts.directory = std::string(name.substr(driveEnd, lastSep + 1 - driveEnd));
    for (char& c : parts.directory) {
      if (platform::isSeparator(c)) c = platform::kSeparator;
    }
    fileStart = lastSep + 1;
  }
  const std::string_view file = name.substr(fileStart);
  const size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) {
    parts.baseName = std::string(file);
  } else {
    parts.baseName = std::string(file.substr(0, dot));
    parts.extension = std::string(file.substr(dot));
  }
  return parts;
}

std::string fileExtension(std::string_view name) {
  const std::string ext = splitName(name).extension;
  return ext.empty() ? ext : ext.substr(1);
}
