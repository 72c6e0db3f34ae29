#include "catalogue/search_statement.h"

#include "platform/letter_case.h"

namespace quill {

const std::string kAllCategories = " All Categories";

namespace {

// Inside a quoted SQL literal a quote is written twice.
std::string quoted(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

std::string wordClause(const std::string& word) {
    // Upper-cased as UPPER() treats the catalogue's Unicode columns, or a typed
    // "crème" would never meet the "CRÈME" of UPPER(NAME).
    const std::string W = quoted(platform::upperCase(word));
    return "((UPPER(KEYWORDS) LIKE '%" + W + "%') OR (UPPER(NAME) LIKE '%" + W + "%') OR (NUMBER='" + W + "'))";
}

}  // namespace

std::string buildSearchStatement(int categoryIndex, const std::string& categoryText, const std::string& keywords) {
    std::string S = "SELECT * FROM TEMPLATES";
    bool join = false;
    if (categoryIndex >= 0 && categoryText != kAllCategories) {
        // The empty item stands for every template without a category, NULL too.
        S += categoryText.empty() ? std::string(" WHERE (CATEGORY='' OR CATEGORY IS NULL)")
                                  : " WHERE CATEGORY='" + quoted(categoryText) + "'";
        join = true;
    }
    if (!keywords.empty()) {
        S += join ? " AND " : " WHERE ";
        // Each blank ends the word before it, so runs of blanks give empty words;
        // the end of the text ends one more unless it is a blank.
        std::string word;
        bool first = true;
        auto addWord = [&] {
            if (!first) S += " AND ";
            S += wordClause(word);
            first = false;
            word.clear();
        };
        for (char c : keywords) {
            if (c == ' ')
                addWord();
            else
                word += c;
        }
        if (keywords.back() != ' ') addWord();
    }
    S += " ORDER BY NAME";
    return S;
}

}  // namespace quill
