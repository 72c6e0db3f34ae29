// The SELECT statement behind "Search", built from the chosen category and the
// typed keywords.
#pragma once

#include <string>

namespace quill {

// The category box's item that stands for no category filter.
extern const std::string kAllCategories;  // " All Categories"

// categoryIndex is the category box's selected index (-1 for none) and
// categoryText its text. Any selected item other than " All Categories" filters
// by its text, the empty item by an empty or NULL CATEGORY; every blank in
// keywords ends a word, and each word, upper-cased, must match KEYWORDS or NAME
// (LIKE, "%" and "_" kept) or equal NUMBER. Quotes are doubled.
std::string buildSearchStatement(int categoryIndex, const std::string& categoryText, const std::string& keywords);

}  // namespace quill
