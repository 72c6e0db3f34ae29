// The user's number, currency and date formats, in the forms Windows keeps
// them (its currency and negative-currency form numbers, a "M/d/yyyy" date).
// On Windows they are the user's regional settings; on Debian they come from
// the locale the program runs under, and a category left at C or POSIX gives
// nothing, so the built-in defaults stand.
#pragma once

#include <optional>
#include <string>

namespace quill::platform {

struct RegionalSettings {
    std::optional<std::string> currencyString;
    std::optional<int> currencyFormat;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    std::optional<int> negCurrFormat;   // the sixteen negative forms, 0 "($1)" .. 15 "(1 $)"
    std::optional<std::string> thousandSeparator;
    std::optional<std::string> decimalSeparator;
    std::optional<std::string> shortDateFormat;
};

RegionalSettings userRegionalSettings();

}  // namespace quill::platform
