#include "update/program_update.h"

#include "platform/files.h"
#include "platform/pe_version.h"
#include "update/version_compare.h"
#include "workspace/app/app_files.h"
#include "workspace/app/failures.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/format_settings.h"
#include "workspace/app/names.h"
#include "workspace/change/reserved_names.h"

namespace quill {

void ProgramUpdate::checkForUpdate(Screen& screen, HttpClient& http) {
    formatSettings().shortDateFormat = "mm/dd/yy";
    formatSettings().decimalSeparator = ".";
    ignoringErrors([&] { createFolderOrRaise(AppDir + kUpdateBackupFolderName + platform::kSeparator); });
    ignoringErrors([&] { readUpdateInfo(); });
    readInstalledVersion();
    fetchOfferedVersion(screen, http);
}

void ProgramUpdate::readInstalledVersion() {
    const auto version = platform::readFileVersion(AppDir + ProgramExeName);
    if (!version) return;
    CurrentVersion = std::to_string(version->major) + "." + std::to_string(version->minor);
}

void ProgramUpdate::fetchOfferedVersion(Screen& screen, HttpClient& http) {
    bool newer = false;
    std::string refused;
    ignoringErrors([&] {
        const VersionOffer offer = keepVersionIni(screen, http, &refused);
        offeredVersion = offer.version;
        offeredFileName = offer.fileName;
        offeredArchive = offer.archive;
        newer = isNewerVersion(CurrentVersion, offeredVersion);
    });
    // A site that cannot be reached stays unmentioned, as ever, until what was
    // taken from it last has expired; one whose answer is refused is told,
    // since silence is what holding back a fix relies on.
    if (!refused.empty()) screen.showError(refused);
    if (newer) installUpdate(screen, http);
}

}  // namespace quill
