#include "workspace/app/path_rules.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"

#include <algorithm>

namespace quill {

namespace {

constexpr std::size_t kMaxPath = 260;

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool leavesItsFolder(std::string_view name) {
    if (name.empty()) return false;
    if (name[0] == '/' || name[0] == '\\') return true;
    if (name.size() >= 2 && isDriveLetter(name[0]) && name[1] == ':') return true;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = name.size();
        if (name.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

void checkStaysInside(const std::string& name) {
    if (leavesItsFolder(name)) throw AppError("Unsafe file name: " + name);
}

std::optional<std::string> plainRelativePath(std::string_view name) {
    if (leavesItsFolder(name)) return std::nullopt;
    std::string plain;
    std::string_view lastLevel;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        lastLevel = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!lastLevel.empty() && lastLevel != ".") {
            if (!plain.empty()) plain += platform::kSeparator;
            plain += lastLevel;
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    const bool folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
    if (folder) return plain.empty() ? plain : plain + platform::kSeparator;
    if (plain.empty() || lastLevel == ".") return std::nullopt;
    return plain;
}

std::string plainAddressName(const std::string& name) {
    const bool plainCharacters = std::none_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return ch == '\\' || c < 0x20 || c == 0x7f;
    });
    const auto plain = plainRelativePath(name);
    if (!plainCharacters || !plain || plain->empty() || plain->back() == platform::kSeparator) {
        throw AppError("Unsafe file name: " + name);
    }
    return *plain;
}

void checkPathLength(const std::string& path) {
    if (platform::toUtf16(path).size() >= kMaxPath) throw AppError("The specified path is too long");
}

void checkPathCharacters(const std::string& path) {
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || ch == '"' || ch == '<' || ch == '>' || ch == '|') throw AppError("Invalid characters in path");
    }
}

std::string folderPartOf(const std::string& path) {
    const auto cut = path.rfind(platform::kSeparator);
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string parentFolderOf(const std::string& path) {
    const auto cut = path.find_last_of(platform::kSeparator, path.size() >= 2 ? path.size() - 2 : 0);
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace quill
