#include "platform/posix/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace zipdrop {
namespace {

struct DecodeCase {
  const char* label;
  std::string bytes;
  std::u16string text;
};

class FromSystemBytesTest : public ::testing::TestWithParam<DecodeCase> {};

// Every case must also come back byte for byte: a name the logic only passes along may be in
// any encoding, and it has to reach the file system unchanged.
TEST_P(FromSystemBytesTest, DecodesAndRoundTrips) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(FromSystemBytes(c.bytes), c.text);
  EXPECT_EQ(ToSystemBytes(FromSystemBytes(c.bytes)), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, FromSystemBytesTest,
    ::testing::Values(
        DecodeCase{"Empty", "", u""},
        DecodeCase{"Ascii", "a/b c.zip", u"a/b c.zip"},
        DecodeCase{"TwoBytes", "\xC3\xA9", u"\u00E9"},
        DecodeCase{"ThreeBytesJapanese", "\xE8\xA7\xA3\xE5\x87\x8D", u"解凍"},
        DecodeCase{"FourBytesBecomePair", "\xF0\x9F\x98\x80", u"\U0001F600"},
        DecodeCase{"HighestCodePoint", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        DecodeCase{"PairWithLowHalfInEscapeRange", "\xF0\x9F\x9A\x80", u"\U0001F680"},
        DecodeCase{"LoneInvalidByte", "a\xFF" "b", u"a\xDCFF" u"b"},
        DecodeCase{"LoneContinuation", "\x80", u"\xDC80"},
        DecodeCase{"TruncatedAtEnd", "\xE3\x81", u"\xDCE3\xDC81"},
        DecodeCase{"TruncatedBeforeAscii", "\xE3\x81" "A", u"\xDCE3\xDC81" u"A"},
        DecodeCase{"OverlongSlash", "\xC0\xAF", u"\xDCC0\xDCAF"},
        DecodeCase{"OverlongThreeBytes", "\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},
        DecodeCase{"OverlongFourBytes", "\xF0\x8F\xBF\xBF", u"\xDCF0\xDC8F\xDCBF\xDCBF"},
        DecodeCase{"EncodedSurrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
        DecodeCase{"PastUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
        DecodeCase{"LeadF5", "\xF5\x80", u"\xDCF5\xDC80"},
        DecodeCase{"ShiftJisName", "\x89\xF0\x93\x80.zip", u"\xDC89\xDCF0\xDC93\xDC80.zip"},
        DecodeCase{"NulKept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.label); });

struct EncodeCase {
  const char* label;
  std::u16string text;
  std::string bytes;
};

class ToSystemBytesTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(ToSystemBytesTest, Encodes) { EXPECT_EQ(ToSystemBytes(GetParam().text), GetParam().bytes); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ToSystemBytesTest,
    ::testing::Values(
        EncodeCase{"Japanese", u"使い方", "\xE4\xBD\xBF\xE3\x81\x84\xE6\x96\xB9"},
        EncodeCase{"Pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        EncodeCase{"EscapedByte", u"\xDCFF", "\xFF"},
        EncodeCase{"LoneHighSurrogate", u"\xD800" u"a", "\xEF\xBF\xBD" "a"},
        EncodeCase{"HighSurrogateAtEnd", u"a\xDBFF", "a\xEF\xBF\xBD"},
        EncodeCase{"LowSurrogateBelowEscapes", u"\xDC7F", "\xEF\xBF\xBD"},
        EncodeCase{"LowSurrogateAboveEscapes", u"\xDD00", "\xEF\xBF\xBD"},
        EncodeCase{"ReversedPair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const auto& info) { return std::string(info.param.label); });

// Every single byte and every pair of bytes, so no lead byte and no boundary is left out.
TEST(TextEncodingTest, EveryByteAndPairRoundTrips) {
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      std::string bytes{static_cast<char>(first), static_cast<char>(second)};
      ASSERT_EQ(ToSystemBytes(FromSystemBytes(bytes)), bytes) << first << " " << second;
    }
  }
}

}  // namespace
}  // namespace zipdrop
