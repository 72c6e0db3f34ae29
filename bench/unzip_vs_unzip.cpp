// Unpacking a large archive of many deflated entries: our reader against
// Debian's `unzip -o -q` on the same archive, side by side in one run.
// Usage: bench_unzip_vs_unzip [MiB=256] [entries=5000] [rounds=3]
#include "bench_support.h"
#include "vendorkit/zip_writer.h"
#include "workspace/transfer/zip_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace quill::bench;

// Text-like bytes that deflate about as well as real program and data files.
void fillEntry(std::string& out, std::size_t size, unsigned& seed) {
    static const char* const words[] = {"template", "organizer", "record", "quillary", "field", "value", "index",
                                        "catalogue", "data", "page", "\r\n", "0x3F2A", "42", "name=", "<td>", "</td>"};
    out.clear();
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        if ((seed >> 24) < 40) out += static_cast<char>(seed >> 8);  // some noise
        out += words[(seed >> 16) % 16];
        out += ' ';
    }
    out.resize(size);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::size_t entries = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 5000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-unzip-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const std::string folder = pattern + "/";
    const std::string archive = folder + "big.zip";

    const std::size_t entrySize = mib * 1024 * 1024 / std::max<std::size_t>(entries, 1);
    {
        quill::vendorkit::ZipWriter zip(archive);
        std::string data;
        unsigned seed = 1;
        for (std::size_t i = 0; i < entries; ++i) {
            if (i % 100 == 0) zip.addFolder("d" + std::to_string(i / 100) + "/");
            fillEntry(data, entrySize, seed);
            zip.addFile("d" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".dat", data);
        }
    }
    std::printf("archive: %zu entries of %zu bytes (%zu MiB unpacked), %.1f MiB packed\n", entries, entrySize,
                entries * entrySize >> 20, static_cast<double>(std::filesystem::file_size(archive)) / (1 << 20));

    const std::string ours = folder + "ours/";
    const std::string peer = folder + "peer/";
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(peer);
    Run bestOurs{1e9, 0, true}, bestPeer{1e9, 0, true};
    // A first round of each fills the page cache and the target trees; then both overwrite.
    for (int round = 0; round <= rounds; ++round) {
        Run a = inChild([&] { quill::unpackArchive(archive, ours); });
        Run b = command({"unzip", "-o", "-q", archive, "-d", peer});
        if (!a.ok || !b.ok) {
            std::fprintf(stderr, "a run failed (ours %d, unzip %d)\n", a.ok, b.ok);
            return 1;
        }
        if (round == 0) continue;
        std::printf("round %d: ours %.3f s (cpu %.3f s), unzip %.3f s (cpu %.3f s)\n", round, a.seconds, a.cpuSeconds,
                    b.seconds, b.cpuSeconds);
        if (a.seconds < bestOurs.seconds) bestOurs.seconds = a.seconds;
        if (b.seconds < bestPeer.seconds) bestPeer.seconds = b.seconds;
        if (round == 1 || a.cpuSeconds < bestOurs.cpuSeconds) bestOurs.cpuSeconds = a.cpuSeconds;
        if (round == 1 || b.cpuSeconds < bestPeer.cpuSeconds) bestPeer.cpuSeconds = b.cpuSeconds;
        bestOurs.peakKiB = std::max(bestOurs.peakKiB, a.peakKiB);
        bestPeer.peakKiB = std::max(bestPeer.peakKiB, b.peakKiB);
    }
    std::printf("best: ours %.3f s, unzip -o -q %.3f s, ratio %.3f (limit 0.90)\n", bestOurs.seconds, bestPeer.seconds,
                bestOurs.seconds / bestPeer.seconds);
    std::printf("best cpu: ours %.3f s, unzip %.3f s, ratio %.3f\n", bestOurs.cpuSeconds, bestPeer.cpuSeconds,
                bestOurs.cpuSeconds / bestPeer.cpuSeconds);
    std::printf("peak memory: ours %.1f MiB (limit 64), unzip %.1f MiB\n", bestOurs.peakKiB / 1024.0,
                bestPeer.peakKiB / 1024.0);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
