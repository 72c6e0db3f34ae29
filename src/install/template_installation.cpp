#include "install/template_installation.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/app/failures.h"
#include "workspace/change/file_ops.h"
#include "workspace/change/folder_change.h"
#include "workspace/app/names.h"
#include "workspace/change/reserved_names.h"
#include "workspace/transfer/zip_names.h"
#include "workspace/transfer/zip_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <optional>
#include <random>

namespace quill {

namespace {

constexpr int kWorkFolders = 100;  // tmp0 to tmp99

// A name beside `path` that nothing uses yet, for keeping the old file until
// the new one is in place.
std::string freeNameBeside(const std::string& folder, const std::string& name) {
    for (int k = 0;; ++k) {
        std::string candidate = folder + "." + name + ".keep" + std::to_string(k);
        if (!platform::pathExists(candidate)) return candidate;
    }
}

// Swaps the unpacked db.fdb and db folder in for the installed ones and commits
// the change. The new database is copied before anything old is touched; then
// one burst of renames moves the installed pair into the backup, where it
// takes the place of the previous backup, and the new pair into place.
void putTemplateInPlace(FolderChange& change, const std::string& workFolder) {
    const std::string newDatabase = workFolder + "db.fdb";
    const std::string newDataFolder = workFolder + "db";
    const std::string database = AppDbDir + "db.fdb";
    const std::string dataFolder = DataDir + "db";
    const std::string databaseBackupFolder = templateBackupFolder(AppDbDir);
    const std::string dataBackupFolder = templateBackupFolder(DataDir);
    const std::string databaseBackup = databaseBackupFolder + "db.fdb";
    const std::string dataBackup = dataBackupFolder + "db";

    // Checked before anything old is touched, with the text the move would give.
    if (!platform::folderExists(newDataFolder)) throw AppError("The specified path was not found");

    const bool oldDatabase = platform::pathExists(database);
    const bool oldData = platform::pathExists(dataFolder);
    FolderChange::Burst swap;
    // The backup is one installation's pair: once there is something to keep,
    // the previous pair goes, both halves, on commit. The data folders first:
    // the old one is the likeliest to be held, and then no database has moved.
    if (oldDatabase || oldData) {
        if (platform::pathExists(dataBackup)) swap.keepAside(dataBackup, freeNameBeside(workFolder, "db"));
        if (platform::pathExists(databaseBackup)) {
            swap.keepAside(databaseBackup, freeNameBeside(databaseBackupFolder, "db.fdb"));
        }
    }
    if (oldData) {
        if (!platform::pathExists(dataBackupFolder)) swap.makeFolder(dataBackupFolder);
        swap.move(dataFolder, dataBackup);
    }
    if (oldDatabase) {
        if (!platform::pathExists(databaseBackupFolder)) swap.makeFolder(databaseBackupFolder);
        swap.move(database, databaseBackup);
    }
    // Copied now, renamed in with the burst.
    change.copy(newDatabase, database, swap);
    swap.move(newDataFolder, dataFolder);
    try {
        change.commit(swap);
    } catch (const AppError&) {
        // An old data folder that will not give way has always been reported so.
        if (oldData && platform::pathExists(dataFolder) && !platform::pathExists(dataBackup)) {
            throw AppError("The specified directory already exists");
        }
        throw;
    }
}

// This installation's own work folder, DataDir + "tmp<n>/" for a number drawn
// at random, or the next one up (tmp99 wraps to tmp0) while that one is taken:
// a folder an earlier run left behind is neither merged into this one nor
// deleted with it. A missing DataDir is made first, as part of the change.
// Raises when all hundred are taken, or a folder cannot be made.
std::string createWorkFolder(FolderChange& change) {
    if (!platform::pathExists(DataDir)) change.makeFolder(DataDir);
    std::mt19937 random(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    const int first = std::uniform_int_distribution<int>(0, kWorkFolders - 1)(random);
    for (int k = 0; k < kWorkFolders; ++k) {
        const std::string folder = DataDir + "tmp" + std::to_string((first + k) % kWorkFolders);
        if (platform::pathExists(folder)) continue;
        change.makeWorkFolder(folder);
        return folder + platform::kSeparator;
    }
    throw AppError("Cannot create folder \"" + DataDir + "tmp" + std::to_string(first) + "\". " +
                   platform::systemErrorText(EEXIST));
}

// The room the whole installation takes: the archive unpacked into the work
// folder, and the copy of its database beside the installed one.
void checkRoomForTemplate(const ZipReader& reader, const std::string& archive) {
    std::uint64_t database = 0;
    for (const ZipEntry& entry : reader.entries()) {
        if (entryPath(entry.name) == "db.fdb") database = std::max<std::uint64_t>(database, entry.uncompressedSize);
    }
    checkFreeSpace({{DataDir, reader.declaredSize(), reader.count()}, {AppDbDir, database, 1}}, archive);
}

}  // namespace

std::string templateBackupFolder(const std::string& folder) { return folder + "backup" + platform::kSeparator; }

std::string templateArchiveName(const std::string& fileName) {
    const std::string zip = changeFileExt(fileName, ".zip");
    // This file system tells case apart, so "Sales.ZIP" must stay what it is.
    const bool sameIgnoringCase = zip.size() == fileName.size() &&
        std::equal(zip.begin(), zip.end(), fileName.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    return sameIgnoringCase ? fileName : zip;
}

std::string installTemplate(Screen& screen, const std::string& downloadedFile, const SignedFile* verifiedArchive) {
    std::string result;
    InputBlockScope blockInput(screen);
    BusyPointerScope busy(screen);
    AppDbDir = AppDir + "db" + platform::kSeparator;

    // A template that does not fit is refused before anything is written, the
    // journal included.
    const std::string archive = templateArchiveName(downloadedFile);
    ZipReader reader;
    const bool fits = reportingOwnErrors(screen, [&] {
        if (verifiedArchive)
            reader.open(verifiedArchive->descriptor(), archive);
        else
            reader.open(archive);
        refuseNamesKeptForItself(reader.entries(), ChangeKind::Installation);
        checkRoomForTemplate(reader, archive);
    });
    if (!fits) return result;

    // The old data folder and database stay until the new ones are ready, and
    // whatever this run made goes when the change ends, however it ends.
    std::optional<FolderChange> change;
    std::string workFolder;
    const bool ready = reportingOwnErrors(screen, [&] {
        change.emplace(AppDir, ChangeKind::Installation);
        workFolder = createWorkFolder(*change);
    });
    if (!ready) return result;

    screen.processMessages();

    reportingOwnErrors(screen, [&] {
        reader.extractAll(workFolder, [](const ZipEntry& entry) {
            const std::string path = entryPath(entry.name);
            return path == "db.fdb" ? AppDbDir + path : DataDir + path;  // where putTemplateInPlace puts it
        });
        screen.processMessages();
        if (!platform::fileExists(workFolder + "db.fdb")) return;
        screen.processMessages();
        putTemplateInPlace(*change, workFolder);
        result = "db";
    });
    return result;
}

}  // namespace quill
