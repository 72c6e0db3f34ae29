#include "workspace/transfer/transfer_amount.h"

#include <algorithm>
#include <cstdio>

namespace quill {

namespace {

struct Unit {
    std::int64_t size;
    int decimals;
    const char* name;
};

Unit unitFor(std::int64_t bytes) {
    constexpr std::int64_t kKilo = 1024;
    if (bytes < kKilo) return {1, 0, "bytes"};
    if (bytes < kKilo * kKilo) return {kKilo, 0, "KB"};
    if (bytes < kKilo * kKilo * kKilo) return {kKilo * kKilo, 1, "MB"};
    return {kKilo * kKilo * kKilo, 1, "GB"};
}

std::string inUnit(std::int64_t bytes, const Unit& unit, bool roundDown, const std::string& separator) {
    const std::int64_t scale = unit.decimals ? 10 : 1;
    const std::int64_t tenths = roundDown ? bytes * scale / unit.size : (bytes * scale + unit.size / 2) / unit.size;
    std::string text = std::to_string(tenths / scale);
    if (unit.decimals) text += separator + std::to_string(tenths % scale);
    return text;
}

}  // namespace

std::string transferAmountText(std::int64_t received, std::int64_t total, const FormatSettings& settings) {
    received = std::max<std::int64_t>(received, 0);
    const std::string& separator = settings.decimalSeparator;
    if (total < 0) {
        const Unit unit = unitFor(received);
        return inUnit(received, unit, true, separator) + " " + unit.name;
    }
    const Unit unit = unitFor(std::max(total, received));
    const bool complete = received >= total;
    return inUnit(received, unit, !complete, separator) + " of " + inUnit(total, unit, false, separator) + " " +
           unit.name;
}

}  // namespace quill
