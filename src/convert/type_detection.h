// Recognising the packer that made a file.
#pragma once

#include <string>

/// Index of the packer of `fileName` (in the current directory), by signature
/// when settings.detectById is set, else by extension; -1 when none. Only a
/// regular file (a link followed) has a packer.
int detectPacker(const std::string& fileName);

/// Index of the first packer whose signature stands in `head` (the first
/// bytes of a file); -1 when none. A packer without signature bytes never
/// matches, nor does a signature reaching past the bytes given.
int detectBySignature(const std::string& head);
