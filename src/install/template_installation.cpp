#include "install/template_installation.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/names.h"
#include "workspace/zip_reader.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace quill {

namespace {

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
    std::string workFolder;
    {
        BusyPointerScope busy(screen);

        std::mt19937 random(static_cast<std::mt19937::result_type>(
            std::chrono::system_clock::now().time_since_epoch().count()));
        const int n = std::uniform_int_distribution<int>(0, 99)(random);
        workFolder = DataDir + "tmp" + std::to_string(n) + platform::kSeparator;

        // The old data folder and database stay until the new ones are ready.
        ignoringErrors([&] { createFolderOrRaise(workFolder); });
        AppDbDir = AppDir + "db" + platform::kSeparator;

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
    }
    return result;
}

}  // namespace quill
