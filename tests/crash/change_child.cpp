// The child of the crash harness: makes one change of an application folder
// and can die by SIGKILL at a chosen journal point.
//
//   change_child change installation|update APP [--kill-at N]
//
// Before it starts it writes "ready" on a line of its own, so the parent can
// also kill it at a moment of its choosing; when it ends by itself it writes
// "points P micros T": the journal points passed and the time the change took.
#include "support/journal_crash.h"
#include "support/sample_changes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

int main(int argc, char* argv[]) {
    if (argc < 4 || std::strcmp(argv[1], "change") != 0) {
        std::fprintf(stderr, "usage: change_child change installation|update APP [--kill-at N]\n");
        return 2;
    }
    const std::string kind = argv[2];
    const std::string app = argv[3];
    const int killAt = argc >= 6 && std::strcmp(argv[4], "--kill-at") == 0 ? std::atoi(argv[5]) : 0;

    std::printf("ready\n");
    std::fflush(stdout);
    quill::testing::killAtJournalPoint(killAt);
    const auto start = std::chrono::steady_clock::now();
    try {
        if (kind == "installation") quill::testing::runSampleInstallation(app);
        else quill::testing::runSampleUpdate(app);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "change_child: %s\n", e.what());
        return 1;
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("points %d micros %lld\n", quill::testing::journalPointsSoFar(), static_cast<long long>(micros));
    return 0;
}
