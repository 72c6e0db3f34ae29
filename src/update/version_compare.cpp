#include "update/version_compare.h"

#include "platform/codepage.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace quill {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<long double> readDecimalNumber(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && text[begin] == ' ') ++begin;
    while (end > begin && text[end - 1] == ' ') --end;

    // Checked by hand first: from_chars would also take "inf", "nan" and hex forms.
    std::size_t i = begin;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t numberStart = i;
    std::size_t digits = 0;
    while (i < end && isDigit(text[i])) ++i, ++digits;
    if (i < end && text[i] == '.') {
        ++i;
        while (i < end && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    bool exponentNegative = false;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) exponentNegative = text[i++] == '-';
        std::size_t exponentDigits = 0;
        while (i < end && isDigit(text[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != end) return std::nullopt;

    // from_chars does not depend on the C locale, which the windows may have changed.
    long double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + numberStart, text.data() + end, value);
    if (ec == std::errc::result_out_of_range) {
        value = exponentNegative ? 0.0L : std::numeric_limits<long double>::infinity();
    } else if (ec != std::errc() || ptr != text.data() + end) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

bool isNewerVersion(const std::string& installed, const std::string& offered) {
    const auto installedNumber = readDecimalNumber(installed).value_or(0);
    const auto offeredNumber = readDecimalNumber(offered).value_or(0);
    if (installedNumber != 0 && offeredNumber != 0) return offeredNumber > installedNumber;
    // UTF-16 order differs from UTF-8 byte order above the basic plane.
    return platform::toUtf16(installed) < platform::toUtf16(offered);
}

}  // namespace quill
