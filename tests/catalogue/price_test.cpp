// The price in currency form, with the process-wide format settings.
#include "workspace/app/format_settings.h"

#include <gtest/gtest.h>

#include <clocale>

namespace quill {
namespace {

FormatSettings euro() {
    FormatSettings s;
    s.currencyString = "\xE2\x82\xAC";
    s.currencyFormat = 3;
    s.negCurrFormat = 8;
    s.thousandSeparator = ".";
    s.decimalSeparator = ",";
    return s;
}

TEST(PriceInCurrencyForm, TwoDecimalsRoundedWithThousandsGrouped) {
    const FormatSettings us;
    EXPECT_EQ(formatCurrency(0, us), "$0.00");
    EXPECT_EQ(formatCurrency(199900, us), "$19.99");
    EXPECT_EQ(formatCurrency(12345678900, us), "$1,234,567.89");
    EXPECT_EQ(formatCurrency(1049, us), "$0.10");  // 0.1049
    EXPECT_EQ(formatCurrency(1050, us), "$0.11");  // 0.1050 rounds up
    EXPECT_EQ(formatCurrency(INT64_MAX, us), "$922,337,203,685,477.58");
    EXPECT_EQ(formatCurrency(-49, us), "$0.00");  // no minus on a shown zero
}

TEST(PriceInCurrencyForm, SymbolPlaceAndNegativeFormsFollowTheSettings) {
    const FormatSettings e = euro();
    EXPECT_EQ(formatCurrency(12345678900, e), "1.234.567,89 \xE2\x82\xAC");
    EXPECT_EQ(formatCurrency(-15000, e), "-1,50 \xE2\x82\xAC");
    FormatSettings us;
    EXPECT_EQ(formatCurrency(-15000, us), "-$1.50");
    us.negCurrFormat = 0;
    EXPECT_EQ(formatCurrency(-15000, us), "($1.50)");
    us.negCurrFormat = 15;
    EXPECT_EQ(formatCurrency(-15000, us), "(1.50 $)");
    EXPECT_EQ(formatCurrency(INT64_MIN, us), "(922,337,203,685,477.58 $)");
}

TEST(PriceInCurrencyForm, TheProcessWideSettingsChangeLaterPrices) {
    formatSettings() = euro();
    EXPECT_EQ(formatCurrency(199900), "19,99 \xE2\x82\xAC");
    formatSettings().decimalSeparator = ".";  // as the update check sets it
    EXPECT_EQ(formatCurrency(199900), "19.99 \xE2\x82\xAC");
    formatSettings() = FormatSettings{};
}

TEST(PriceInCurrencyForm, ALocaleWithoutRegionalSettingsKeepsTheBuiltInOnes) {
    for (const char* name : {"C", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, name)) continue;
        formatSettings() = FormatSettings{};
        loadFormatSettingsFromLocale();
        EXPECT_EQ(formatCurrency(12345678900), "$1,234,567.89") << name;
    }
    std::setlocale(LC_ALL, "C");
    formatSettings() = FormatSettings{};
}

}  // namespace
}  // namespace quill
