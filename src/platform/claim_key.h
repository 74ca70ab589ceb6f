// The name under which the runs of one machine meet to claim an entry name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace platform {

/// The key of a claim on the entry `name` of the directory `dir`, at most
/// `room` bytes long (room for 64 at least): "zelm-name-", the directory's
/// volume and index in hex, then "n" and the name itself when it fits and
/// holds only printable bytes other than "\", else "h" and a hash of it.
/// Different names share a key only through the hash, which costs a claim
/// refused that need not have been.
std::string claimKey(const FileId& dir, std::string_view name, size_t room);

}  // namespace platform
