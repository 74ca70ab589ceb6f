// The program's wildcard matcher and the extension of a name.
#pragma once

#include <string>
#include <string_view>

/// True when the bare file name fits the mask; "*" and "?" work within the
/// two parts of the name separated by its first dot.
bool wildcardMatch(std::string_view name, std::string_view mask);

/// The extension of the last component of a path, without its dot; empty
/// when that component has no dot or ends in one.
std::string fileExtension(std::string_view name);

/// A user-given name split into its parts: drive ("" on POSIX), directory
/// (up to and including the last separator, a "\" read as "/"), base name,
/// and extension (from the last dot of the last component, dot included).
struct NameParts {
  std::string drive;
  std::string directory;
  std::string baseName;
  std::string extension;
};

NameParts splitName(std::string_view name);
