#include "support/temp_folder.h"

#include "platform/files.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quill::testing {

TempFolder::TempFolder(const std::string& base) {
    std::string parent = base.empty() ? fs::temp_directory_path().string() : base;
    if (parent.back() != '\\' && parent.back() != '/') parent += platform::kSeparator;
    std::random_device seed;
    std::mt19937 random(seed());
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // A new name each try until one is free, as mkdtemp does.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "quill-test-";
        for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
        if (platform::createFolder(parent + name)) {
            path_ = parent + name + platform::kSeparator;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder under " + parent);
}

// Windows has no flag that stops even an administrator.
bool setImmutable(const std::string&, bool) { return false; }

}  // namespace quill::testing
