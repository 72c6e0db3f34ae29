#include "update/program_update.h"

#include "platform/error.h"
#include "platform/files.h"
#include "update/replacement_plan.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/app/failures.h"
#include "workspace/change/file_ops.h"
#include "workspace/change/folder_change.h"
#include "workspace/app/names.h"
#include "workspace/app/path_rules.h"
#include "workspace/transfer/progress_sink.h"
#include "workspace/change/reserved_names.h"
#include "workspace/trust/signed_download.h"
#include "workspace/trust/signed_file.h"
#include "workspace/trust/vendor_key.h"
#include "workspace/transfer/zip_reader.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace quill {

namespace {

const char* const kDownloading = "Downloading Latest Program Version...";
const char* const kInstalled = "The program files installed successfully.";
const char* const kNotUnpacked = "Could not unpack the program files!";
const char* const kNotReplaced = "Could not replace the program files!";
constexpr char kSep = platform::kSeparator;

// Inside AppDir, so that every later move is a rename on one file system.
std::string freeWorkFolder() {
    for (int n = 0;; ++n) {
        const std::string candidate = AppDir + kUpdateWorkFolderStem + std::to_string(n);
        if (!platform::pathExists(candidate)) return candidate + kSep;
    }
}

void pauseAndPump(Screen& screen) {
    platform::sleepMilliseconds(50);
    screen.processMessages();
}

// One run of the update under the progress window, as one change of the
// application folder: whatever it changed comes back unless every file of the
// archive got in place, also after a killed process.
class UpdateRun {
public:
    UpdateRun(Screen& screen, HttpClient& http, const ProgramUpdate& offer)
        : screen_(screen), http_(http), fileName_(offer.offeredFileName), signed_(offer.offeredArchive) {}

    // True when the new program files are in place for good.
    bool run() {
        if (!reportingOwnErrors(screen_, [&] { change_.emplace(AppDir, ChangeKind::Update); })) return false;
        // Not getting as far as a saved archive shows nothing of its own.
        const bool saved = ignoringErrors([&] {
            showDownloadStarting();
            saveArchive();
        });
        if (!saved || screen_.endRequested()) return giveUp();
        screen_.setStatus("Extracting Latest Program Version...");
        bool replaced = false;
        reportingOwnErrors(screen_, [&] {
            try {
                replaced = replaceFiles();
            } catch (const AppError& error) {
                // The status that follows blames the download whatever failed;
                // when the download did not, the box says which step did.
                if (!downloaded_) throw;
                throw AppError(std::string(step_) + "\r\n" + error.what());
            }
        });
        screen_.setProgressPosition(100);
        return replaced || giveUp();
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
        // The site's name only forms the address ("./upd.zip" is "upd.zip").
        const std::string address = UpdateUrl + plainAddressName(fileName_);
        workFolder_ = freeWorkFolder();
        change_->makeWorkFolder(workFolder_);
        // The program's own name in its own folder: nothing the site names is
        // ever written or deleted, and the copy goes with the work folder.
        archive_ = workFolder_ + "update.zip";
        OutputFile out(archive_);
        // Opened before a byte arrives: what is unpacked is what came and was hashed.
        archiveFile_.emplace(archive_);
        FileSink file(out);
        // With the vendor's key built in, only the archive version.txt signs is taken.
        if (archivesAreSigned() && !signed_) throw AppError("The update information does not describe its archive.");
        SignedDownloadSink checked(file, signed_, plainAddressName(fileName_));
        reportingOwnErrors(screen_, [&] {
            ProgressSink sink(checked, screen_, ProgressSink::Display::Shown);
            // The download is the first half of the progress window's bar.
            sink.onProgress = [this](std::int64_t received, std::int64_t total) {
                if (total > 0) screen_.setProgressPosition(static_cast<int>(std::min(received, total) * 50 / total));
            };
            http_.fetch(address, sink);
            downloaded_ = true;
            checked.checkComplete();
            verified_ = true;
        });
        screen_.setProgressPosition(50);
        pauseAndPump(screen_);
        out.close();
    }

    // Everything is unpacked and checked before the first file moves; the
    // moves are planned during the paced step and then made in one burst.
    // False when the program is asked to end first: nothing has moved then.
    bool replaceFiles() {
        // A fetch that failed or brought other bytes than signed leaves nothing to unpack.
        if (archivesAreSigned() && !verified_) return false;
        step_ = kNotUnpacked;
        ZipReader reader;
        reader.open(archiveFile_->descriptor(), archive_);
        // Before a byte is unpacked: what the program keeps for itself is never an entry's to take.
        refuseNamesKeptForItself(reader.entries(), ChangeKind::Update);
        const std::string stage = workFolder_ + "stage" + kSep;
        createFolderOrRaise(stage);
        // An entry without a mode of its own takes that of the program file it replaces.
        reader.extractAll(stage, [](const ZipEntry& entry) { return ZipReader::targetPathFor(AppDir, entry.name); });

        step_ = kNotReplaced;
        ReplacementPlan plan(AppDir, AppDir + kUpdateBackupFolderName + kSep, workFolder_, stage);
        for (const auto& entry : reader.entries()) {
            plan.add(entry);
            pauseAndPump(screen_);
            if (screen_.endRequested()) return false;
        }
        reader.close();
        change_->commit(plan.burst());
        return true;
    }

    bool giveUp() {
        // What cannot be put back now stays in the journal for the next start.
        if (change_) ignoringErrors([&] { change_->rollBack(); });
        return false;
    }

    Screen& screen_;
    HttpClient& http_;
    const std::string fileName_;
    const std::optional<SignedArchive> signed_;
    std::optional<SignedFile> archiveFile_;
    bool verified_ = false;
    bool downloaded_ = false;  // the fetch itself ended well
    const char* step_ = kNotUnpacked;
    std::optional<FolderChange> change_;
    std::string workFolder_;
    std::string archive_;
};

}  // namespace

void ProgramUpdate::installUpdate(Screen& screen, HttpClient& http) {
    // Asked to end: no update begins that would have to be undone at once.
    if (screen.endRequested()) return;
    InputBlockScope blockInput(screen);
    bool installed = false;
    {
        ProgressWindowScope progress(screen);
        installed = UpdateRun(screen, http, *this).run();
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
