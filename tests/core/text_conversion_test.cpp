#include "core/core.h"

#include <gtest/gtest.h>

#include <random>

namespace velunor {
namespace {

// "第一章 少年" in GBK.
const std::string kGbkChapter = "\xB5\xDA\xD2\xBB\xD5\xC2 \xC9\xD9\xC4\xEA";
// "斗破苍穹" in UTF-8.
const std::string kUtf8Title = "\xE6\x96\x97\xE7\xA0\xB4\xE8\x8B\x8D\xE7\xA9\xB9";
// U+1F600, an emoji outside the Basic Multilingual Plane, in UTF-8.
const std::string kUtf8Emoji = "\xF0\x9F\x98\x80";
// U+4DB6, an Extension A character that GBK lacks and GB18030 holds.
const std::string kUtf8RareName = "\xE4\xB6\xB6";

TEST(AnsiConversion, DecodesGbkText) {
    EXPECT_EQ(AnsiToWide(kGbkChapter), u"第一章 少年");
    EXPECT_EQ(WideToAnsi(u"第一章 少年"), kGbkChapter);
}

TEST(AnsiConversion, StopsAtTheFirstNul) {
    EXPECT_EQ(AnsiToWide(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(WideToAnsi(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(AnsiToWide(""), u"");
    EXPECT_EQ(WideToAnsi(u""), "");
}

TEST(AnsiConversion, WritesCharactersGbkLacksWithoutLoss) {
    std::u16string wide = Utf8ToWide(kUtf8RareName + kUtf8Emoji);
    ASSERT_EQ(wide, u"\u4DB6\U0001F600");
    std::string ansi = WideToAnsi(wide);
    EXPECT_EQ(ansi.find('?'), std::string::npos);
    EXPECT_EQ(AnsiToWide(ansi), wide);
}

TEST(AnsiConversion, KeepsInvalidBytesAsEscapes) {
    // 0x80 and 0xFF start no GB18030 sequence; 0xB5 at the end is cut off.
    std::string bytes = "a\x80"
                        "b\xFF"
                        "\xB5";
    std::u16string wide = AnsiToWide(bytes);
    EXPECT_EQ(wide, u"a\xDC80"
                    u"b\xDCFF"
                    u"\xDCB5");
    EXPECT_EQ(WideToAnsi(wide), bytes);
}

TEST(AnsiConversion, RoundTripsEveryByteString) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(1, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        int length = round % 64;
        for (int i = 0; i < length; ++i) {
            bytes.push_back(static_cast<char>(byte(random)));
        }
        ASSERT_EQ(WideToAnsi(AnsiToWide(bytes)), bytes) << "round " << round;
    }
}

TEST(AnsiConversion, EveryGbkPairDecodesAsIconvDecodesIt) {
    // The fast table of pairs must agree with iconv's GBK decoder wherever GBK defines a pair.
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            std::u16string viaIconv;
            ASSERT_TRUE(DecodeCharset(pair, "GBK", viaIconv));
            if (viaIconv.size() != 1 || (viaIconv[0] >= 0xDC80 && viaIconv[0] <= 0xDCFF)) {
                continue;
            }
            ASSERT_EQ(AnsiToWide(pair), viaIconv) << lead << " " << trail;
            ASSERT_EQ(WideToAnsi(viaIconv), pair) << lead << " " << trail;
        }
    }
}

TEST(AnsiConversion, FourByteSequencesAndRejectedOnesAroundThem) {
    // U+0080 as a four-byte sequence on both sides of a four-byte shape beyond the defined range,
    // whose bytes are kept one by one before decoding goes on.
    std::string bytes = "\x81\x30\x81\x30"
                        "\xFE\x39\xFE\x39"
                        "\x81\x30\x81\x30";
    std::u16string wide = AnsiToWide(bytes);
    EXPECT_EQ(wide.front(), u'\u0080');
    EXPECT_EQ(wide.back(), u'\u0080');
    EXPECT_EQ(WideToAnsi(wide), bytes);
}

TEST(AnsiConversion, LoneSurrogateThatIsNoEscapeBecomesQuestionMark) {
    std::u16string wide = u"a";
    wide.push_back(static_cast<char16_t>(0xD800));
    wide += u"b";
    wide.push_back(static_cast<char16_t>(0xDC20));
    EXPECT_EQ(WideToAnsi(wide), "a?b?");
}

TEST(Utf8Conversion, DecodesAndEncodesEveryPlane) {
    std::string bytes = "A" + kUtf8Title + kUtf8Emoji + "\xC3\xA9";
    std::u16string wide = Utf8ToWide(bytes);
    EXPECT_EQ(wide, u"A斗破苍穹\U0001F600é");
    EXPECT_EQ(WideToUtf8(wide), bytes);
}

TEST(Utf8Conversion, LongAsciiRunsAroundMultiByteCharacters) {
    // ASCII is widened in blocks; characters and bad bytes at every offset around a block edge
    // must come out the same as alone.
    for (size_t before = 0; before < 40; ++before) {
        std::string ascii(before, 'a');
        std::string bytes =
            ascii + kUtf8Title + ascii + "\xFF" + ascii + kUtf8Emoji + std::string(33, 'z');
        std::u16string expected =
            std::u16string(before, u'a') + u"斗破苍穹" + std::u16string(before, u'a') + u"\xDCFF" +
            std::u16string(before, u'a') + u"\U0001F600" + std::u16string(33, u'z');
        ASSERT_EQ(Utf8ToWide(bytes), expected) << before;
    }
}

TEST(Utf8Conversion, InvalidSequencesBecomeEscapedBytes) {
    struct Case {
        std::string bytes;
        std::u16string wide;
    };
    const Case cases[] = {
        {"\xC0\xAF", u"\xDCC0\xDCAF"},                     // overlong "/"
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},           // encoded surrogate
        {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"}, // above U+10FFFF
        {"\xE6\x96", u"\xDCE6\xDC96"},                     // truncated at the end
        {"\x80z", u"\xDC80z"},                             // lone continuation byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToWide(c.bytes), c.wide);
    }
}

TEST(Utf8Conversion, EscapedBytesAreWrittenAsReplacementCharacter) {
    EXPECT_EQ(WideToUtf8(u"a\xDC80"), "a\xEF\xBF\xBD");
}

TEST(ReinterpretAsUtf8, RecoversAUtf8PageDecodedAsAnsi) {
    // A UTF-8 page goes through the ANSI decoding first, as every fetched page does. Many of its
    // byte pairs are valid GBK and decode to unrelated characters; the emoji and the cut-off
    // sequence at the end are not valid GBK at all.
    std::string page = "<p>" + kUtf8Title + kUtf8RareName + kUtf8Emoji + "</p>\xE6\x96";
    std::u16string asAnsi = AnsiToWide(page);
    EXPECT_EQ(ReinterpretAsUtf8(asAnsi), u"<p>斗破苍穹\u4DB6\U0001F600</p>\xDCE6\xDC96");
}

TEST(ReinterpretAsUtf8, LeavesAsciiAlone) {
    EXPECT_EQ(ReinterpretAsUtf8(u"plain <b>text</b>"), u"plain <b>text</b>");
}

TEST(CharsetConversion, ReportsLossForASingleByteCharset) {
    std::string bytes;
    bool lossy = false;
    ASSERT_TRUE(EncodeCharset(u"caf\u00E9 \u4E2D", "CP1252", bytes, &lossy));
    EXPECT_EQ(bytes, "caf\xE9 ?");
    EXPECT_TRUE(lossy);
    ASSERT_TRUE(EncodeCharset(u"caf\u00E9", "CP1252", bytes, &lossy));
    EXPECT_FALSE(lossy);
}

TEST(CharsetConversion, DecodesWholeInputIncludingNuls) {
    std::u16string wide;
    ASSERT_TRUE(DecodeCharset(std::string("a\0\xE9", 3), "CP1252", wide));
    EXPECT_EQ(wide, std::u16string(u"a\0\u00E9", 3));
}

TEST(CharsetConversion, UnknownCharsetFails) {
    std::u16string wide = u"old";
    std::string bytes = "old";
    EXPECT_FALSE(DecodeCharset("abc", "NO-SUCH-CHARSET", wide));
    EXPECT_FALSE(EncodeCharset(u"abc", "NO-SUCH-CHARSET", bytes));
    EXPECT_TRUE(wide.empty());
    EXPECT_TRUE(bytes.empty());
}

} // namespace
} // namespace velunor
