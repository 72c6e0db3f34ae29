// Fetching a large body from a loopback server: our client into a file against
// the `curl` command line into a file, side by side in one run; the same fetch
// checked against a signed entry (cut at its size, hashed as it arrives); and
// our client into memory with its peak memory.
// Usage: bench_fetch_vs_curl [MiB=256] [rounds=3]
#include "bench_support.h"
#include "vendorkit/http_server.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/change/file_ops.h"
#include "workspace/transfer/http_client.h"
#include "workspace/trust/signed_download.h"

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

// The server runs in a process of its own, so the measured children fork from a
// process without threads and share no CPU time with it but through the kernel.
pid_t startServer(const std::string& file, int& port, int& stopFd, std::size_t bytesPerSecond = 0) {
    int portPipe[2], stopPipe[2];
    if (pipe(portPipe) != 0 || pipe(stopPipe) != 0) std::exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        close(portPipe[0]);
        close(stopPipe[1]);
        quill::vendorkit::HttpServer server;
        server.serveFile("/big.bin", file);
        server.throttle(bytesPerSecond);
        int p = server.port();
        (void)!write(portPipe[1], &p, sizeof p);
        char c;
        (void)!read(stopPipe[0], &c, 1);  // returns when the parent closes its end
        server.stop();
        _exit(0);
    }
    close(portPipe[1]);
    close(stopPipe[0]);
    if (read(portPipe[0], &port, sizeof port) != sizeof port) std::exit(1);
    close(portPipe[0]);
    stopFd = stopPipe[1];
    return pid;
}

void fetchToFile(const std::string& url, const std::string& file) {
    quill::HttpClient client;
    quill::OutputFile out(file);
    quill::FileSink sink(out);
    client.fetch(url, sink);
    out.close();
}

void fetchCheckedToFile(const std::string& url, const std::string& file, const quill::SignedArchive& entry) {
    quill::HttpClient client;
    quill::OutputFile out(file);
    quill::FileSink target(out);
    quill::SignedDownloadSink sink(target, entry, "big.bin");
    client.fetch(url, sink);
    out.close();
    sink.checkComplete();
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-fetch-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const std::string folder = pattern + "/";
    const std::string body = folder + "body.bin";
    const std::size_t bodySize = mib * 1024 * 1024;
    quill::SignedArchive entry{bodySize, {}};
    {
        quill::OutputFile out(body);
        quill::Sha256 hash;
        std::vector<char> block(1 << 20);
        unsigned seed = 7;
        for (std::size_t done = 0; done < bodySize; done += block.size()) {
            for (auto& c : block) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
            const std::size_t size = std::min(block.size(), bodySize - done);
            out.write(block.data(), size);
            hash.add(block.data(), size);
        }
        out.close();
        entry.sha256 = hash.hex();
    }
    int port = 0, stopFd = -1;
    pid_t server = startServer(body, port, stopFd);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    std::printf("body: %zu MiB from %s\n", mib, url.c_str());

    const std::string oursFile = folder + "ours.bin";
    const std::string peerFile = folder + "peer.bin";
    Run bestFile{1e9, 0, true}, bestPeer{1e9, 0, true}, bestMemory{1e9, 0, true}, bestChecked{1e9, 0, true};
    long memoryPeak = 0;
    for (int round = 0; round <= rounds; ++round) {
        Run a = inChild([&] { fetchToFile(url, oursFile); });
        Run b = command({"curl", "-s", "-o", peerFile, url});
        Run d = inChild([&] { fetchCheckedToFile(url, oursFile, entry); });
        Run c = inChild([&] {
            quill::HttpClient client;
            quill::MemorySink sink;
            client.fetch(url, sink);
            if (sink.bytes.size() != bodySize) throw std::runtime_error("short body");
        });
        if (!a.ok || !b.ok || !c.ok || !d.ok) {
            std::fprintf(stderr, "a run failed (file %d, curl %d, memory %d, checked %d)\n", a.ok, b.ok, c.ok, d.ok);
            close(stopFd);
            waitpid(server, nullptr, 0);
            return 1;
        }
        if (round == 0) continue;  // warms the page cache
        std::printf("round %d: ours to file %.3f s (cpu %.3f s), checked %.3f s (cpu %.3f s), curl %.3f s (cpu %.3f s), "
                    "ours to memory %.3f s\n",
                    round, a.seconds, a.cpuSeconds, d.seconds, d.cpuSeconds, b.seconds, b.cpuSeconds, c.seconds);
        if (round == 1 || d.cpuSeconds < bestChecked.cpuSeconds) bestChecked.cpuSeconds = d.cpuSeconds;
        bestChecked.seconds = std::min(bestChecked.seconds, d.seconds);
        if (round == 1 || a.cpuSeconds < bestFile.cpuSeconds) bestFile.cpuSeconds = a.cpuSeconds;
        if (round == 1 || b.cpuSeconds < bestPeer.cpuSeconds) bestPeer.cpuSeconds = b.cpuSeconds;
        bestFile.seconds = std::min(bestFile.seconds, a.seconds);
        bestPeer.seconds = std::min(bestPeer.seconds, b.seconds);
        bestMemory.seconds = std::min(bestMemory.seconds, c.seconds);
        bestFile.peakKiB = std::max(bestFile.peakKiB, a.peakKiB);
        memoryPeak = std::max(memoryPeak, c.peakKiB);
    }
    close(stopFd);
    waitpid(server, nullptr, 0);

    // The same two over a line as fast as a good connection to the vendor's
    // host, where the hash runs while the bytes wait on the network.
    const std::size_t line = 100u << 20;
    server = startServer(body, port, stopFd, line);
    const std::string lineUrl = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    const Run plainOnLine = inChild([&] { fetchToFile(lineUrl, oursFile); });
    const Run checkedOnLine = inChild([&] { fetchCheckedToFile(lineUrl, oursFile, entry); });
    close(stopFd);
    waitpid(server, nullptr, 0);
    if (std::filesystem::file_size(oursFile) != bodySize) {
        std::fprintf(stderr, "our file has the wrong size\n");
        return 1;
    }
    std::printf("best into a file: ours %.3f s, curl -s -o %.3f s, ratio %.3f (limit 1.10)\n", bestFile.seconds,
                bestPeer.seconds, bestFile.seconds / bestPeer.seconds);
    std::printf("best cpu into a file: ours %.3f s, curl %.3f s, ratio %.3f\n", bestFile.cpuSeconds, bestPeer.cpuSeconds,
                bestFile.cpuSeconds / bestPeer.cpuSeconds);
    std::printf("checked against its signed entry (size cut, SHA-256 as it arrives), on loopback: %.3f s against "
                "%.3f s, +%.1f%%; cpu %.3f s against %.3f s\n",
                bestChecked.seconds, bestFile.seconds, (bestChecked.seconds / bestFile.seconds - 1) * 100,
                bestChecked.cpuSeconds, bestFile.cpuSeconds);
    std::printf("checked against its signed entry, over a 100 MiB/s line: %.3f s against %.3f s, +%.1f%% (goal under "
                "10%%)\n",
                checkedOnLine.seconds, plainOnLine.seconds, (checkedOnLine.seconds / plainOnLine.seconds - 1) * 100);
    std::printf("into memory: %.3f s, peak memory %.1f MiB = body + %.1f MiB (limit body + 32)\n", bestMemory.seconds,
                memoryPeak / 1024.0, memoryPeak / 1024.0 - static_cast<double>(mib));
    std::printf("peak memory into a file: %.1f MiB\n", bestFile.peakKiB / 1024.0);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
