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
/// directory for the archive of exactly the name `name` (a listed or built
/// name, never a pattern) when its description can be extracted; creates the
/// catalog under the first name of settings.descFiles when none exists, and
/// does nothing without one. The catalog's directory is locked while the line
/// is added; a write that fails leaves no part of the line behind (and is
/// logged as "Catalog not updated:").
void catalogArchive(const std::string& name);

/// Carries the catalog line of the archive `oldPath` over to `newPath` (both
/// full paths; the current directory is the old archive's): renamed in place
/// when both lie in one directory, appended to the catalog of that name in the
/// new directory otherwise; without such a line, catalogs `newPath`'s name in
/// the current directory. Does nothing when `enabled` is 0, and carries no
/// line for a name holding a control byte. The catalog's directory is locked
/// while it changes; the rename goes through a temporary of this run's own,
/// and when any step fails the catalog stays as it was, nothing else is
/// written for the archive and the log says "Catalog not updated:".
void updateCatalog(int enabled, const std::string& oldPath, const std::string& newPath);
