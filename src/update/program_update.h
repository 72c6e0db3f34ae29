// The program update: after each confirmed download, asks the update site for
// the offered version and, when it is newer, replaces the program files with it.
#pragma once

#include "workspace/http_client.h"
#include "workspace/screen.h"

#include <string>

namespace quill {

class ProgramUpdate {
public:
    std::string UpdateVersion;    // "version" of ProductSection in version.ini
    std::string UpdateFileName;   // "file" of the same section

    // Sets the process-wide decimal separator and short date format, creates
    // upgr_bak, reads upg_info.txt, then runs ReadProgramVersion and
    // FetchUpdateInfo. Shows nothing unless an update runs.
    void CheckForUpdate(Screen& screen, HttpClient& IdHTTP1);

    // CurrentVersion from AppDir + ProgramExeName's version resource; kept when there is none.
    void ReadProgramVersion();

    // Replaces version.ini, reads UpdateVersion and UpdateFileName; runs
    // ApplyProgramUpdate when the offered version is newer. Never raises for the check itself.
    void FetchUpdateInfo(Screen& screen, HttpClient& IdHTTP1);

    // Downloads UpdateUrl + UpdateFileName, backs up the files it replaces into
    // upgr_bak and unpacks it over AppDir; on success tells the user and closes
    // the main window. A failed update leaves AppDir and upgr_bak as they were.
    // Never raises.
    void ApplyProgramUpdate(Screen& screen, HttpClient& IdHTTP1);
};

}  // namespace quill
