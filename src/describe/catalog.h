// Description catalogs beside the archives: making and updating lines.
#pragma once

#include <optional>
#include <string>

/// The first name of settings.descFiles that exists and is not read-only.
std::optional<std::string> findCatalog();

/// Appends a catalog line for the archive `name` in the current directory.
void catalogArchive(const std::string& name);

/// Carries the catalog line of the archive `oldPath` over to `newPath`, or
/// adds one; does nothing when `enabled` is 0.
void updateCatalog(int enabled, const std::string& oldPath, const std::string& newPath);
