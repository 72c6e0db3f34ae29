#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace quill::platform;

TEST(AnsiCodePage, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string text = ansiToUtf8(all);
    ASSERT_TRUE(decodeUtf8(text).has_value());
    EXPECT_EQ(utf8ToAnsi(text), all);
}

TEST(AnsiCodePage, IsWindows1252) {
    EXPECT_EQ(ansiToUtf8("\x80"), "\u20AC");
    EXPECT_EQ(ansiToUtf8("\x9F"), "\u0178");
    EXPECT_EQ(ansiToUtf8("\xE9"), "\u00E9");
    EXPECT_EQ(ansiToUtf8("\x81"), "\u0081");
    EXPECT_EQ(utf8ToAnsi("\u20AC\u00E9"), "\x80\xE9");
}

TEST(AnsiCodePage, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(utf8ToAnsi("a\u0416b\U0001F600c"), "a?b?c");
    EXPECT_EQ(utf8ToAnsi("\u0080"), "?");  // a C1 control Windows-1252 has a letter for
    // Never a look-alike: "A" for "\u0100" or "-" for a minus sign would change a name.
    EXPECT_EQ(utf8ToAnsi("\u0100\u2212\uFF21"), "???");
}

TEST(StrictUtf8, RejectsEveryMalformedSequence) {
    EXPECT_TRUE(decodeUtf8("ascii \u00E9 \u20AC \U0001F600").has_value());
    EXPECT_FALSE(decodeUtf8("\xC0\xAF").has_value());          // overlong "/"
    EXPECT_FALSE(decodeUtf8("\xE0\x80\xAF").has_value());      // overlong, three bytes
    EXPECT_FALSE(decodeUtf8("\xED\xA0\x80").has_value());      // surrogate
    EXPECT_FALSE(decodeUtf8("\xF4\x90\x80\x80").has_value());  // past U+10FFFF
    EXPECT_FALSE(decodeUtf8("ok\xE2\x82").has_value());        // cut short
    EXPECT_FALSE(decodeUtf8("\x80").has_value());              // lone continuation
    EXPECT_FALSE(decodeUtf8("\xFF").has_value());
}

TEST(Utf16, RoundTripsBothByteOrdersWithSurrogatePairs) {
    const std::string text = "A\u00E9\u20AC\U0001F600";
    const std::string le = utf8ToUtf16(text, false);
    const std::string be = utf8ToUtf16(text, true);
    EXPECT_EQ(le.substr(0, 2), std::string("A\0", 2));
    EXPECT_EQ(be.substr(0, 2), std::string("\0A", 2));
    EXPECT_EQ(le.size(), 10u);
    EXPECT_EQ(utf16ToUtf8(le, false), text);
    EXPECT_EQ(utf16ToUtf8(be, true), text);
}

TEST(Utf16, OddBytesDoNotBreakDecoding) {
    EXPECT_EQ(utf16ToUtf8(std::string("A\0B", 3), false), "A");
}

TEST(Utf16, LoneSurrogatesKeepTheirCodeUnits) {
    // Lone high, lone low, a reversed pair, a high before an ordinary letter, a high at the end.
    const std::u16string units = {0xD800, u'a', 0xDC00, 0xDFFF, 0xDBFF, u'b', 0xD83D, u'c', 0xDBFF};
    for (const bool big : {false, true}) {
        std::string bytes;
        for (const char16_t u : units) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            bytes += big ? std::string{hi, lo} : std::string{lo, hi};
        }
        const std::string text = utf16ToUtf8(bytes, big);
        EXPECT_EQ(text.substr(0, 4), "\xED\xA0\x80" "a");
        EXPECT_EQ(toUtf16(text), units);
        EXPECT_EQ(utf8ToUtf16(text, big), bytes);
        // Each is one character the code page cannot show.
        EXPECT_EQ(utf8ToAnsi(text), "?a??" "?b?c?");
    }
    // A file that says it is UTF-8 must still hold no surrogate at all.
    EXPECT_FALSE(decodeUtf8(utf16ToUtf8(std::string("\x00\xD8", 2), false)).has_value());
}

TEST(Utf16, AUtf8FileGetsAReplacementForALoneSurrogate) {
    const std::string lone = utf16ToUtf8(std::string("a\0\x00\xD8" "b\0", 6), false);
    EXPECT_EQ(utf8ForFile(lone), "a\uFFFD" "b");
    // Everything else goes out byte for byte, bytes that are no UTF-8 included.
    EXPECT_EQ(utf8ForFile("caf\u00E9 \U0001F600 \xE9"), "caf\u00E9 \U0001F600 \xE9");
}

TEST(CaseInsensitiveNames, MatchWholeNamesInWesternScripts) {
    EXPECT_TRUE(sameTextIgnoringCase("Main", "mAIN"));
    EXPECT_TRUE(sameTextIgnoringCase("\u00C4rger", "\u00E4RGER"));
    EXPECT_TRUE(sameTextIgnoringCase("\u0141\u00F3d\u017A", "\u0142\u00D3D\u0179"));
    EXPECT_TRUE(sameTextIgnoringCase("\u0416\u0401", "\u0436\u0451"));
    EXPECT_FALSE(sameTextIgnoringCase(" Main", "Main"));
    EXPECT_FALSE(sameTextIgnoringCase("Mai", "Main"));
    EXPECT_FALSE(sameTextIgnoringCase("\u00D7", "\u00F7"));  // multiplication and division signs
    // A lone surrogate from a UTF-16 file matches only itself.
    const std::string high = utf16ToUtf8(std::string("\x00\xD8", 2), false);
    const std::string otherHigh = utf16ToUtf8(std::string("\x01\xD8", 2), false);
    EXPECT_TRUE(sameTextIgnoringCase("Main" + high, "mAIN" + high));
    EXPECT_FALSE(sameTextIgnoringCase("Main" + high, "Main" + otherHigh));
    EXPECT_FALSE(sameTextIgnoringCase("Main" + high, "Main\uFFFD"));
}
