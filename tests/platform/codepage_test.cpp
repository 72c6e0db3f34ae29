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

TEST(Utf16, LoneSurrogatesAndOddBytesDoNotBreakDecoding) {
    EXPECT_EQ(utf16ToUtf8(std::string("\x00\xD8" "A\0", 4), false), "\uFFFDA");
    EXPECT_EQ(utf16ToUtf8(std::string("A\0B", 3), false), "A");
}

TEST(CaseInsensitiveNames, MatchWholeNamesInWesternScripts) {
    EXPECT_TRUE(sameTextIgnoringCase("Main", "mAIN"));
    EXPECT_TRUE(sameTextIgnoringCase("\u00C4rger", "\u00E4RGER"));
    EXPECT_TRUE(sameTextIgnoringCase("\u0141\u00F3d\u017A", "\u0142\u00D3D\u0179"));
    EXPECT_TRUE(sameTextIgnoringCase("\u0416\u0401", "\u0436\u0451"));
    EXPECT_FALSE(sameTextIgnoringCase(" Main", "Main"));
    EXPECT_FALSE(sameTextIgnoringCase("Mai", "Main"));
    EXPECT_FALSE(sameTextIgnoringCase("\u00D7", "\u00F7"));  // multiplication and division signs
}
