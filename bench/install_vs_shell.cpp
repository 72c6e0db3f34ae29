// Installing a large template from loopback, against the same work done by
// curl, unzip, cp and mv in a shell script, measured side by side.
//   bench_install_vs_shell [archive MiB, default 256] [data files, default 10000] [rounds, default 3]
#include "bench_support.h"
#include "install/template_download.h"
#include "vendorkit/http_server.h"
#include "vendorkit/zip_writer.h"
#include "workspace/app/app_files.h"
#include "workspace/app/names.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quill;

namespace {

using namespace quill::bench;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Bytes that deflate a little, as packed database pages do: mostly noise, some text.
std::string sampleBytes(std::mt19937_64& random, std::size_t size) {
    static const std::string words = "contact address invoice order customer note date amount ";
    std::string out(size, '\0');
    std::size_t i = 0;
    while (i < size) {
        const std::size_t run = std::min<std::size_t>(size - i, 512);
        if (random() % 8 != 0) {
            for (std::size_t k = 0; k < run; ++k) out[i + k] = static_cast<char>(random());
        } else {
            for (std::size_t k = 0; k < run; ++k) out[i + k] = words[(i + k) % words.size()];
        }
        i += run;
    }
    return out;
}

void buildArchive(const std::string& path, std::size_t totalBytes, int dataFiles) {
    std::mt19937_64 random(42);
    vendorkit::ZipWriter zip(path);
    const std::size_t databaseBytes = totalBytes / 4;
    const std::size_t fileBytes = (totalBytes - databaseBytes) / static_cast<std::size_t>(dataFiles);
    zip.beginFile("db.fdb");
    for (std::size_t done = 0; done < databaseBytes; done += 1 << 20) {
        const std::string piece = sampleBytes(random, std::min<std::size_t>(1 << 20, databaseBytes - done));
        zip.write(piece.data(), piece.size());
    }
    zip.endFile();
    zip.addFolder("db/");
    for (int i = 0; i < dataFiles; ++i) {
        const std::string folder = "db/f" + std::to_string(i / 500) + "/";
        if (i % 500 == 0) zip.addFolder(folder);
        zip.addFile(folder + "item" + std::to_string(i) + ".dat", sampleBytes(random, fileBytes));
    }
    zip.finish();
}

// A fresh application folder with an installed template to be replaced.
void prepareAppFolder(const std::string& app) {
    fs::remove_all(app);
    fs::create_directories(app + "temp");
    fs::create_directories(app + "data/db/old");
    fs::create_directories(app + "db");
    writeFile(app + "db/db.fdb", "old database");
    for (int i = 0; i < 100; ++i) writeFile(app + "data/db/old/" + std::to_string(i), "old");
    writeFile(app + "data/templates.ini", "Main=db\r\n");
}

int vendorPort() {
    const auto colon = vendorHost().rfind(':');
    return colon == std::string::npos ? 80 : std::stoi(vendorHost().substr(colon + 1));
}

double runOurs(const std::string& app, HttpClient& http) {
    prepareAppFolder(app);
    AppDir = app;
    DataDir = app + "data/";
    TemplateRecord record;
    record.lines.loadFromFile(DataDir + "templates.ini");
    SilentScreen screen;
    DownloadContext context{screen, http, app + "temp/", record, 0, "Bench", [] { return std::string("bench.zip"); },
                            [] {}};
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    downloadSelectedTemplate(context);
    const double seconds = secondsSince(start);
    if (!fs::is_regular_file(app + "db/db.fdb") || !fs::is_directory(app + "data/db/f0")) {
        throw std::runtime_error("the installation did not finish");
    }
    return seconds;
}

double runShell(const std::string& app, const std::string& url) {
    prepareAppFolder(app);
    ::sync();
    const std::string script =
        "set -e; cd '" + app + "'; rm -f temp/bench.zip; curl -s -f -o temp/bench.zip '" + url + "'; "
        "rm -rf data/db; rm -f db/db.fdb; mkdir -p data/tmp7; unzip -o -q temp/bench.zip -d data/tmp7; "
        "cp data/tmp7/db.fdb db/db.fdb; mv data/tmp7/db data/db; rm -rf data/tmp7";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(("sh -c \"" + script + "\"").c_str()) != 0) throw std::runtime_error("the shell script failed");
    return secondsSince(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mebibytes = argc > 1 ? std::stoul(argv[1]) : 256;
    const int dataFiles = argc > 2 ? std::stoi(argv[2]) : 10000;
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 3;
    try {
        char pattern[] = "/tmp/quill-bench-install-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        const std::string root = std::string(pattern) + "/";
        const std::string archive = root + "bench.zip";
        buildArchive(archive, (mebibytes << 20) / 8 * 9, dataFiles);  // deflate takes about an eighth off
        std::printf("archive: %.1f MiB, db.fdb plus %d data files\n", fs::file_size(archive) / 1048576.0, dataFiles);

        // Tests of other programs may hold the vendor's port for a moment.
        std::unique_ptr<vendorkit::HttpServer> listening;
        for (int attempt = 0; !listening; ++attempt) {
            try {
                listening = std::make_unique<vendorkit::HttpServer>(vendorPort());
            } catch (const std::exception&) {
                if (attempt == 600) throw;
                ::usleep(100000);
            }
        }
        vendorkit::HttpServer& server = *listening;
        server.serveFile("/quillary-web-templates/bench.zip", archive);
        const std::string url = TemplatesUrl + "bench.zip";
        HttpClient http;

        std::vector<double> ours, shell;
        // Rounds alternate which runs first, so neither always pays for the other's writeback.
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                ours.push_back(runOurs(root + "ours/", http));
                shell.push_back(runShell(root + "shell/", url));
            } else {
                shell.push_back(runShell(root + "shell/", url));
                ours.push_back(runOurs(root + "ours/", http));
            }
            std::printf("round %d: final_inst %.3f s, shell %.3f s\n", round + 1, ours.back(), shell.back());
        }
        fs::remove_all(root);
        // The machine is shared: the best round of each says most about the work itself.
        const double a = median(ours), b = median(shell);
        const double bestA = *std::min_element(ours.begin(), ours.end());
        const double bestB = *std::min_element(shell.begin(), shell.end());
        std::printf("median: final_inst %.3f s, curl+unzip+cp+mv %.3f s, ratio %.3f\n", a, b, a / b);
        std::printf("best: final_inst %.3f s, curl+unzip+cp+mv %.3f s, ratio %.3f (bound 1.25)\n", bestA, bestB,
                    bestA / bestB);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_install_vs_shell: %s\n", e.what());
        return 1;
    }
}
