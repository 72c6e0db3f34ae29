// Upper case as the catalogue's search applies it, by the system's own table.
#include "platform/letter_case.h"

#include <gtest/gtest.h>

using quill::platform::upperCase;

TEST(UpperCase, GivesEachLetterItsSingleCapital) {
    EXPECT_EQ(upperCase("cr\u00E8me br\u00FBl\u00E9e"), "CR\u00C8ME BR\u00DBL\u00C9E");
    EXPECT_EQ(upperCase("\u0142\u00F3d\u017A \u03B1\u03B2\u03B3 \u0436\u0451"), "\u0141\u00D3D\u0179 \u0391\u0392\u0393 \u0416\u0401");
    // No capital of two letters: "\u00DF" stays rather than becoming "SS".
    EXPECT_EQ(upperCase("stra\u00DFe"), "STRA\u00DFE");
    EXPECT_EQ(upperCase("\U0001F600 \u65E5 1-2"), "\U0001F600 \u65E5 1-2");
}

TEST(UpperCase, LeavesBytesThatAreNotUtf8AsTheyAre) {
    EXPECT_EQ(upperCase("a\xE9" "b\xC3"), "A\xE9" "B\xC3");
    EXPECT_EQ(upperCase("\xED\xA0\x80" "x"), "\xED\xA0\x80" "X");
    EXPECT_EQ(upperCase(""), "");
}
