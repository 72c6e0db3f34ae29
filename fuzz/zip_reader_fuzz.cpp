// Any bytes as an archive: opening and unpacking must end in an AppError or
// in files inside the target folder, never in a crash or a write elsewhere.
// The seeds are archives real tools wrote (Zip64, from a pipe, encrypted);
// an input that starts with "PK" is taken as it is.
#include "platform/error.h"
#include "workspace/transfer/zip_reader.h"

// Compiled in here rather than taken from the library, so that the fuzzer's
// coverage instrumentation sees the reader's branches.
#include "../src/workspace/app/path_rules.cpp"
#include "../src/workspace/transfer/zip_names.cpp"
#include "../src/workspace/transfer/zip_reader.cpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr std::size_t kMaxEntries = 64;
constexpr std::uint32_t kMaxEntrySize = 1 << 20;

const std::string& workFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "zip-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern + "/";
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string archive = workFolder() + "input.zip";
    const std::string out = workFolder() + "out/";
    // An odd first byte asks for an end record of our making, so most inputs get
    // past the end-record search into the directory and entry code.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (size >= 4 && (data[0] & 1)) {
        const std::uint32_t directory = (data[2] | (data[3] << 8)) % size;
        const unsigned char end[22] = {'P', 'K', 5, 6, 0, 0, 0, 0, data[1], 0, data[1], 0, 0, 0, 0, 0,
                                       static_cast<unsigned char>(directory), static_cast<unsigned char>(directory >> 8),
                                       0, 0, 0, 0};
        bytes.append(reinterpret_cast<const char*>(end), sizeof end);
    }
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    } else {
        std::abort();
    }
    try {
        quill::ZipReader reader;
        reader.open(archive);
        for (std::size_t i = 0; i < reader.count() && i < kMaxEntries; ++i) {
            const quill::ZipEntry& e = reader.entry(i);
            if (e.uncompressedSize > kMaxEntrySize) continue;
            try {
                // A file to take the mode of, as the update names the one each entry replaces.
                reader.extract(i, out, [](const quill::ZipEntry&) { return workFolder() + "input.zip"; });
            } catch (const quill::AppError&) {
            }
        }
    } catch (const quill::AppError&) {
    }
    // A name that climbed one level out of the target would show up here.
    for (const auto& e : std::filesystem::directory_iterator(workFolder())) {
        const std::string name = e.path().filename().string();
        if (name != "input.zip" && name != "out") std::abort();
    }
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    return 0;
}
