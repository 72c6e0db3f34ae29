#include "catalogue/search_statement.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

const std::string kAll = " All Categories";

std::string clauseOf(const std::string& W) {
    return "((UPPER(KEYWORDS) LIKE '%" + W + "%') OR (UPPER(NAME) LIKE '%" + W + "%') OR (NUMBER='" + W + "'))";
}

TEST(SearchStatement, NoCategoryAndNoKeywordsSelectsEverything) {
    EXPECT_EQ(buildSearchStatement(0, kAll, ""), "SELECT * FROM TEMPLATES ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(1, kAll, ""), "SELECT * FROM TEMPLATES ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(-1, "", ""), "SELECT * FROM TEMPLATES ORDER BY NAME");
}

TEST(SearchStatement, CategoryAndTwoWordsGiveTheDocumentedStatement) {
    EXPECT_EQ(buildSearchStatement(3, "Business", "car log"),
              "SELECT * FROM TEMPLATES WHERE CATEGORY='Business' AND ((UPPER(KEYWORDS) LIKE '%CAR%') OR "
              "(UPPER(NAME) LIKE '%CAR%') OR (NUMBER='CAR')) AND ((UPPER(KEYWORDS) LIKE '%LOG%') OR "
              "(UPPER(NAME) LIKE '%LOG%') OR (NUMBER='LOG')) ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(2, "Home", ""), "SELECT * FROM TEMPLATES WHERE CATEGORY='Home' ORDER BY NAME");
}

TEST(SearchStatement, AllCategoriesWithOneWordAndATrailingBlank) {
    const std::string expected =
        "SELECT * FROM TEMPLATES WHERE ((UPPER(KEYWORDS) LIKE '%TAX%') OR (UPPER(NAME) LIKE '%TAX%') OR "
        "(NUMBER='TAX')) ORDER BY NAME";
    EXPECT_EQ(buildSearchStatement(1, kAll, "tax"), expected);
    EXPECT_EQ(buildSearchStatement(1, kAll, "tax "), expected);
    EXPECT_EQ(buildSearchStatement(-1, "", "tax"), expected);
}

TEST(SearchStatement, LeadingAndDoubledBlanksGiveEmptyWords) {
    EXPECT_EQ(buildSearchStatement(0, kAll, " tax"),
              "SELECT * FROM TEMPLATES WHERE ((UPPER(KEYWORDS) LIKE '%%') OR (UPPER(NAME) LIKE '%%') OR "
              "(NUMBER='')) AND ((UPPER(KEYWORDS) LIKE '%TAX%') OR (UPPER(NAME) LIKE '%TAX%') OR "
              "(NUMBER='TAX')) ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(0, kAll, "car  log"),
              "SELECT * FROM TEMPLATES WHERE ((UPPER(KEYWORDS) LIKE '%CAR%') OR (UPPER(NAME) LIKE '%CAR%') OR "
              "(NUMBER='CAR')) AND ((UPPER(KEYWORDS) LIKE '%%') OR (UPPER(NAME) LIKE '%%') OR (NUMBER='')) AND "
              "((UPPER(KEYWORDS) LIKE '%LOG%') OR (UPPER(NAME) LIKE '%LOG%') OR (NUMBER='LOG')) ORDER BY NAME");
}

TEST(SearchStatementMended, WordsAreUpperCasedAsUpperTreatsUnicodeAndTabsStayInTheWord) {
    // UPPER(NAME) of "Crème brûlée" is "CRÈME BRÛLÉE": a word left "CRèME" never matched it.
    EXPECT_EQ(buildSearchStatement(0, kAll, "cr\xC3\xA8me"),
              "SELECT * FROM TEMPLATES WHERE " + clauseOf("CR\xC3\x88ME") + " ORDER BY NAME");
    // "ß" has no capital letter of its own and stays, as UPPER() leaves it.
    EXPECT_EQ(buildSearchStatement(0, kAll, "stra\xC3\x9F" "e \xCE\xBB"),
              "SELECT * FROM TEMPLATES WHERE " + clauseOf("STRA\xC3\x9F" "E") + " AND " + clauseOf("\xCE\x9B") +
                  " ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(0, kAll, "a\tb"),
              "SELECT * FROM TEMPLATES WHERE " + clauseOf("A\tB") + " ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(0, kAll, "5%_x"),
              "SELECT * FROM TEMPLATES WHERE " + clauseOf("5%_X") + " ORDER BY NAME");
}

TEST(SearchStatementMended, EveryCategoryFiltersIncludingTheFirstAndTheEmptyOne) {
    // Sorted box: " All Categories", "Accounts", ... — the first category sits at index 1.
    EXPECT_EQ(buildSearchStatement(1, "Accounts", ""),
              "SELECT * FROM TEMPLATES WHERE CATEGORY='Accounts' ORDER BY NAME");
    // An empty category sorts first, pushing " All Categories" to index 1; it
    // stands for the templates without a category, NULL ones too.
    EXPECT_EQ(buildSearchStatement(0, "", "tax"),
              "SELECT * FROM TEMPLATES WHERE (CATEGORY='' OR CATEGORY IS NULL) AND " + clauseOf("TAX") +
                  " ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(0, "", ""),
              "SELECT * FROM TEMPLATES WHERE (CATEGORY='' OR CATEGORY IS NULL) ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(1, kAll, ""), "SELECT * FROM TEMPLATES ORDER BY NAME");
}

TEST(SearchStatementMended, QuotesAreDoubledInWordsAndCategory) {
    EXPECT_EQ(buildSearchStatement(2, "Kid's", "o'neil"),
              "SELECT * FROM TEMPLATES WHERE CATEGORY='Kid''s' AND " + clauseOf("O''NEIL") + " ORDER BY NAME");
    EXPECT_EQ(buildSearchStatement(0, kAll, "') OR 1=1 --"),
              "SELECT * FROM TEMPLATES WHERE " + clauseOf("'')") + " AND " + clauseOf("OR") + " AND " +
                  clauseOf("1=1") + " AND " + clauseOf("--") + " ORDER BY NAME");
}

}  // namespace
}  // namespace quill
