#include "update/program_update.h"

#include "platform/error.h"
#include "platform/files.h"
#include "update/file_replacement.h"
#include "workspace/byte_sink.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/names.h"
#include "workspace/path_rules.h"
#include "workspace/zip_names.h"
#include "workspace/zip_reader.h"

namespace quill {

namespace {

// offeredFileName comes from the update site: it may name a subfolder's file,
// read as an entry name is, but never one outside AppDir.
std::string localCopyPath(const std::string& name) {
    checkStaysInside(name);
    return AppDir + entryPath(name);
}

void pauseAndPump(Screen& screen) {
    platform::sleepMilliseconds(50);
    screen.processMessages();
}

}  // namespace

void ProgramUpdate::installUpdate(Screen& screen, HttpClient& http) {
    const std::string backupFolder = AppDir + "upgr_bak" + platform::kSeparator;
    std::string archive;
    bool success = false;
    InputBlockScope blockInput(screen);
    {
        ProgressWindowScope progress(screen);
        const std::string address = UpdateUrl + offeredFileName;
        FileReplacement replacement(AppDir, backupFolder);

        bool archiveCreated = false;
        ignoringErrors([&] {
            screen.setProgressBarVisible(true);
            screen.setProgressLabel("Downloading Latest Program Version...");
            screen.setProgressPosition(0);
            screen.setStatus("Downloading Latest Program Version...");
            screen.processMessages();

            archive = localCopyPath(offeredFileName);
            // An older file of that name comes back if the update fails.
            replacement.keepAside(archive);
            // Straight to disk, so the archive never sits in memory; what a failed
            // fetch got so far is what the reading below then fails on.
            OutputFile out(archive);
            archiveCreated = true;
            FileSink sink(out);
            reportingOwnErrors(screen, [&] { http.fetch(address, sink); });
            screen.setProgressPosition(50);
            pauseAndPump(screen);
            out.close();
            screen.setStatus("Extracting Latest Program Version...");

            ZipReader reader;
            reportingOwnErrors(screen, [&] {
                reader.open(archive);
                // Everything is unpacked and checked before the first file moves.
                replacement.stage(reader);
                const std::vector<ZipEntry> entries = reader.entries();
                for (const auto& entry : entries) {
                    replacement.backUp(entry.name);
                    pauseAndPump(screen);
                }
                reader.close();
                replacement.place(entries);
                success = true;
            });
            reader.close();
            screen.setProgressPosition(100);
            platform::deleteFile(archive);
        });

        if (success) {
            replacement.commit();
        } else {
            if (archiveCreated) platform::deleteFile(archive);
            replacement.rollback();
        }
    }

    if (success) {
        screen.setStatus("The program files installed successfully.");
        screen.showInformation("The program files installed successfully.");
        screen.closeMainWindow();
    } else {
        screen.setStatus("ERROR! Program Files download failed.");
    }
}

}  // namespace quill
