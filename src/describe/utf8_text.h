// Telling UTF-8 description files from code page 437 ones, and the frame
// characters of both.
#pragma once

#include <cstddef>
#include <string_view>

/// Checks text fed in pieces for being UTF-8 that holds multi-byte
/// characters. Code page 437 frames ("╔══╗" is C9 CD CD BB) break the rules of
/// UTF-8 almost at once, so such text is never taken for UTF-8.
class Utf8Check {
 public:
  void feed(std::string_view bytes);
  /// True when everything fed is valid UTF-8 (no stray continuation byte, no
  /// overlong form, no surrogate, nothing above U+10FFFF, no character cut
  /// off at the end) and holds at least one multi-byte character.
  bool isMultiByteUtf8() const { return !bad_ && pending_ == 0 && multiByte_; }

 private:
  int pending_ = 0;  // continuation bytes still to come
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
  bool bad_ = false;
  bool multiByte_ = false;
};

/// The length in bytes of the UTF-8 character that begins with `lead`: 2 to
/// 4 for a lead byte, 1 for anything else.
size_t utf8Length(unsigned char lead);

/// How many bytes the character that `bytes` ends in still lacks (0 when the
/// last character is whole).
size_t missingUtf8Bytes(std::string_view bytes);

/// The code point of the one whole UTF-8 character `character`.
char32_t utf8CodePoint(std::string_view character);

/// True for the box-drawing characters U+2500-U+257F and the block elements
/// U+2580-U+259F: the characters code page 437 draws frames with (0xB0-0xDF).
bool isFrameCodePoint(char32_t c);

/// '#', '+', '-' or '|' for a frame code point: blocks and shades give '#',
/// corners '+', horizontal lines '-', and vertical lines, tees, crosses and
/// the rest '|', just as boxCharToAscii does for the same character in code
/// page 437.
unsigned char frameCodePointToAscii(char32_t c);
