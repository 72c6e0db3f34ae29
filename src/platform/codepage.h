// Text encodings. Inside the program every text is UTF-8, where a lone UTF-16
// surrogate read from a file keeps its 3-byte form so that saving gives back the
// same code unit; the ANSI code page of this machine is Windows-1252, in which
// every byte maps.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quill::platform {

std::string ansiToUtf8(std::string_view bytes);
// Characters Windows-1252 cannot show become its default character "?".
std::string utf8ToAnsi(std::string_view text);
// Strict: invalid UTF-8 (overlongs, surrogates, truncated sequences) gives nothing.
std::optional<std::string> decodeUtf8(std::string_view bytes);
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);
std::string utf8ToUtf16(std::string_view text, bool bigEndian);
std::u16string toUtf16(std::string_view text);
// The text as a UTF-8 file may hold it: a lone surrogate becomes U+FFFD, so that
// the strict reading takes the file back; everything else stays byte for byte.
std::string utf8ForFile(std::string_view text);

// Compares two UTF-8 texts as a Western user expects names to match: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic letters ignore case.
bool sameTextIgnoringCase(std::string_view a, std::string_view b);
// The text with those letters lowered; bytes that are not UTF-8 stay as they are.
// Two texts fold alike exactly when sameTextIgnoringCase holds, so it can key a map.
std::string foldCase(std::string_view text);

// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t c);

}  // namespace quill::platform
