#include "catalogue/client_data_set.h"

#include "platform/codepage.h"
#include "platform/error.h"

#include <charconv>
#include <limits>

namespace quill {

namespace {

std::int64_t parseInteger(const std::string& text) {
    std::int64_t value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end)
        throw AppError("'" + text + "' is not a valid integer value");
    return value;
}

[[noreturn]] void notACurrency(const std::string& text) {
    throw AppError("'" + text + "' is not a valid currency value");
}

// A decimal text such as "-12.5" in ten-thousandths, rounded half away from zero.
// Raises as the number columns do for what the currency range cannot hold.
std::int64_t parseAmount(const std::string& text) {
    constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kLeast = std::numeric_limits<std::int64_t>::min();
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    const bool negative = !whole.empty() && whole[0] == '-';
    std::int64_t units = whole.empty() || whole == "-" || whole == "+" ? 0 : parseInteger(whole);
    for (char c : fraction)
        if (c < '0' || c > '9') throw AppError("'" + text + "' is not a valid floating point value");
    const bool roundUp = fraction.size() > 4 && fraction[4] >= '5';
    fraction.resize(4, '0');
    if (units > kMost / 10000 || units < kLeast / 10000) notACurrency(text);
    // Away from zero by the fraction and its rounding, which may step past the range.
    const std::int64_t away = std::stoll(fraction) + (roundUp ? 1 : 0);
    const std::int64_t value = units * 10000;
    if (negative ? value < kLeast + away : value > kMost - away) notACurrency(text);
    return negative ? value - away : value + away;
}

std::int64_t pow10(int n) {
    std::int64_t v = 1;
    while (n-- > 0) v *= 10;
    return v;
}

}  // namespace

void ClientDataSet::open(RowBatch rows) {
    rows_ = std::move(rows);
    index_.clear();
    for (std::size_t i = 0; i < rows_.columns.size(); ++i)
        index_.emplace(platform::foldCase(rows_.columns[i].name), i);  // the first of equal names wins
    current_ = 0;
    active_ = true;
}

void ClientDataSet::close() {
    active_ = false;
    rows_ = RowBatch();
    index_.clear();
    current_ = 0;
}

void ClientDataSet::requireActive() const {
    if (!active_) throw AppError("Cannot perform this operation on a closed dataset");
}

void ClientDataSet::first() {
    requireActive();
    current_ = 0;
}

void ClientDataSet::next() {
    requireActive();
    if (current_ < rows_.rowCount()) ++current_;
}

bool ClientDataSet::eof() const {
    requireActive();
    return current_ >= rows_.rowCount();
}

std::size_t ClientDataSet::recordCount() const {
    requireActive();
    return rows_.rowCount();
}

std::size_t ClientDataSet::columnIndex(const std::string& field) const {
    requireActive();
    const auto found = index_.find(platform::foldCase(field));
    if (found == index_.end()) throw AppError("Field '" + field + "' not found");
    return found->second;
}

std::string ClientDataSet::fieldText(const std::string& field) const {
    const std::size_t column = columnIndex(field);
    if (current_ >= rows_.rowCount()) return {};
    return rows_.textAt(current_, column);
}

std::int32_t ClientDataSet::fieldInt(const std::string& field) const {
    const std::size_t column = columnIndex(field);
    if (current_ >= rows_.rowCount()) return 0;
    const Cell& cell = rows_.at(current_, column);
    if (cell.isNull) return 0;
    const Column& c = rows_.columns[column];
    std::int64_t value = 0;
    if (c.kind == ColumnKind::Integer)
        value = cell.number;
    else if (c.kind == ColumnKind::Fixed)
        value = cell.number / pow10(c.scale);
    else
        value = parseInteger(rows_.textAt(current_, column));
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw AppError("'" + rows_.textAt(current_, column) + "' is not a valid integer value");
    return static_cast<std::int32_t>(value);
}

std::int64_t ClientDataSet::fieldAmount(const std::string& field) const {
    const std::size_t column = columnIndex(field);
    if (current_ >= rows_.rowCount()) return 0;
    const Cell& cell = rows_.at(current_, column);
    if (cell.isNull) return 0;
    const Column& c = rows_.columns[column];
    if (c.kind == ColumnKind::Integer || (c.kind == ColumnKind::Fixed && c.scale <= 4)) {
        const int shift = 4 - (c.kind == ColumnKind::Fixed ? c.scale : 0);
        const std::int64_t factor = pow10(shift);
        if (cell.number > std::numeric_limits<std::int64_t>::max() / factor ||
            cell.number < std::numeric_limits<std::int64_t>::min() / factor)
            throw AppError("'" + cell.text + "' is not a valid currency value");
        return cell.number * factor;
    }
    if (c.kind == ColumnKind::Fixed) {
        // More than four decimals: round half away from zero.
        const std::int64_t divisor = pow10(c.scale - 4);
        std::int64_t value = cell.number / divisor;
        const std::int64_t rest = cell.number % divisor;
        if (rest * 2 >= divisor) ++value;
        if (rest * 2 <= -divisor) --value;
        return value;
    }
    return parseAmount(rows_.textAt(current_, column));
}

bool ClientDataSet::locate(const std::string& field, const std::string& value) {
    const std::size_t column = columnIndex(field);
    for (std::size_t row = 0; row < rows_.rowCount(); ++row)
        if (!rows_.at(row, column).isNull && rows_.textAt(row, column) == value) {
            current_ = row;
            return true;
        }
    return false;
}

}  // namespace quill
