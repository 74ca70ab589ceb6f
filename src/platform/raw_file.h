// Raw byte files under the text files: each platform opens, reads, writes
// and closes them; the text rules on top live in text_file.cpp for both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform::raw {

/// An open file of the platform (a descriptor or a handle); kNoFile is none.
using File = std::intptr_t;
constexpr File kNoFile = -1;

/// Opens a regular file for reading, a link followed when `followLinks` is
/// set; a pipe, a device or a directory is refused without blocking. kNoFile
/// on failure.
File openForReading(const std::string& path, bool followLinks);

/// Opens a file for writing as TextWriter::open describes it: emptied, a
/// link of that name replaced by a new file; appended to, a link refused,
/// every write going to the end; or created new, refused when anything of
/// that name exists. With `throughLink` a link is followed instead. An
/// existing read-only file or anything but a regular file is refused.
/// kNoFile on failure.
File openForWriting(const std::string& path, TextWriter::Mode mode, bool throughLink);

/// Reads up to `size` bytes; the number read, 0 at the end, -1 on failure.
long long read(File file, char* data, size_t size);

/// Writes all `size` bytes, in one system call unless the system takes
/// fewer; false when a write fails or nothing more is taken.
bool write(File file, const char* data, size_t size);

/// The file's size in bytes; -1 when unknown.
int64_t size(File file);

/// Cuts the file back to `size` bytes; false on failure.
bool truncate(File file, int64_t size);

/// Closes the file; false when closing reports an error.
bool close(File file);

}  // namespace platform::raw
