// Text encodings. Inside the program every text is UTF-8, where a lone UTF-16
// surrogate read from a file keeps its 3-byte form so that saving gives back the
// same code unit. The ANSI code page is the system's own on Windows and
// Windows-1252 on Debian; in either, every byte maps to a character.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quill::platform {

// The ANSI code page's number, such as 1252.
unsigned ansiCodePage();
std::string ansiToUtf8(std::string_view bytes);
// Characters the ANSI code page cannot show become "?", never a look-alike.
std::string utf8ToAnsi(std::string_view text);
// Strict: invalid UTF-8 (overlongs, surrogates, truncated sequences) gives nothing.
std::optional<std::string> decodeUtf8(std::string_view bytes);
// Length of the UTF-8 character at the start of text, 0 when it is not one.
std::size_t utf8CharacterLength(std::string_view text);
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

// The code points of our own text: a lone surrogate is one, a byte that is not
// UTF-8 is one U+FFFD.
std::u32string toCodePoints(std::string_view text);
// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t c);

}  // namespace quill::platform
