// The update's burst under the change journal: backups into upgr_bak and new
// files into place, a few hundred renames whose records reach the disk in one
// write first. Measured against the same renames with no journal, which is the
// time the folder is mixed at the least; the commit is printed apart.
#include "platform/files.h"
#include "workspace/change/change_journal.h"
#include "workspace/change/folder_change.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 8;
constexpr int kFilesPerFolder = 40;
constexpr int kRounds = 7;

struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "quill-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path = pattern + "/";
    }
    ~Scratch() { fs::remove_all(path); }
    std::string path;
};

std::vector<std::string> entryNames() {
    std::vector<std::string> names;
    for (int d = 0; d < kFolders; ++d) {
        for (int f = 0; f < kFilesPerFolder; ++f) names.push_back("lib" + std::to_string(d) + "/part" + std::to_string(f) + ".dll");
    }
    return names;
}

// The application folder with its old files, and the new ones staged in the work folder.
void layOut(const std::string& app, const std::vector<std::string>& names) {
    for (int d = 0; d < kFolders; ++d) {
        fs::create_directories(app + "lib" + std::to_string(d));
        fs::create_directories(app + "upgr_bak/lib" + std::to_string(d));
        fs::create_directories(app + ".upgr_work0/stage/lib" + std::to_string(d));
    }
    for (const auto& name : names) {
        std::ofstream(app + name, std::ios::binary) << "old " << name;
        std::ofstream(app + ".upgr_work0/stage/" + name, std::ios::binary) << "new " << name;
    }
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The journal's points inside a burst: the first comes once its records are on
// the disk, the last after its last rename.
struct Points {
    static inline std::vector<std::chrono::steady_clock::time_point> seen;
    static void onPoint() { seen.push_back(std::chrono::steady_clock::now()); }
};

double millisecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    const std::vector<std::string> names = entryNames();
    std::vector<double> bare, burst, synced, mixed, commit, wholeSync;
    for (int round = 0; round < kRounds; ++round) {
        {
            Scratch app;
            layOut(app.path, names);
            const auto start = std::chrono::steady_clock::now();
            for (const auto& name : names) fs::rename(app.path + name, app.path + "upgr_bak/" + name);
            for (const auto& name : names) fs::rename(app.path + ".upgr_work0/stage/" + name, app.path + name);
            bare.push_back(millisecondsSince(start));
        }
        {
            Scratch app;
            layOut(app.path, names);
            quill::FolderChange change(app.path, quill::ChangeKind::Update);
            change.makeWorkFolder(app.path + ".upgr_work0");
            quill::FolderChange::Burst renames;
            for (const auto& name : names) renames.move(app.path + name, app.path + "upgr_bak/" + name);
            for (const auto& name : names) renames.move(app.path + ".upgr_work0/stage/" + name, app.path + name);
            Points::seen.clear();
            quill::setJournalPointHook(Points::onPoint);
            auto start = std::chrono::steady_clock::now();
            change.carryOut(renames);
            quill::setJournalPointHook(nullptr);
            burst.push_back(millisecondsSince(start));
            synced.push_back(millisecondsBetween(start, Points::seen.front()));
            mixed.push_back(millisecondsBetween(Points::seen.front(), Points::seen.back()));
            // Every other round: what a sync of the whole file system costs at
            // this point, as the commit did it before it synced only the folders.
            if (round % 2) {
                start = std::chrono::steady_clock::now();
                quill::platform::syncFileSystem(app.path);
                wholeSync.push_back(millisecondsSince(start));
                change.commit();
                continue;
            }
            start = std::chrono::steady_clock::now();
            change.commit();
            commit.push_back(millisecondsSince(start));
        }
    }
    const double ours = median(burst);
    const double peer = median(bare);
    std::printf("burst of %zu renames, median of %d rounds\n", names.size() * 2, kRounds);
    std::printf("  journalled, all of it:                                     %8.2f ms\n", ours);
    std::printf("    the new files' data synced, the records written and synced: %6.2f ms\n", median(synced));
    std::printf("    the folder mixed (the records on disk to the last rename): %7.2f ms\n", median(mixed));
    std::printf("  the same renames with no journal:                          %8.2f ms\n", peer);
    std::printf("  ratio, mixed to bare renames: %.2f\n", median(mixed) / peer);
    std::printf("  commit (the touched folders synced, commit recorded, work folder removed): %.2f ms\n",
                median(commit));
    std::printf("  a sync of the whole file system at that point, as the commit did before: %.2f ms\n",
                median(wholeSync));
    return 0;
}
