// Obtaining an archive's one-line description, and treating file_id.diz.
#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The last byte the cleaner kept, for the whole run (0 at start).
extern unsigned char lastKept;

/// The byte to append for `c`, or 0 to drop it; reads and updates lastKept.
unsigned char cleanDescriptionChar(unsigned char c);

/// Passes `bytes` through cleanDescriptionChar onto the end of `text`, and
/// stops once `text` holds 254 bytes: the bytes after that are not looked at.
void appendCleanedText(std::string& text, std::string_view bytes);

/// '#', '+', '-' or '|' for a code page 437 box-drawing byte 0xB0-0xDF.
unsigned char boxCharToAscii(unsigned char c);

/// Rewrites file_id.diz of the current directory (found in any case; a link
/// counts as absent) as the mode says, under the name file_id.diz.
void filterFileIdDiz(int mode);

/// Extracts the description of the archive `archiveName` (in the current
/// directory) made by packer `packerIndex`: 1 to 254 bytes, or absent.
std::optional<std::string> extractDescription(const std::string& archiveName, int packerIndex);
