#include "platform/regional_settings.h"

#include <clocale>
#include <climits>
#include <cstring>
#include <langinfo.h>

namespace quill::platform {

namespace {

// The C and POSIX locales carry no regional settings; our built-in ones stand in.
bool isPlainLocale(int category) {
    const char* name = std::setlocale(category, nullptr);
    return !name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
           std::strncmp(name, "C.", 2) == 0;
}

int positiveForm(bool symbolFirst, bool spaced) {
    if (symbolFirst) return spaced ? 2 : 0;
    return spaced ? 3 : 1;
}

// The sixteen negative forms, from where the locale puts the sign and the symbol.
int negativeForm(int signPosition, bool symbolFirst, bool spaced) {
    switch (signPosition) {
    case 0:  // parentheses
        return symbolFirst ? (spaced ? 14 : 0) : (spaced ? 15 : 4);
    case 2:  // sign after number and symbol
        return symbolFirst ? (spaced ? 11 : 3) : (spaced ? 10 : 7);
    case 3:  // sign just before the symbol
        return symbolFirst ? (spaced ? 9 : 1) : (spaced ? 13 : 6);
    case 4:  // sign just after the symbol
        return symbolFirst ? (spaced ? 12 : 2) : (spaced ? 10 : 7);
    default:  // 1 and unspecified: sign before number and symbol
        return symbolFirst ? (spaced ? 9 : 1) : (spaced ? 8 : 5);
    }
}

// "%d.%m.%Y" -> "dd.mm.yyyy"
std::string shortDateFrom(const char* format) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (*p != '%' || !p[1]) {
            out += *p;
            continue;
        }
        switch (*++p) {
        case 'd': out += "dd"; break;
        case 'e': out += "d"; break;
        case 'm': out += "mm"; break;
        case 'y': out += "yy"; break;
        case 'Y': out += "yyyy"; break;
        case 'D': out += "mm/dd/yy"; break;
        case 'F': out += "yyyy-mm-dd"; break;
        default: out += '%'; out += *p; break;
        }
    }
    return out;
}

}  // namespace

RegionalSettings userRegionalSettings() {
    RegionalSettings s;
    const lconv* lc = std::localeconv();
    if (!isPlainLocale(LC_MONETARY)) {
        s.currencyString = lc->currency_symbol;
        const bool first = lc->p_cs_precedes != CHAR_MAX && lc->p_cs_precedes;
        const bool spaced = lc->p_sep_by_space != CHAR_MAX && lc->p_sep_by_space;
        s.currencyFormat = positiveForm(first, spaced);
        const bool negFirst = lc->n_cs_precedes == CHAR_MAX ? first : lc->n_cs_precedes != 0;
        const bool negSpaced = lc->n_sep_by_space == CHAR_MAX ? spaced : lc->n_sep_by_space != 0;
        s.negCurrFormat = negativeForm(lc->n_sign_posn == CHAR_MAX ? 1 : lc->n_sign_posn, negFirst, negSpaced);
    }
    if (!isPlainLocale(LC_NUMERIC)) {
        if (*lc->decimal_point) s.decimalSeparator = lc->decimal_point;
        s.thousandSeparator = lc->thousands_sep;
    }
    if (!isPlainLocale(LC_TIME)) s.shortDateFormat = shortDateFrom(nl_langinfo(D_FMT));
    return s;
}

}  // namespace quill::platform
