#include "workspace/app/format_settings.h"

#include "platform/regional_settings.h"

namespace quill {

namespace {

std::string grouped(std::string digits, const std::string& separator) {
    if (separator.empty()) return digits;
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), separator);
    return digits;
}

}  // namespace

FormatSettings& formatSettings() {
    static FormatSettings settings;
    return settings;
}

void loadFormatSettingsFromLocale() {
    FormatSettings& s = formatSettings();
    const platform::RegionalSettings user = platform::userRegionalSettings();
    if (user.currencyString) s.currencyString = *user.currencyString;
    if (user.currencyFormat) s.currencyFormat = *user.currencyFormat;
    if (user.negCurrFormat) s.negCurrFormat = *user.negCurrFormat;
    if (user.thousandSeparator) s.thousandSeparator = *user.thousandSeparator;
    if (user.decimalSeparator) s.decimalSeparator = *user.decimalSeparator;
    if (user.shortDateFormat) s.shortDateFormat = *user.shortDateFormat;
}

std::string formatCurrency(std::int64_t tenThousandths, const FormatSettings& settings) {
    const bool negative = tenThousandths < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                       : static_cast<std::uint64_t>(tenThousandths);
    // Two decimals, rounded half away from zero.
    const std::uint64_t cents = magnitude / 100 + (magnitude % 100 >= 50 ? 1 : 0);
    std::string fraction = std::to_string(cents % 100);
    if (fraction.size() < 2) fraction.insert(0, "0");
    const std::string number = grouped(std::to_string(cents / 100), settings.thousandSeparator) +
                               settings.decimalSeparator + fraction;
    const std::string& c = settings.currencyString;

    if (!negative || cents == 0) {
        switch (settings.currencyFormat) {
        case 1: return number + c;
        case 2: return c + " " + number;
        case 3: return number + " " + c;
        default: return c + number;
        }
    }
    switch (settings.negCurrFormat) {
    case 0: return "(" + c + number + ")";
    case 2: return c + "-" + number;
    case 3: return c + number + "-";
    case 4: return "(" + number + c + ")";
    case 5: return "-" + number + c;
    case 6: return number + "-" + c;
    case 7: return number + c + "-";
    case 8: return "-" + number + " " + c;
    case 9: return "-" + c + " " + number;
    case 10: return number + " " + c + "-";
    case 11: return c + " " + number + "-";
    case 12: return c + " -" + number;
    case 13: return number + "- " + c;
    case 14: return "(" + c + " " + number + ")";
    case 15: return "(" + number + " " + c + ")";
    default: return "-" + c + number;
    }
}

}  // namespace quill
