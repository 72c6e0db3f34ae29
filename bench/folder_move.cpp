// Moving a template's data folder into place: our rename-only move against the
// peer that copies the tree and deletes the source, on the same file system.
#include "workspace/change/file_ops.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 25;
constexpr std::size_t kFileSize = 256 * 1024;

// A scratch folder on the same file system as the temp folder, removed afterwards.
struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "quill-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~Scratch() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

void buildTree(const std::string& root) {
    const std::string content(kFileSize, 'q');
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = root + "/sub" + std::to_string(d);
        fs::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            std::ofstream(folder + "/file" + std::to_string(f) + ".dat", std::ios::binary) << content;
        }
    }
}

template <typename Work>
double millisecondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    constexpr int kRounds = 3;
    double ours = 0, peer = 0;
    for (int round = 0; round < kRounds; ++round) {
        Scratch dir;
        buildTree(dir / "a");
        buildTree(dir / "b");
        ours += millisecondsOf([&] { quill::moveFolder(dir / "a", dir / "data/db"); });
        peer += millisecondsOf([&] {
            fs::copy(dir / "b", dir / "data/db2", fs::copy_options::recursive);
            fs::remove_all(dir / "b");
        });
    }
    const double mb = kFolders * kFilesPerFolder * kFileSize / 1048576.0;
    std::printf("folder move of %d files, %.0f MiB, mean of %d rounds\n", kFolders * kFilesPerFolder, mb, kRounds);
    std::printf("  moveFolder (rename each file): %8.2f ms\n", ours / kRounds);
    std::printf("  copy tree and delete (peer):   %8.2f ms\n", peer / kRounds);
    std::printf("  ratio peer/ours:               %8.1fx\n", peer / ours);
    return 0;
}
