// Telling UTF-8 description files from code page 437 ones, and the frame
// characters of both.
#include "describe/utf8_text.h"

namespace {

bool isContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

}  // namespace

void Utf8Check::feed(std::string_view bytes) {
  for (const char byte : bytes) {
    if (bad_) return;
    const auto c = static_cast<unsigned char>(byte);
    if (pending_ > 0) {
      if (c < low_ || c > high_) {
        bad_ = true;
        return;
      }
      low_ = 0x80;
      high_ = 0xBF;
      --pending_;
      continue;
    }
    if (c < 0x80) continue;
    multiByte_ = true;
    // The second byte's range rules out overlong forms, surrogates and code
    // points above U+10FFFF.
    if (c >= 0xC2 && c <= 0xDF) {
      pending_ = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      pending_ = 2;
      if (c == 0xE0) low_ = 0xA0;
      if (c == 0xED) high_ = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      pending_ = 3;
      if (c == 0xF0) low_ = 0x90;
      if (c == 0xF4) high_ = 0x8F;
    } else {
      bad_ = true;
    }
  }
}

size_t utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

size_t missingUtf8Bytes(std::string_view bytes) {
  size_t start = bytes.size();
  while (start > 0 && bytes.size() - start < 3 &&
         isContinuation(static_cast<unsigned char>(bytes[start - 1]))) {
    --start;
  }
  if (start == 0) return 0;
  const size_t length = utf8Length(static_cast<unsigned char>(bytes[start - 1]));
  const size_t held = bytes.size() - start + 1;
  return length > held ? length - held : 0;
}

char32_t utf8CodePoint(std::string_view character) {
  if (character.empty()) return 0;
  const auto lead = static_cast<unsigned char>(character[0]);
  const size_t length = utf8Length(lead);
  if (length == 1 || character.size() < length) return lead;
  char32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(character[i]) & 0x3F);
  }
  return code;
}

bool isFrameCodePoint(char32_t c) { return c >= 0x2500 && c <= 0x259F; }

unsigned char frameCodePointToAscii(char32_t c) {
  struct Span {
    char32_t first;
    char32_t last;
    const char* standIns;  // one per code point, or one for the whole span
  };
  // The box-drawing block in Unicode order: lines, dashed lines, corners,
  // tees and crosses, the double-line set, round corners, diagonals and
  // half lines.
  static constexpr Span kSpans[] = {
      {0x2500, 0x2503, "--||"},
      {0x2504, 0x250B, "--||--||"},
      {0x250C, 0x251B, "+"},
      {0x251C, 0x254B, "|"},
      {0x254C, 0x254F, "--||"},
      {0x2550, 0x2551, "-|"},
      {0x2552, 0x255D, "+"},
      {0x255E, 0x256C, "|"},
      {0x256D, 0x2570, "+"},
      {0x2571, 0x2573, "|"},
      {0x2574, 0x257F, "-|-|-|-|-|-|"},
      {0x2580, 0x259F, "#"},
  };
  for (const Span& span : kSpans) {
    if (c < span.first || c > span.last) continue;
    const std::string_view standIns = span.standIns;
    return static_cast<unsigned char>(standIns.size() == 1 ? standIns[0]
                                                           : standIns[c - span.first]);
  }
  return '|';
}
