// The process-wide number, currency and date format settings. They start from
// the user's locale; the update check changes two of them for the rest of the run.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

struct FormatSettings {
    std::string currencyString = "$";
    int currencyFormat = 0;      // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    int negCurrFormat = 1;       // the sixteen negative forms, 0 "($1)" .. 15 "(1 $)"
    std::string thousandSeparator = ",";
    std::string decimalSeparator = ".";
    std::string shortDateFormat = "M/d/yyyy";
};

// The one process-wide object.
FormatSettings& formatSettings();

// Fills the settings from the user's locale (LC_MONETARY, LC_NUMERIC, LC_TIME).
void loadFormatSettingsFromLocale();

// An amount in ten-thousandths, in currency form with exactly two decimals.
std::string formatCurrency(std::int64_t tenThousandths, const FormatSettings& settings = formatSettings());

}  // namespace quill
