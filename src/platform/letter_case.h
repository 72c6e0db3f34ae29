// Upper case as the database applies it to the catalogue's Unicode text.
#pragma once

#include <string>
#include <string_view>

namespace quill::platform {

// Every letter of the UTF-8 text that has a single-letter capital in Unicode
// becomes that capital ("crème" -> "CRÈME"; "ß" stays); other characters, and
// bytes that are not UTF-8, stay as they are. Raises nothing.
std::string upperCase(std::string_view text);

}  // namespace quill::platform
