// The program update: after each confirmed download, asks the update site for
// the offered version and, when it is newer, replaces the program files with it.
#pragma once

#include "workspace/transfer/http_client.h"
#include "workspace/app/screen.h"
#include "workspace/trust/signed_metadata.h"

#include <optional>
#include <string>

namespace quill {

class ProgramUpdate {
public:
    std::string offeredVersion;    // "version" of ProductSection in version.ini
    std::string offeredFileName;   // "file" of the same section
    std::optional<SignedArchive> offeredArchive;  // as version.txt signs it, with the vendor's key built in

    // Sets the process-wide decimal separator and short date format, creates
    // upgr_bak, reads upg_info.txt, then runs readInstalledVersion and
    // fetchOfferedVersion. Shows nothing unless an update runs.
    void checkForUpdate(Screen& screen, HttpClient& http);

    // CurrentVersion from AppDir + ProgramExeName's version resource; kept when there is none.
    void readInstalledVersion();

    // Replaces version.ini, reads offeredVersion and offeredFileName; runs
    // installUpdate when the offered version is newer. Never raises for the check itself.
    void fetchOfferedVersion(Screen& screen, HttpClient& http);

    // Downloads UpdateUrl + offeredFileName, backs up the files it replaces into
    // upgr_bak and unpacks it over AppDir; on success tells the user and closes
    // the main window. With a vendor key built in, only an archive that
    // offeredArchive describes is unpacked. A failed update, and one the program
    // is asked to end during, leaves AppDir and upgr_bak as they were. Never
    // raises.
    void installUpdate(Screen& screen, HttpClient& http);
};

}  // namespace quill
