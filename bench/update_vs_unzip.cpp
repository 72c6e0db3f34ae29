// A program update from loopback against `unzip -o -q` of the same archive over
// a copy of the same folder. The fetch and the fixed 50 ms pauses are measured
// on their own and taken out of the update's time. Printed beside it: how long
// the update leaves the folder mixed, from its burst's records to its last rename.
//   bench_update_vs_unzip [entries, default 1000] [archive MiB, default 100] [rounds, default 1]
#include "bench_support.h"
#include "platform/files.h"
#include "update/program_update.h"
#include "vendorkit/http_server.h"
#include "vendorkit/zip_writer.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/change/change_journal.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/names.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quill;

namespace {

using namespace quill::bench;

// CPU seconds of this thread, or of the finished child processes: what the
// work itself costs, whatever else the shared machine is doing.
double threadCpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double childrenCpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string entryName(int i) { return i % 4 == 0 ? "plugins/p" + std::to_string(i) + ".dll" : "file" + std::to_string(i) + ".bin"; }

std::string programBytes(std::mt19937_64& random, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t k = 0; k < size; ++k) out[k] = k % 16 == 0 ? 'A' : static_cast<char>(random());
    return out;
}

void buildArchive(const std::string& path, int entries, std::size_t totalBytes) {
    std::mt19937_64 random(7);
    vendorkit::ZipWriter zip(path);
    zip.addFolder("plugins/");
    for (int i = 1; i < entries; ++i) zip.addFile(entryName(i), programBytes(random, totalBytes / entries));
    zip.finish();
}

// The installed program: every other file of the update exists in an older version.
void prepareAppFolder(const std::string& app, int entries) {
    fs::remove_all(app);
    fs::create_directories(app + "upgr_bak");
    fs::create_directories(app + "plugins");
    for (int i = 1; i < entries; i += 2) writeFile(app + entryName(i), "old version of " + entryName(i));
}

// The journal's points with its size at each: the burst's records arrive in
// the one write that grows it most, each rename is a point that leaves it as
// it is, and the commit grows it again.
struct JournalClock {
    static inline std::string journal;
    static inline std::vector<std::pair<std::chrono::steady_clock::time_point, long long>> points;

    static void onPoint() {
        struct stat st {};
        points.emplace_back(std::chrono::steady_clock::now(), ::stat(journal.c_str(), &st) == 0 ? st.st_size : -1);
    }

    static double mixedMilliseconds() {
        std::size_t burst = 0;
        long long biggest = 0;
        for (std::size_t i = 1; i < points.size(); ++i) {
            const long long growth = points[i].second - points[i - 1].second;
            if (growth > biggest) biggest = growth, burst = i;
        }
        std::size_t lastRename = burst;
        while (lastRename + 1 < points.size() && points[lastRename + 1].second == points[burst].second) ++lastRename;
        return std::chrono::duration<double, std::milli>(points[lastRename].first - points[burst].first).count();
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::stoi(argv[1]) : 1000;
    const std::size_t mebibytes = argc > 2 ? std::stoul(argv[2]) : 100;
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 1;
    try {
        char pattern[] = "/tmp/quill-bench-update-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        const std::string root = std::string(pattern) + "/";
        const std::string archive = root + "update.zip";
        buildArchive(archive, entries, mebibytes << 20);
        std::printf("archive: %d entries, %.1f MiB\n", entries, fs::file_size(archive) / 1048576.0);

        vendorkit::HttpServer server;
        server.serveFile("/update/update.zip", archive);
        HttpClient http;

        // The fixed pauses: one after the download and one per entry.
        const int pauses = entries + 1;
        const int samples = std::min(pauses, 100);
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < samples; ++i) platform::sleepMilliseconds(50);
        const double pauseSeconds = secondsSince(start) / samples * pauses;

        double bestOursCpu = 1e9, bestUnzipCpu = 1e9;
        const auto runOurs = [&] {
            // The update streams its download to a file; so does this measurement.
            auto begin = std::chrono::steady_clock::now();
            double cpu = threadCpuSeconds();
            {
                OutputFile out(root + "fetched.zip");
                FileSink sink(out);
                http.fetch(server.url("/update/update.zip"), sink);
                out.close();
            }
            const double fetchSeconds = secondsSince(begin);
            const double fetchCpu = threadCpuSeconds() - cpu;
            fs::remove(root + "fetched.zip");

            const std::string app = root + "ours/";
            prepareAppFolder(app, entries);
            AppDir = app;
            UpdateUrl = server.url("/update/");
            ProgramUpdate update;
            update.offeredFileName = "update.zip";
            SilentScreen screen;
            ::sync();  // no writeback left over from setting up
            JournalClock::journal = journalPath(app);
            JournalClock::points.clear();
            setJournalPointHook(JournalClock::onPoint);
            begin = std::chrono::steady_clock::now();
            cpu = threadCpuSeconds();
            update.installUpdate(screen, http);
            const double total = secondsSince(begin);
            const double workCpu = threadCpuSeconds() - cpu - fetchCpu;
            setJournalPointHook(nullptr);
            bestOursCpu = std::min(bestOursCpu, workCpu);
            if (!screen.closed) throw std::runtime_error("the update failed");
            std::printf("  update %.3f s = fetch %.3f s + pauses %.3f s + work %.3f s (work cpu %.3f s)\n", total,
                        fetchSeconds, pauseSeconds, total - fetchSeconds - pauseSeconds, workCpu);
            std::printf("  the folder mixed for %.2f ms (the burst's records on disk to its last rename)\n",
                        JournalClock::mixedMilliseconds());
            return total - fetchSeconds - pauseSeconds;
        };
        const auto runUnzip = [&] {
            const std::string peer = root + "unzip/";
            prepareAppFolder(peer, entries);
            ::sync();
            const auto begin = std::chrono::steady_clock::now();
            const double cpu = childrenCpuSeconds();
            if (std::system(("unzip -o -q '" + archive + "' -d '" + peer + "'").c_str()) != 0) {
                throw std::runtime_error("unzip failed");
            }
            const double seconds = secondsSince(begin);
            const double unzipCpu = childrenCpuSeconds() - cpu;
            bestUnzipCpu = std::min(bestUnzipCpu, unzipCpu);
            std::printf("  unzip -o -q %.3f s (cpu %.3f s)\n", seconds, unzipCpu);
            return seconds;
        };

        // The machine is shared: rounds alternate which runs first, and the best of each counts.
        double bestOurs = 1e9, bestUnzip = 1e9;
        for (int round = 0; round < rounds; ++round) {
            std::printf("round %d:\n", round + 1);
            if (round % 2 == 0) {
                bestOurs = std::min(bestOurs, runOurs());
                bestUnzip = std::min(bestUnzip, runUnzip());
            } else {
                bestUnzip = std::min(bestUnzip, runUnzip());
                bestOurs = std::min(bestOurs, runOurs());
            }
            std::fflush(stdout);
        }
        fs::remove_all(root);
        std::printf("best cpu: update work %.3f s, unzip -o -q %.3f s, ratio %.3f\n", bestOursCpu, bestUnzipCpu,
                    bestOursCpu / bestUnzipCpu);
        std::printf("best: update work %.3f s, unzip -o -q %.3f s, ratio %.3f (bound 1.1)\n", bestOurs, bestUnzip,
                    bestOurs / bestUnzip);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_update_vs_unzip: %s\n", e.what());
        return 1;
    }
}
