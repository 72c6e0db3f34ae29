#include "platform/regional_settings.h"

#include "platform/windows/wide.h"

#include <cwchar>

#include <windows.h>

namespace quill::platform {

namespace {

std::optional<std::string> localeText(LCTYPE type) {
    wchar_t buffer[128] = {};
    const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, static_cast<int>(std::size(buffer)));
    if (n <= 0) return std::nullopt;
    return windows::fromWide(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)));
}

std::optional<int> localeNumber(LCTYPE type) {
    DWORD value = 0;
    // The value itself rather than its digits.
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&value),
                        sizeof value / sizeof(wchar_t)) <= 0) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

}  // namespace

RegionalSettings userRegionalSettings() {
    RegionalSettings s;
    s.currencyString = localeText(LOCALE_SCURRENCY);
    s.currencyFormat = localeNumber(LOCALE_ICURRENCY);
    s.negCurrFormat = localeNumber(LOCALE_INEGCURR);
    s.thousandSeparator = localeText(LOCALE_STHOUSAND);
    s.decimalSeparator = localeText(LOCALE_SDECIMAL);
    if (s.decimalSeparator && s.decimalSeparator->empty()) s.decimalSeparator.reset();
    s.shortDateFormat = localeText(LOCALE_SSHORTDATE);
    return s;
}

}  // namespace quill::platform
