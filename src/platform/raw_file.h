// Raw byte files under the text files: each platform opens, reads, writes
// and closes them; the text rules on top live in text_file.cpp for both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::raw {

/// An open file of the platform (a descriptor or a handle); kNoFile is none.
using File = std::intptr_t;
constexpr File kNoFile = -1;

/// Opens a file for reading. With `followLinks` set anything but a directory
/// is accepted (a pipe is a fair list file); with it clear a link or anything
/// but a regular file is refused. kNoFile on failure.
File openForReading(const std::string& path, bool followLinks);

/// Opens a file for writing, creating it when missing: emptied, a link of
/// that name replaced by a new file; or appended to, a link refused, every
/// write going to the end. An existing read-only file or anything but a
/// regular file is refused. kNoFile on failure.
File openForWriting(const std::string& path, bool append);

/// Reads up to `size` bytes; the number read, 0 at the end or on failure.
size_t read(File file, char* data, size_t size);

/// Writes all `size` bytes, in one system call unless the system takes
/// fewer; false when a write fails or nothing more is taken.
bool write(File file, const char* data, size_t size);

/// Closes the file; false when closing reports an error.
bool close(File file);

}  // namespace platform::raw
