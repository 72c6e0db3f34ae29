#include "workspace/change/reserved_names.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/change/file_ops.h"
#include "workspace/trust/vendor_metadata.h"
#include "workspace/transfer/zip_names.h"

#include <algorithm>
#include <string_view>

namespace quill {

namespace {

const std::string kCatalogueFolderName = "temp";

// Windows opens "UPGR_BAK. " as upgr_bak: such a name must not slip past.
std::string comparable(std::string_view level) {
    while (!level.empty() && (level.back() == '.' || level.back() == ' ')) level.remove_suffix(1);
    std::string name(level);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return name;
}

bool isNumbered(const std::string& name, const std::string& stem) {
    return name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0 &&
           name.find_first_not_of("0123456789", stem.size()) == std::string::npos;
}

}  // namespace

bool isKeptForItself(const std::string& relativePath, ChangeKind kind) {
    const std::string first = comparable(std::string_view(relativePath).substr(0, relativePath.find(platform::kSeparator)));
    const std::string journal = journalPath("");
    return first == journal || first == journalDraftOf(journal) || isNumbered(first, kUpdateWorkFolderStem) ||
           first == kCatalogueFolderName || first == kSigningStateFileName ||
           isDraftName(first, kSigningStateFileName) || (kind == ChangeKind::Update && first == kUpdateBackupFolderName);
}

void refuseNamesKeptForItself(const std::vector<ZipEntry>& entries, ChangeKind kind) {
    for (const ZipEntry& entry : entries) {
        if (!isKeptForItself(entryPath(entry.name), kind)) continue;
        throw AppError(std::string(kind == ChangeKind::Update ? "The update" : "The template") +
                       " names a file the program keeps for itself: " + entry.name);
    }
}

}  // namespace quill
