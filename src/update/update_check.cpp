#include "update/program_update.h"

#include "platform/files.h"
#include "platform/pe_version.h"
#include "update/version_compare.h"
#include "workspace/app_files.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/format_settings.h"
#include "workspace/names.h"

namespace quill {

void ProgramUpdate::CheckForUpdate(Screen& screen, HttpClient& IdHTTP1) {
    formatSettings().shortDateFormat = "mm/dd/yy";
    formatSettings().decimalSeparator = ".";
    ignoringErrors([&] { createFolderOrRaise(AppDir + "upgr_bak" + platform::kSeparator); });
    ignoringErrors([&] { readUpdateInfo(); });
    ReadProgramVersion();
    FetchUpdateInfo(screen, IdHTTP1);
}

void ProgramUpdate::ReadProgramVersion() {
    const auto version = platform::readFileVersion(AppDir + ProgramExeName);
    if (!version) return;
    CurrentVersion = std::to_string(version->major) + "." + std::to_string(version->minor);
}

void ProgramUpdate::FetchUpdateInfo(Screen& screen, HttpClient& IdHTTP1) {
    bool newer = false;
    ignoringErrors([&] {
        keepVersionIni(IdHTTP1, UpdateVersion, UpdateFileName);
        newer = IsNewerVersion(CurrentVersion, UpdateVersion);
    });
    if (newer) ApplyProgramUpdate(screen, IdHTTP1);
}

}  // namespace quill
