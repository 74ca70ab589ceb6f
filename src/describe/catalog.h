// Description catalogs beside the archives: making and updating lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

/// True when a catalog piece is the line of the archive `name`: it begins
/// with `name` (a-z as A-Z) followed by a blank, a TAB or a line feed, or it
/// is the catalog's last piece and ends right after `name`.
bool catalogLineMatches(std::string_view piece, std::string_view name, bool lastPiece);

/// The first name of settings.descFiles that is a regular file and not
/// read-only (a directory or a link of that name is no catalog); absent when
/// no name passes.
std::optional<std::string> findCatalog();

/// Appends a line "NAME<TAB>DESCRIPTION" to the catalog of the current
/// directory for every archive fitting the find-first pattern `name` there
/// whose description can be extracted; creates the catalog under the first
/// name of settings.descFiles when none exists, and does nothing without one.
void catalogArchive(const std::string& name);

/// Carries the catalog line of the archive `oldPath` over to `newPath` (both
/// full paths; the current directory is the old archive's): renamed in place
/// when both lie in one directory, appended to the catalog of that name in the
/// new directory otherwise; without such a line, catalogs `newPath`'s name in
/// the current directory. Does nothing when `enabled` is 0.
void updateCatalog(int enabled, const std::string& oldPath, const std::string& newPath);
