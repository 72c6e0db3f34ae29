// Comparing texts without regard to case, as the category box and the field
// names do: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters fold.
#pragma once

#include <string>

namespace quill {

// The UTF-8 text with its upper-case letters lowered; invalid bytes kept as they are.
std::string foldCase(const std::string& text);
bool sameTextIgnoringCase(const std::string& a, const std::string& b);

}  // namespace quill
