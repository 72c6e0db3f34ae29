#include "platform/code_page_converter.h"

#include "platform/error.h"

#include <gtest/gtest.h>

using namespace quill;
using platform::CodePageConverter;

TEST(CodePageConverter, ConvertsBothWaysAndMarksWhatTheCodePageLacks) {
    const CodePageConverter win1252(1252);
    EXPECT_EQ(win1252.toUtf8("Cr\xE8me br\xFBl\xE9" "e \x80"), "Cr\u00E8me br\u00FBl\u00E9e \u20AC");
    EXPECT_EQ(win1252.fromUtf8("Cr\u00E8me br\u00FBl\u00E9e \u20AC", '?'), "Cr\xE8me br\xFBl\xE9" "e \x80");
    // One substitute per character, whatever its length; a stray byte is one too.
    EXPECT_EQ(win1252.fromUtf8("a\u03A9b\U0001F600c\xC3(d", '\x1A'), "a\x1A" "b\x1A" "c\x1A(d");
    // A byte 1252 leaves undefined is the C1 control of its value, both ways, as on Windows.
    EXPECT_EQ(win1252.fromUtf8("\u0100\u2212\uFF21", '?'), "???");  // never a look-alike
    EXPECT_EQ(win1252.toUtf8("a\x81" "b"), "a\u0081b");
    EXPECT_EQ(win1252.fromUtf8("a\u0081\u0080b", '?'), "a\x81?b");

    const CodePageConverter shiftJis(932);
    EXPECT_EQ(shiftJis.fromUtf8("\u65E5\u672C", '?'), "\x93\xFA\x96{");
    EXPECT_EQ(shiftJis.toUtf8("\x93\xFA\x96{"), "\u65E5\u672C");
    EXPECT_EQ(shiftJis.toUtf8("ab\x93"), "ab\uFFFD");  // cut short at the end

    // 1258 holds a letter back for a combining mark that may follow.
    const CodePageConverter vietnamese(1258);
    EXPECT_EQ(vietnamese.toUtf8("\xC3"), "\u0102");
    EXPECT_EQ(vietnamese.toUtf8("a\xC3" "b"), "a\u0102b");
}

TEST(CodePageConverter, RefusesACodePageThisMachineCannotConvert) {
    EXPECT_TRUE(platform::codePageAvailable(1252));
    EXPECT_TRUE(platform::codePageAvailable(28592));
    EXPECT_FALSE(platform::codePageAvailable(12345));
    EXPECT_THROW(CodePageConverter(12345), AppError);
}
