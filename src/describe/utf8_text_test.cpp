// Tests of telling UTF-8 description text from code page 437 text, and of
// the frame characters of both.
#include "describe/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

#include "describe/description.h"

namespace {

bool isMultiByteUtf8(std::initializer_list<std::string_view> pieces) {
  Utf8Check check;
  for (const auto piece : pieces) check.feed(piece);
  return check.isMultiByteUtf8();
}

TEST(Utf8Check, TakesOnlyValidTextWithMultiByteCharacters) {
  EXPECT_TRUE(isMultiByteUtf8({"Caf\xC3\xA9\n"}));
  EXPECT_TRUE(isMultiByteUtf8({"\xE2\x95\x94\xE2\x95\x90", "\xE2\x95\x97 \xF0\x9F\x98\x80"}));
  EXPECT_TRUE(isMultiByteUtf8({"Caf\xC3", "\xA9"})) << "a character may span two pieces";
  EXPECT_FALSE(isMultiByteUtf8({"plain ASCII\n"}));
  EXPECT_FALSE(isMultiByteUtf8({"Caf\x82"})) << "code page 437 e acute";
  EXPECT_FALSE(isMultiByteUtf8({"\xC0\xAF"})) << "overlong";
  EXPECT_FALSE(isMultiByteUtf8({"\xE0\x80\xAF"})) << "overlong";
  EXPECT_FALSE(isMultiByteUtf8({"\xED\xA0\x80"})) << "surrogate";
  EXPECT_FALSE(isMultiByteUtf8({"\xF4\x90\x80\x80"})) << "above U+10FFFF";
  EXPECT_FALSE(isMultiByteUtf8({"\xE2\x94"})) << "cut off at the end";
  EXPECT_FALSE(isMultiByteUtf8({"\xC3\xA9\x80"})) << "stray continuation byte";
}

TEST(Utf8Check, RealCodePage437FramesAreNeverUtf8) {
  const std::string_view frames[] = {
      "\xC9\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBB\n\xBA Cool Tool \xBA\n"
      "\xC8\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBC\n",
      "\xDA\xC4\xC4\xC4\xC4\xBF\n\xB3 v1 "
      "\xB3\n\xC3\xC4\xC4\xC4\xC4\xB4\n\xC0\xC4\xC4\xC4\xC4\xD9\n",
      "\xB0\xB1\xB2\xDB Shaded \xDB\xB2\xB1\xB0\n",
      "\xDC\xDC\xDC\xDC\n\xDE MAX \xDD\n\xDF\xDF\xDF\xDF\n",
      "\xD5\xCD\xCD\xB8\n\xD4\xCD\xCD\xBE\n\xD6\xC4\xC4\xB7\n\xD3\xC4\xC4\xBD\n",
      "\xC6\xCD\xCD\xB5 \xC7\xC4\xC4\xB6 \xCC\xCD\xCD\xB9 \xC2\xC1\xC5\xCB\xCA\xCE\n",
      "  \xFE Great game \xFE  (c) 1994 \x9B 5\n",
  };
  for (const auto frame : frames) {
    EXPECT_FALSE(isMultiByteUtf8({frame})) << frame;
  }
}

TEST(Utf8Text, FramesGetTheStandInsOfTheirCodePage437Bytes) {
  // Code page 437 bytes 0xB0-0xDF as Unicode.
  const char32_t kCp437[48] = {0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
                               0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
                               0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
                               0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
                               0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
                               0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580};
  for (int i = 0; i < 48; ++i) {
    const auto byte = static_cast<unsigned char>(0xB0 + i);
    EXPECT_TRUE(isFrameCodePoint(kCp437[i])) << std::hex << int(byte);
    EXPECT_EQ(frameCodePointToAscii(kCp437[i]), boxCharToAscii(byte)) << std::hex << int(byte);
  }
  EXPECT_EQ(frameCodePointToAscii(0x250F), '+') << "a heavy corner";
  EXPECT_EQ(frameCodePointToAscii(0x2501), '-') << "a heavy line";
  EXPECT_FALSE(isFrameCodePoint(0x24FF));
  EXPECT_FALSE(isFrameCodePoint(0x25A0));
}

}  // namespace
