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

/// Passes UTF-8 `bytes` (whole characters) onto the end of `text`: ASCII
/// bytes through cleanDescriptionChar, frame characters (U+2500-U+259F) and C1
/// controls as a blank would go, a byte order mark not at all, and every other
/// character whole, setting lastKept to its last byte. Returns false once the
/// text is full: 254 bytes held, or the next character would not fit whole
/// (it is then left out, and so is everything after it).
bool appendCleanedUtf8(std::string& text, std::string_view bytes);

/// '#', '+', '-' or '|' for a code page 437 box-drawing byte 0xB0-0xDF.
unsigned char boxCharToAscii(unsigned char c);

/// Rewrites file_id.diz of the current directory (found in any case, the
/// first in listing order; a link counts as absent) as the mode says, treating
/// a UTF-8 file's frame characters like code page 437 frame bytes. The result
/// is named file_id.diz unless another entry has that very name, in which
/// case it keeps the original's name. It goes through a temporary that
/// replaces nothing; when anything fails the file stays as it was.
void filterFileIdDiz(int mode);

/// Extracts the description of the archive `archiveName` (in the current
/// directory) made by packer `packerIndex`: 1 to 254 bytes, or absent. A
/// description file that is valid UTF-8 with multi-byte characters is cleaned
/// by appendCleanedUtf8, any other one byte by byte.
std::optional<std::string> extractDescription(const std::string& archiveName, int packerIndex);
