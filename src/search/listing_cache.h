// The listing of the directory searched last, kept up to date with every
// change the system reports, so that many inputs in one directory list it once.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

/// The current directory, held, and its listing in listing order ("." and
/// ".." left out).
struct CurrentListing {
  const platform::DirectoryHandle* directory = nullptr;
  const std::vector<platform::ListedName>* names = nullptr;
};

/// The current directory and its listing: the one kept from an earlier call
/// when it is of this very directory and every change made to it since (by
/// anyone) is known and applied, a fresh one otherwise. Both stay valid until
/// the next call. Null members when the directory cannot be read.
CurrentListing listCurrentDirectory();

/// True when wildcardMatch fits `mask` (no "*" or "?") only to names that
/// are its beginning, a-z taken as A-Z.
bool fitsOnlyItsBeginnings(const std::string& mask);

/// Positions in `names` (kept in listing order) of the names that are the
/// beginning of `mask`, a-z taken as A-Z, in listing order, found without
/// looking at the other names.
std::vector<size_t> beginningsOf(const std::vector<platform::ListedName>& names,
                                 const std::string& mask);

/// Applies reported changes to a listing kept in listing order.
void applyChanges(std::vector<platform::ListedName>& names,
                  const std::vector<platform::DirectoryWatch::Change>& changes);
