// The listing of the directory searched last, kept while the system reports
// every change to it, and the names a plain mask can fit.
#include "search/listing_cache.h"

#include <algorithm>

#include "config/settings.h"

namespace {

struct KeptListing {
  platform::DirectoryHandle directory;
  std::vector<platform::ListedName> names;
  platform::DirectoryWatch watch;
  bool watched = false;
};

KeptListing& kept() {
  static KeptListing listing;
  return listing;
}

unsigned char upperByte(char c) { return static_cast<unsigned char>(upperAscii(c)); }

}  // namespace

CurrentListing listCurrentDirectory() {
  KeptListing& listing = kept();
  if (listing.directory.isOpen() && listing.directory.isCurrent()) {
    std::vector<platform::DirectoryWatch::Change> changes;
    if (listing.watched && listing.watch.changes(changes)) {
      applyChanges(listing.names, changes);
      return {&listing.directory, &listing.names};
    }
    // Searched once more: from now on its changes are followed (from before
    // it is listed again, so that none slips between), and the searches
    // after this one need not list it again. A directory searched once
    // costs no watch.
    listing.watched = listing.watch.watchCurrent();
  } else {
    listing.watch.stop();
    listing.watched = false;
    if (!listing.directory.openCurrent()) return {};
  }
  if (!listing.directory.list(listing.names)) {
    listing.directory.close();
    return {};
  }
  return {&listing.directory, &listing.names};
}

bool fitsOnlyItsBeginnings(const std::string& mask) {
  return mask.find_first_of("*?") == std::string::npos;
}

std::vector<size_t> beginningsOf(const std::vector<platform::ListedName>& names,
                                 const std::string& mask) {
  std::vector<size_t> positions;
  // [first, last) holds the names that begin with the first `length` bytes
  // of the mask: the ones of just that length first, then the longer ones
  // in the order of their next byte.
  auto first = names.begin();
  auto last = names.end();
  for (size_t length = 0; first != last; ++length) {
    for (; first != last && first->name.size() == length; ++first) {
      if (length > 0) positions.push_back(size_t(first - names.begin()));
    }
    if (length == mask.size()) break;
    const auto byteBefore = [length](const platform::ListedName& entry, unsigned char byte) {
      return upperByte(entry.name[length]) < byte;
    };
    const auto byteAfter = [length](unsigned char byte, const platform::ListedName& entry) {
      return byte < upperByte(entry.name[length]);
    };
    const unsigned char wanted = upperByte(mask[length]);
    first = std::lower_bound(first, last, wanted, byteBefore);
    last = std::upper_bound(first, last, wanted, byteAfter);
  }
  return positions;
}

void applyChanges(std::vector<platform::ListedName>& names,
                  const std::vector<platform::DirectoryWatch::Change>& changes) {
  for (const auto& change : changes) {
    const auto at =
        std::lower_bound(names.begin(), names.end(), change.name,
                         [](const platform::ListedName& entry, const std::string& name) {
                           return platform::listedBefore(entry.name, name);
                         });
    const bool found = at != names.end() && at->name == change.name;
    // A report tells a directory from the rest, not a file from a link or a
    // pipe: those are taken as files, which detection looks at anyway.
    const auto kind =
        change.isDirectory ? platform::EntryKind::Directory : platform::EntryKind::File;
    if (change.present && found) {
      if (change.isDirectory != (at->kind == platform::EntryKind::Directory)) at->kind = kind;
    } else if (change.present) {
      names.insert(at, platform::ListedName{change.name, kind});
    } else if (found) {
      names.erase(at);
    }
  }
}
