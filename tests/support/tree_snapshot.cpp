#include "support/tree_snapshot.h"

#include "support/temp_folder.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace quill::testing {

namespace {

unsigned defaultFileMode() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string withMode(unsigned mode, const std::string& bytes) {
    if ((mode & S_IWUSR) == 0) return "[read-only] " + bytes;
    if (mode == defaultFileMode()) return bytes;
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode);
    return std::string("[mode ") + octal + "] " + bytes;
}

TreeSnapshot snapshotTree(const std::string& folder) {
    TreeSnapshot tree;
    if (!fs::is_directory(folder)) return tree;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), folder).generic_string();
        if (it->is_directory()) {
            tree[relative + "/"] = "";
            continue;
        }
        struct stat st {};
        ::stat(it->path().c_str(), &st);
        tree[relative] = withMode(st.st_mode & 07777, readFile(it->path().string()));
    }
    return tree;
}

std::string treeDifferences(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::string out;
    for (const auto& [path, bytes] : before) {
        const auto found = after.find(path);
        if (found == after.end()) out += "removed: " + path + "\n";
        else if (found->second != bytes) out += "changed: " + path + "\n";
    }
    for (const auto& [path, bytes] : after) {
        if (!before.count(path)) out += "added: " + path + "\n";
    }
    return out;
}

unsigned underUmask(unsigned mode) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mode & ~mask;
}

}  // namespace quill::testing
