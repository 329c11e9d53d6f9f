#include <gtest/gtest.h>

#include <string>

#include "platform/com/unicode.h"

namespace vmk::com {
namespace {

constexpr char16_t R = 0xFFFD;

TEST(Utf8ToUtf16, AsciiAndMultibyte) {
  EXPECT_EQ(Utf8ToUtf16(""), u"");
  EXPECT_EQ(Utf8ToUtf16("VOLT 5"), u"VOLT 5");
  EXPECT_EQ(Utf8ToUtf16("\xC2\xB5"
                        "A"),
            u"\u00B5A");                              // µA
  EXPECT_EQ(Utf8ToUtf16("\xE2\x84\xA6"), u"\u2126");  // Ω (ohm sign)
  EXPECT_EQ(Utf8ToUtf16("\xEF\xBF\xBF"), std::u16string(1, 0xFFFF));
}

TEST(Utf8ToUtf16, AstralCharactersBecomeSurrogatePairs) {
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x94\x8C"), u"\U0001F50C");  // electric plug
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x94\x8C"), (std::u16string{char16_t(0xD83D), char16_t(0xDD0C)}));
  EXPECT_EQ(Utf8ToUtf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x90\x80\x80"), u"\U00010000");
}

TEST(Utf8ToUtf16, EmbeddedNulIsKept) {
  EXPECT_EQ(Utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToUtf16, StrayBytesEachBecomeOneReplacement) {
  EXPECT_EQ(Utf8ToUtf16("\x80"), std::u16string(1, R));
  EXPECT_EQ(Utf8ToUtf16("a\xBF"
                        "b"),
            (std::u16string{u'a', R, u'b'}));
  EXPECT_EQ(Utf8ToUtf16("\xFE\xFF"), (std::u16string{R, R}));
  EXPECT_EQ(Utf8ToUtf16("\xF5\x80\x80\x80"), std::u16string(4, R));  // past U+10FFFF lead
}

TEST(Utf8ToUtf16, OverlongFormsAreRefusedByteByByte) {
  // C0/C1 can only start overlong forms; E0 80 and F0 80 break at the second byte.
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{R, R}));
  EXPECT_EQ(Utf8ToUtf16("\xC1\xBF"), (std::u16string{R, R}));
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), (std::u16string{R, R, R}));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x80\x80\xAF"), (std::u16string{R, R, R, R}));
}

TEST(Utf8ToUtf16, EncodedSurrogatesAreRefused) {
  // ED A0 80 would be U+D800: ED only takes 80..9F next.
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{R, R, R}));
  EXPECT_EQ(Utf8ToUtf16("\xED\xBF\xBF"), (std::u16string{R, R, R}));
  EXPECT_EQ(Utf8ToUtf16("\xED\x9F\xBF"), std::u16string(1, 0xD7FF));
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{R, R, R, R}));  // U+110000
}

TEST(Utf8ToUtf16, TruncatedSequenceIsOneReplacementPerMaximalSubpart) {
  EXPECT_EQ(Utf8ToUtf16("\xE2\x84"), std::u16string(1, R));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x94"), std::u16string(1, R));
  // The byte that breaks a sequence is not swallowed: it starts the next character.
  EXPECT_EQ(Utf8ToUtf16("\xE2\x84"
                        "A"),
            (std::u16string{R, u'A'}));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F"
                        "\xC2\xB5"),
            (std::u16string{R, 0xB5}));
  // Unicode's own example (Table 3-8): 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
  EXPECT_EQ(Utf8ToUtf16("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
            (std::u16string{u'a', R, R, R, u'b', R, u'c', R, R, u'd'}));
}

TEST(Utf16ToUtf8, AllLengthsAndAstral) {
  EXPECT_EQ(Utf16ToUtf8(u""), "");
  EXPECT_EQ(Utf16ToUtf8(u"A\u00B5\u2126\U0001F50C"), "A\xC2\xB5\xE2\x84\xA6\xF0\x9F\x94\x8C");
  EXPECT_EQ(Utf16ToUtf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacements) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD83D)}), r);              // lone high at end
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDD0C), u'x'}), r + "x");  // lone low
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD83D), u'x'}), r + "x");  // high, no low
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDD0C), char16_t(0xD83D)}), r + r);  // reversed
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDD0C)}),
            r + "\xF0\x9F\x94\x8C");
}

TEST(Utf8Utf16, RoundTripOfEveryScalarValueBoundary) {
  for (char32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu, 0xFFFFu,
                      0x10000u, 0x10FFFFu}) {
    std::u32string one(1, cp);
    std::u16string utf16;
    if (cp > 0xFFFF) {
      utf16 = {char16_t(0xD800 + ((cp - 0x10000) >> 10)), char16_t(0xDC00 + (cp & 0x3FF))};
    } else {
      utf16 = std::u16string(1, char16_t(cp));
    }
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(utf16)), utf16) << std::hex << uint32_t(cp);
  }
}

TEST(Bstr, Utf8ToBstrKeepsNulsAndAstral) {
  BSTR b = Utf8ToBstr(std::string_view("\xF0\x9F\x94\x8C\0z", 6));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(std::u16string(b, 4), std::u16string(u"\U0001F50C\0z", 4));
  EXPECT_EQ(BstrToUtf8(b), std::string("\xF0\x9F\x94\x8C\0z", 6));
  SysFreeString(b);
}

TEST(Bstr, Utf8ToBstrOfEmptyAndInvalid) {
  BSTR empty = Utf8ToBstr("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);

  BSTR bad = Utf8ToBstr("\xC3");
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(std::u16string(bad, SysStringLen(bad)), std::u16string(1, R));
  SysFreeString(bad);
}

}  // namespace
}  // namespace vmk::com
