// The child of the crash harness: makes one change of an application folder
// and can die by SIGKILL at a chosen journal point.
//
//   change_child sample-installation|sample-update APP [--kill-at N]
//   change_child installation APP ARCHIVE [--kill-at N]   installs the template ARCHIVE
//   change_child update APP URL FILE [--kill-at N]        the update offered as URL + FILE
//   --organizer-writes-at N instead of --kill-at N: at point N the organizer
//   first appends to APP/db/db.fdb, whichever file that is then.
//
// Before it starts it writes "ready" on a line of its own, so the parent can
// also kill it at a moment of its choosing; when it ends by itself it writes
// "points P micros T": the journal points passed and the time the change took.
#include "install/template_installation.h"
#include "support/fake_screen.h"
#include "support/journal_crash.h"
#include "support/sample_changes.h"
#include "update/program_update.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/names.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using quill::testing::FakeScreen;

std::string g_database;

// What the organizer does to the database it finds in place: a change that is the user's work.
void organizerWrites() {
    if (FILE* file = std::fopen(g_database.c_str(), "ab")) {
        std::fputs(" changed by the organizer", file);
        std::fclose(file);
    }
}

void install(const std::string& app, const std::string& archive) {
    quill::AppDir = app;
    quill::DataDir = app + "data/";
    FakeScreen screen;
    if (quill::installTemplate(screen, archive) != "db") {
        throw std::runtime_error("the installation failed: " + (screen.boxes().empty() ? "" : screen.boxes()[0]));
    }
}

void update(const std::string& app, const std::string& url, const std::string& file) {
    quill::AppDir = app;
    quill::UpdateUrl = url;
    quill::ProgramUpdate offer;
    offer.offeredFileName = file;
    FakeScreen screen;
    quill::HttpClient http;
    offer.installUpdate(screen, http);
    if (!screen.closed) {
        throw std::runtime_error("the update failed: " + (screen.boxes().empty() ? "" : screen.boxes()[0]));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int killAt = 0;
    bool organizerWritesFirst = false;
    if (args.size() >= 2 && (args[args.size() - 2] == "--kill-at" || args[args.size() - 2] == "--organizer-writes-at")) {
        organizerWritesFirst = args[args.size() - 2] == "--organizer-writes-at";
        killAt = std::atoi(args.back().c_str());
        args.resize(args.size() - 2);
    }
    const std::string kind = args.empty() ? "" : args[0];
    const std::size_t needed = kind == "installation" ? 3 : kind == "update" ? 4 : 2;
    if (args.size() != needed ||
        (needed == 2 && kind != "sample-installation" && kind != "sample-update")) {
        std::fprintf(stderr, "usage: change_child sample-installation|sample-update APP [--kill-at N]\n"
                             "       change_child installation APP ARCHIVE [--kill-at N]\n"
                             "       change_child update APP URL FILE [--kill-at N]\n");
        return 2;
    }
    const std::string& app = args[1];

    std::printf("ready\n");
    std::fflush(stdout);
    g_database = app + "db/db.fdb";
    quill::testing::killAtJournalPoint(killAt, organizerWritesFirst ? organizerWrites : nullptr);
    const auto start = std::chrono::steady_clock::now();
    try {
        if (kind == "sample-installation") quill::testing::runSampleInstallation(app);
        else if (kind == "sample-update") quill::testing::runSampleUpdate(app);
        else if (kind == "installation") install(app, args[2]);
        else update(app, args[2], args[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "change_child: %s\n", e.what());
        return 1;
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("points %d micros %lld\n", quill::testing::journalPointsSoFar(), static_cast<long long>(micros));
    return 0;
}
