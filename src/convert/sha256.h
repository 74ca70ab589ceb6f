// SHA-256 of a byte stream fed in pieces, so that files need not be held whole.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  /// Adds the next bytes of the stream.
  void add(std::string_view bytes);
  /// The digest of everything added; the object is spent afterwards.
  Sha256Digest finish();

 private:
  void compress(const uint8_t* block);
  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  size_t pendingSize_ = 0;
  uint64_t totalBytes_ = 0;
};
