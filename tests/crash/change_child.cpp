// The child of the crash harness: makes one change of an application folder,
// or recovers one, and can die by SIGKILL at a chosen journal point.
//
//   change_child change installation|update APP [--kill-at N]
//   change_child recover APP [--kill-at N]
//
// Before it starts it writes "ready" on a line of its own, so the parent can
// also kill it at a moment of its choosing; when it ends by itself it writes
// "points P micros T outcome O": the journal points passed, the time the
// change took and, for a recovery, what it did.
#include "support/journal_crash.h"
#include "support/sample_changes.h"
#include "workspace/folder_change.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: change_child change installation|update APP [--kill-at N]\n"
                         "       change_child recover APP [--kill-at N]\n");
    return 2;
}

const char* outcomeName(quill::RecoveredChange::Outcome outcome) {
    switch (outcome) {
    case quill::RecoveredChange::Outcome::RolledBack: return "rolled-back";
    case quill::RecoveredChange::Outcome::Completed: return "completed";
    default: return "nothing";
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const bool change = command == "change";
    if (!change && command != "recover") return usage();
    if (change && argc < 4) return usage();
    const std::string kind = change ? argv[2] : "";
    const std::string app = argv[change ? 3 : 2];
    int killAt = 0;
    for (int i = change ? 4 : 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--kill-at") == 0 && i + 1 < argc) killAt = std::atoi(argv[++i]);
        else return usage();
    }
    if (change && kind != "installation" && kind != "update") return usage();

    std::printf("ready\n");
    std::fflush(stdout);
    quill::testing::killAtJournalPoint(killAt);
    const auto start = std::chrono::steady_clock::now();
    const char* outcome = "none";
    try {
        if (!change) outcome = outcomeName(quill::recoverUnfinishedChange(app).outcome);
        else if (kind == "installation") quill::testing::runSampleInstallation(app);
        else quill::testing::runSampleUpdate(app);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "change_child: %s\n", e.what());
        return 1;
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("points %d micros %lld outcome %s\n", quill::testing::journalPointsSoFar(),
                static_cast<long long>(micros), outcome);
    return 0;
}
