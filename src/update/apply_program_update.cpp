#include "update/program_update.h"

#include "platform/files.h"
#include "update/file_replacement.h"
#include "workspace/byte_sink.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/names.h"
#include "workspace/path_rules.h"
#include "workspace/progress_sink.h"
#include "workspace/zip_names.h"
#include "workspace/zip_reader.h"

#include <algorithm>
#include <cstdint>

namespace quill {

namespace {

const char* const kDownloading = "Downloading Latest Program Version...";
const char* const kInstalled = "The program files installed successfully.";

// The file name comes from the update site: it may name a subfolder's file,
// read as an entry name is, but never one outside AppDir.
std::string localCopyPath(const std::string& name) {
    checkStaysInside(name);
    return AppDir + entryPath(name);
}

void pauseAndPump(Screen& screen) {
    platform::sleepMilliseconds(50);
    screen.processMessages();
}

// One run of the update under the progress window. Whatever it changed in the
// application folder comes back unless every file of the archive got in place.
class UpdateRun {
public:
    UpdateRun(Screen& screen, HttpClient& http, const std::string& fileName)
        : screen_(screen), http_(http), fileName_(fileName),
          replacement_(AppDir, AppDir + "upgr_bak" + platform::kSeparator) {}

    // True when the new program files are in place for good.
    bool run() {
        // Not getting as far as a saved archive shows nothing of its own.
        const bool saved = ignoringErrors([&] {
            showDownloadStarting();
            saveArchive();
        });
        if (!saved) return giveUp();
        screen_.setStatus("Extracting Latest Program Version...");
        const bool replaced = reportingOwnErrors(screen_, [&] { replaceFiles(); });
        screen_.setProgressPosition(100);
        platform::deleteFile(archive_);
        if (!replaced) return giveUp();
        replacement_.commit();
        return true;
    }

private:
    void showDownloadStarting() {
        screen_.setProgressBarVisible(true);
        screen_.setProgressLabel(kDownloading);
        screen_.setProgressPosition(0);
        screen_.setStatus(kDownloading);
        screen_.processMessages();
    }

    // Straight to disk, so the archive never sits in memory. A failed fetch is
    // shown and leaves what it got for the reading to fail on; a copy that
    // cannot be made or written raises.
    void saveArchive() {
        archive_ = localCopyPath(fileName_);
        // An older file of that name comes back if the update fails.
        replacement_.keepAside(archive_);
        OutputFile out(archive_);
        archiveCreated_ = true;
        FileSink target(out);
        reportingOwnErrors(screen_, [&] {
            ProgressSink sink(target, screen_, ProgressSink::Display::Shown);
            // The download is the first half of the progress window's bar.
            sink.onProgress = [this](std::int64_t received, std::int64_t total) {
                if (total > 0) screen_.setProgressPosition(static_cast<int>(std::min(received, total) * 50 / total));
            };
            http_.fetch(UpdateUrl + fileName_, sink);
        });
        screen_.setProgressPosition(50);
        pauseAndPump(screen_);
        out.close();
    }

    // Everything is unpacked and checked before the first file moves.
    void replaceFiles() {
        ZipReader reader;
        reader.open(archive_);
        replacement_.stage(reader);
        const std::vector<ZipEntry> entries = reader.entries();
        for (const auto& entry : entries) {
            replacement_.backUp(entry.name);
            pauseAndPump(screen_);
        }
        reader.close();
        replacement_.place(entries);
    }

    bool giveUp() {
        if (archiveCreated_) platform::deleteFile(archive_);
        replacement_.rollback();
        return false;
    }

    Screen& screen_;
    HttpClient& http_;
    const std::string fileName_;
    FileReplacement replacement_;
    std::string archive_;
    bool archiveCreated_ = false;
};

}  // namespace

void ProgramUpdate::installUpdate(Screen& screen, HttpClient& http) {
    InputBlockScope blockInput(screen);
    bool installed = false;
    {
        ProgressWindowScope progress(screen);
        installed = UpdateRun(screen, http, offeredFileName).run();
    }
    if (!installed) {
        screen.setStatus("ERROR! Program Files download failed.");
        return;
    }
    screen.setStatus(kInstalled);
    screen.showInformation(kInstalled);
    screen.closeMainWindow();
}

}  // namespace quill
