// Reads one value of an INI file the way the Windows profile API does.
#pragma once

#include <string>
#include <string_view>

namespace quill::platform {

// Section and key compared without regard to case; blanks around the value and
// one pair of enclosing quotes removed; cut to 2047 characters; ANSI, or
// UTF-16 LE with its mark. A missing file, section or key gives `fallback`.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& path);

// The same lookup over the bytes of a file already read.
std::string profileStringFromBytes(std::string_view fileBytes, const std::string& section,
                                   const std::string& key, const std::string& fallback);

// Cut to the 2047 UTF-16 units the lookup gives, never splitting a character.
std::string cutToProfileBuffer(std::string_view value);

}  // namespace quill::platform
