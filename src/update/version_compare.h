// Whether an offered program version is newer than the installed one.
#pragma once

#include <optional>
#include <string>

namespace quill {

// The text as a decimal number: blanks around, a sign, at most one ".", an
// exponent. Nothing for any other text.
std::optional<long double> readDecimalNumber(const std::string& text);

// Both numbers non-zero: compared as numbers. Otherwise installed sorts before
// offered by UTF-16 code values. Never fails.
bool isNewerVersion(const std::string& installed, const std::string& offered);

}  // namespace quill
