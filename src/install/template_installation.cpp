#include "install/template_installation.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/names.h"
#include "workspace/zip_reader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

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

// A rename on the same file system: nothing is copied and nothing can be half done.
bool renamePath(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    return !ec;
}

// Undoes the steps taken so far, newest first, unless the whole change went through.
class UndoList {
public:
    ~UndoList() {
        if (committed_) return;
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
    }
    void add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void commit() { committed_ = true; }

private:
    std::vector<std::function<void()>> steps_;
    bool committed_ = false;
};

void removeQuietly(const std::string& path) {
    std::error_code ec;
    platform::setNormalAttributes(path);
    fs::remove_all(path, ec);
}

// Swaps the unpacked db.fdb and db folder in for the installed ones. The old
// ones are renamed aside first and come back if any step fails.
void putTemplateInPlace(const std::string& workFolder) {
    const std::string newDatabase = workFolder + "db.fdb";
    const std::string newDataFolder = workFolder + "db";
    const std::string database = AppDbDir + "db.fdb";
    const std::string dataFolder = DataDir + "db";

    // Checked before anything old is touched, with the text the move would give.
    if (!platform::folderExists(newDataFolder)) throw AppError("The specified path was not found");

    UndoList undo;
    std::string oldDatabase;
    if (platform::pathExists(database)) {
        oldDatabase = freeNameBeside(AppDbDir, "db.fdb");
        std::error_code ec;
        fs::rename(database, oldDatabase, ec);
        if (ec) throw AppError(platform::systemErrorText(ec.value()));
        undo.add([=] { renamePath(oldDatabase, database); });
    }
    if (platform::pathExists(dataFolder)) {
        // Inside the work folder, so the clean-up takes it away after a success.
        const std::string oldDataFolder = freeNameBeside(workFolder, "db");
        if (!renamePath(dataFolder, oldDataFolder)) throw AppError("The specified directory already exists");
        undo.add([=] { renamePath(oldDataFolder, dataFolder); });
    }

    undo.add([=] { removeQuietly(database); });
    if (!platform::copyFile(newDatabase, database, true)) {
        throw AppError(platform::systemErrorText(platform::lastError()));
    }
    undo.add([=] { removeQuietly(dataFolder); });
    // One rename moves the whole tree; the file-by-file move gives the reasons when it cannot.
    if (!renamePath(newDataFolder, dataFolder)) moveFolder(newDataFolder, dataFolder);
    undo.commit();

    if (!oldDatabase.empty()) removeQuietly(oldDatabase);
}

// This installation's own work folder, DataDir + "tmp<n>/" for a number drawn
// at random, or the next one up (tmp99 wraps to tmp0) while that one is taken:
// a folder an earlier run left behind is neither merged into this one nor
// deleted with it. When the folder cannot be made for another reason (no
// DataDir yet) the unpacking makes it. Raises when all hundred are taken.
std::string createWorkFolder() {
    std::mt19937 random(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    const int first = std::uniform_int_distribution<int>(0, kWorkFolders - 1)(random);
    for (int k = 0; k < kWorkFolders; ++k) {
        const std::string folder = DataDir + "tmp" + std::to_string((first + k) % kWorkFolders);
        if (platform::createFolder(folder) || platform::lastError() != EEXIST) return folder + platform::kSeparator;
    }
    throw AppError("Cannot create folder \"" + DataDir + "tmp" + std::to_string(first) + "\". " +
                   platform::systemErrorText(EEXIST));
}

}  // namespace

std::string templateArchiveName(const std::string& fileName) {
    const std::string zip = changeFileExt(fileName, ".zip");
    // This file system tells case apart, so "Sales.ZIP" must stay what it is.
    const bool sameIgnoringCase = zip.size() == fileName.size() &&
        std::equal(zip.begin(), zip.end(), fileName.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    return sameIgnoringCase ? fileName : zip;
}

std::string installTemplate(Screen& screen, const std::string& downloadedFile) {
    std::string result;
    InputBlockScope blockInput(screen);
    BusyPointerScope busy(screen);

    // The old data folder and database stay until the new ones are ready.
    std::string workFolder;
    const bool haveWorkFolder = reportingOwnErrors(screen, [&] { workFolder = createWorkFolder(); });
    AppDbDir = AppDir + "db" + platform::kSeparator;
    if (!haveWorkFolder) return result;

    screen.processMessages();
    const std::string archive = templateArchiveName(downloadedFile);

    reportingOwnErrors(screen, [&] {
        unpackArchive(archive, workFolder);
        screen.processMessages();
        if (!platform::fileExists(workFolder + "db.fdb")) return;
        screen.processMessages();
        putTemplateInPlace(workFolder);
        result = "db";
    });

    // A work folder that was never made is no failure of its own.
    ignoringErrors([&] {
        if (platform::pathExists(workFolder)) deleteFolderTree(workFolder);
    });
    return result;
}

}  // namespace quill
