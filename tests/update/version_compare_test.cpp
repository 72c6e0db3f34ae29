#include "update/version_compare.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(NewerVersion, ComparesNonZeroNumbersAsNumbers) {
    EXPECT_TRUE(isNewerVersion("1.0", "1.1"));
    EXPECT_FALSE(isNewerVersion("1.0", "1.0"));
    EXPECT_FALSE(isNewerVersion("1.1", "1.0"));
    EXPECT_FALSE(isNewerVersion("2.9", "2.10"));  // 2.10 reads as 2.1
    EXPECT_TRUE(isNewerVersion("9.0", "10.0"));   // not "1" < "9" as texts
    EXPECT_FALSE(isNewerVersion("1.0", " 1.0 "));
    EXPECT_TRUE(isNewerVersion("1.5", "2e0"));
    EXPECT_FALSE(isNewerVersion("-1", "-2"));
}

TEST(NewerVersion, FallsBackToTextOrderWhenEitherIsZeroOrNoNumber) {
    EXPECT_TRUE(isNewerVersion("1.0", "1.0.1"));   // a prefix sorts first
    EXPECT_FALSE(isNewerVersion("1.0", ""));       // nothing sorts before an empty text
    EXPECT_FALSE(isNewerVersion("1.0", "0"));
    EXPECT_TRUE(isNewerVersion("0", "0.5"));
    EXPECT_TRUE(isNewerVersion("", "1.0"));
    EXPECT_TRUE(isNewerVersion("1,5", "1.5"));     // "," is no decimal point: "," < "."
    EXPECT_FALSE(isNewerVersion("a", "B"));        // capitals sort first
    // By UTF-16 code values a character above the basic plane sorts before U+FFFD.
    EXPECT_TRUE(isNewerVersion("x\xF0\x9F\x98\x80", "x\xEF\xBF\xBD"));
}

TEST(ReadDecimalNumber, AcceptsTheDecimalForms) {
    EXPECT_EQ(readDecimalNumber(" 1.5 "), 1.5L);
    EXPECT_EQ(readDecimalNumber("+2"), 2.0L);
    EXPECT_EQ(readDecimalNumber("-3.25"), -3.25L);
    EXPECT_EQ(readDecimalNumber("1e3"), 1000.0L);
    EXPECT_EQ(readDecimalNumber("1.5E-1"), 0.15L);
    EXPECT_EQ(readDecimalNumber(".5"), 0.5L);
    EXPECT_EQ(readDecimalNumber("5."), 5.0L);
}

TEST(ReadDecimalNumber, RejectsEverythingElse) {
    for (const char* text : {"", " ", "1.2.3", "1,5", "1 000", "e5", "1e", "1e+", ".", "+", "inf", "nan",
                             "0x10", "1.0a", "v1", "--1"}) {
        EXPECT_FALSE(readDecimalNumber(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace quill
