// A power cut at every point of a real template installation and a real
// program update, with the small files they save. Each state a file system
// may leave is rebuilt and recovered once, as the next start does; each group
// of files must then be all as before or all as after.
#include "power_cut.h"

#include "install/template_installation.h"
#include "support/fake_screen.h"
#include "support/sample_changes.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"
#include "platform/files.h"
#include "update/program_update.h"
#include "vendorkit/http_server.h"
#include "workspace/app/app_files.h"
#include "workspace/change/change_journal.h"
#include "workspace/change/folder_change.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <filesystem>
#include <set>
#include <string>

using namespace quill;
using namespace quill::testing;
namespace fs = std::filesystem;

namespace {

// Sync is free on tmpfs, and the states are many; "" where there is none.
std::string fastScratch() {
    std::error_code ec;
    return fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}

const char* const kUpdateFile = "quillary-1.1.zip";

// Big enough to be written in several pieces, so some states hold part of it.
std::string bigFile(const std::string& what) {
    std::string bytes;
    while (bytes.size() < 100 * 1024) bytes += what + " " + std::to_string(bytes.size()) + "\n";
    return bytes;
}

vendorkit::HttpServer& updateSite() {
    static vendorkit::HttpServer server;
    static const bool served = [] {
        server.serveBytes(std::string("/update/") + kUpdateFile, sampleUpdateArchive(bigFile("program 1.1")));
        server.serveBytes("/update/version.txt",
                          std::string("[Quillary]\r\nversion=1.1\r\nfile=") + kUpdateFile + "\r\n");
        return true;
    }();
    (void)served;
    return server;
}

void prepareInstallation(const std::string& app) {
    makeSampleAppFolder(app);
    writeFile(app + "data/templates.ini", "Main=older\r\n");
    writeFile(app + "db.ini", "[db.fdb]\r\nDatabase=db\\db.fdb\r\n");
    makeFolders(app + "temp");
    writeSampleTemplateArchive(app + "temp/contacts.zip", bigFile("new database"));
}

// What the show step and the template's download do to the folder, in their order.
void runInstallation(const std::string& app) {
    AppDir = app;
    DataDir = app + "data/";
    prepareCatalogueIni();
    TemplateRecord record;
    prepareTemplatesIni(record);
    FakeScreen screen;
    const std::string result = installTemplate(screen, app + "temp/contacts.zip");
    ASSERT_EQ(result, "db") << (screen.boxes().empty() ? "" : screen.boxes()[0]);
    recordInstalledTemplate(record, result);
}

// The first template installed, a second one downloaded: its installation
// moves the first one's pair into the backup, where the sample folder's was.
void prepareSecondInstallation(const std::string& app) {
    prepareInstallation(app);
    runInstallation(app);
    writeSampleTemplateArchive(app + "temp/contacts.zip", bigFile("second database"), "second notes");
}

void prepareUpdate(const std::string& app) {
    makeSampleAppFolder(app);
    writeFile(app + "version.ini", "[Quillary]\r\nversion=1.0\r\nfile=quillary-1.0.zip\r\n");
}

// The update check once the installed version is read: version.ini, then the update.
void runUpdate(const std::string& app) {
    AppDir = app;
    UpdateUrl = updateSite().url("/update/");
    CurrentVersion = "1.0";
    FakeScreen screen;
    HttpClient http;
    ProgramUpdate offer;
    offer.fetchOfferedVersion(screen, http);
    ASSERT_TRUE(screen.closed) << (screen.boxes().empty() ? "" : screen.boxes()[0]);
    // The end every cut is held to, with the modes each file should have.
    const TreeSnapshot now = snapshotTree(app);
    EXPECT_EQ(now.at("quillary.exe"), withMode(0755, bigFile("program 1.1")));
    EXPECT_EQ(now.at("upgr_bak/quillary.exe"), withMode(0755, "program 1.0"));
    EXPECT_EQ(now.at("readme.txt"), withMode(0600, "readme 1.1"));
    EXPECT_EQ(now.at("help/manual.txt"), withMode(0700, "manual 1.1"));
}

// The organizer keeps its database open and writes to it while the template
// goes in: once the old file is put aside, the write lands there, and is the
// user's work from then on.
int g_organizerFile = -1;
std::string g_organizerDatabase;

const std::string kOrganizersChange = " changed by the organizer";

void organizerWritesOnceItsFileIsAside() {
    struct stat held {}, named {};
    if (g_organizerFile < 0 || ::fstat(g_organizerFile, &held) != 0) return;
    if (::stat(g_organizerDatabase.c_str(), &named) == 0 && named.st_ino == held.st_ino) return;
    const std::string& change = kOrganizersChange;
    platform::writeToFile(g_organizerFile, change.data(), change.size());
    platform::syncFileData(g_organizerFile);
    platform::closeFile(g_organizerFile);
    g_organizerFile = -1;
}

void runInstallationWhileTheOrganizerWrites(const std::string& app) {
    g_organizerDatabase = app + "db/db.fdb";
    const std::string oldDatabase = readFile(g_organizerDatabase);
    g_organizerFile = platform::openFileForWriting(g_organizerDatabase, platform::Opening::existing, true);
    ASSERT_GE(g_organizerFile, 0);
    setJournalPointHook(organizerWritesOnceItsFileIsAside);
    runInstallation(app);
    setJournalPointHook(nullptr);
    ASSERT_LT(g_organizerFile, 0) << "the organizer never wrote";
    // Not only the run's own end: the cut states are judged against it, so it must keep the organizer's work.
    // The replaced database is the backup, the very file the organizer wrote to.
    ASSERT_TRUE(platform::fileExists(app + "db/backup/db.fdb")) << "the organizer's work was not kept";
    ASSERT_EQ(readFile(app + "db/backup/db.fdb"), oldDatabase + kOrganizersChange);
}

// Besides the tree before and the tree after: the organizer's change to the old
// database, and a temp.ini seeded but not yet rewritten, which the next show
// step starts from.
std::vector<TreeSnapshot> alsoSound(const TreeSnapshot& before) {
    std::vector<TreeSnapshot> trees;
    // Its own write, until it syncs it, is as torn as the cut leaves it.
    for (std::size_t kept = 1; kept <= kOrganizersChange.size(); ++kept) {
        TreeSnapshot organizer = before;
        organizer["db/db.fdb"] += kOrganizersChange.substr(0, kept);
        trees.push_back(organizer);
    }
    if (!before.count("temp/temp.ini") && before.count("db.ini")) {
        TreeSnapshot seeded = before;
        seeded["temp/temp.ini"] = before.at("db.ini");
        trees.push_back(seeded);
    }
    return trees;
}

// The files that must change together; each small file is its own group.
std::string groupOf(const std::string& path) {
    if (path.rfind("db/", 0) == 0 || path.rfind("data/db/", 0) == 0 || path.rfind("data/db (", 0) == 0 ||
        path.rfind("data/backup/", 0) == 0) {
        return "the database";
    }
    if (path == "data/templates.ini" || path == "temp/temp.ini" || path == "version.ini") return path;
    return "the program files and the rest";
}

// A small file's draft left by a cut before its rename; the next save of that file removes it.
bool isDraft(const std::string& path) {
    static const std::regex draft(R"((^|.*/)\.(templates|temp|version)\.ini\.new[0-9]+)");
    return std::regex_match(path, draft);
}

TreeSnapshot groupIn(const TreeSnapshot& tree, const std::string& group) {
    TreeSnapshot part;
    for (const auto& [path, bytes] : tree) {
        if (groupOf(path) == group && !isDraft(path)) part[path] = bytes;
    }
    return part;
}

struct Scenario {
    const char* name;
    void (*prepare)(const std::string& app);
    void (*run)(const std::string& app);
};

const Scenario kScenarios[] = {
    {"installation", prepareInstallation, runInstallation},
    {"installation_while_the_organizer_writes", prepareInstallation, runInstallationWhileTheOrganizerWrites},
    {"second_installation", prepareSecondInstallation, runInstallation},
    {"update", prepareUpdate, runUpdate},
};

class PowerCut : public ::testing::TestWithParam<Scenario> {
protected:
    // Runs the change under the recorder, and checks that the model followed it.
    void record() {
        GetParam().prepare(app.path());
        before = snapshotTree(app.path());
        recorder = std::make_unique<PowerCutRecorder>(app.path());
        GetParam().run(app.path());
        recorder->stop();
        after = snapshotTree(app.path());
        ASSERT_TRUE(recorder->faults().empty()) << recorder->faults()[0];
        // Anything the model missed went past the primitives and is not tested.
        ASSERT_EQ(treeDifferences(after, recorder->modelNow()), "");
        EXPECT_EQ(treeDifferences(after, recorder->surelyOnDisk()), "") << "not all synced at the end";
        sound = alsoSound(before);
        sound.push_back(before);
        sound.push_back(after);
        for (const auto& tree : sound) {
            for (const auto& entry : tree) groups.insert(groupOf(entry.first));
        }
    }

    // One start's recovery; what went wrong, or "".
    std::string recoverOnce() {
        try {
            if (recoverUnfinishedChange(app.path()).outcome == RecoveredChange::Outcome::Unreadable) {
                return "the journal was unreadable\n";
            }
        } catch (const std::exception& e) {
            return std::string("the recovery failed: ") + e.what() + "\n";
        }
        return "";
    }

    // Each group as one of the sound trees has it; what is not, or "".
    std::string unsoundGroups() const {
        const TreeSnapshot now = snapshotTree(app.path());
        std::string fault;
        for (const auto& group : groups) {
            const TreeSnapshot part = groupIn(now, group);
            if (std::any_of(sound.begin(), sound.end(), [&](const auto& tree) { return groupIn(tree, group) == part; })) {
                continue;
            }
            fault += group + " is neither old nor new:\n" + treeDifferences(groupIn(after, group), part);
        }
        return fault;
    }

    void report(const std::string& where, const std::string& fault) {
        if (!fault.empty() && ++failures <= 5) ADD_FAILURE() << "power cut " << where << ":\n" << fault;
    }

    void print(const char* what, const PowerCutCounts& counts, std::size_t events) const {
        std::printf("[ power cut ] %s, %s: %zu events, %zu states (%zu losing all unsynced, %zu keeping all, %zu in "
                    "between; %zu duplicates skipped)\n",
                    GetParam().name, what, events, counts.states(), counts.lostAll, counts.keptAll, counts.partial,
                    counts.duplicates);
    }

    TempFolder app{fastScratch()};
    TreeSnapshot before;
    TreeSnapshot after;
    std::vector<TreeSnapshot> sound;
    std::set<std::string> groups;
    std::unique_ptr<PowerCutRecorder> recorder;
    int failures = 0;
};

// Enough samples per point for a few thousand states a run; under the
// sanitizers, which look for other faults, a tenth of them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILL_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QUILL_UNDER_ASAN)
constexpr int kSampleShare = 10;
#else
constexpr int kSampleShare = 1;
#endif
constexpr int kPartialStatesPerPoint = 100 / kSampleShare;
// A recovery is cut in fewer states of the change, and in fewer of its own.
constexpr int kPartialStatesPerChangePoint = 2;
constexpr int kPartialStatesPerRecoveryPoint = 4 / (kSampleShare > 1 ? 4 : 1);

}  // namespace

TEST_P(PowerCut, OneRecoveryLeavesEachGroupOfFilesAllOldOrAllNew) {
    ASSERT_NO_FATAL_FAILURE(record());
    const PowerCutCounts counts = recorder->forEachPowerCut(20261210, kPartialStatesPerPoint, [&](const std::string& where) {
        const std::string fault = recoverOnce();
        report(where, fault + unsoundGroups());
    });
    print("the change cut", counts, recorder->events());
    EXPECT_EQ(failures, 0);
    EXPECT_GT(counts.partial, counts.lostAll);
}

// What a recovery puts right must be on the disk before it says so: cut it
// too, anywhere, after a power cut or a kill of the change, and the start
// after that one still ends sound.
TEST_P(PowerCut, ARecoveryCutAnywhereIsFinishedByTheNextStart) {
    ASSERT_NO_FATAL_FAILURE(record());
    PowerCutCounts total;
    std::size_t recoveries = 0;
    std::size_t events = 0;
    auto cutTheRecovery = [&](const std::string& changeCut, PowerCutRecorder& recovery) {
        const std::string fault = recoverOnce();
        recovery.stop();
        if (!fault.empty() || recovery.events() == 0) return;
        ++recoveries;
        events += recovery.events();
        const PowerCutCounts counts =
            recovery.forEachPowerCut(20261212, kPartialStatesPerRecoveryPoint, [&](const std::string& recoveryCut) {
                const std::string fault = recoverOnce();
                report(changeCut + ", then the recovery cut " + recoveryCut, fault + unsoundGroups());
            });
        total.points += counts.points;
        total.lostAll += counts.lostAll;
        total.keptAll += counts.keptAll;
        total.partial += counts.partial;
        total.duplicates += counts.duplicates;
    };
    recorder->forEachPowerCut(20261211, kPartialStatesPerChangePoint, [&](const std::string& changeCut) {
        PowerCutRecorder recovery(app.path());
        cutTheRecovery(changeCut, recovery);
    });
    recorder->forEachKill(cutTheRecovery);
    print(("the recovery of " + std::to_string(recoveries) + " of its states cut").c_str(), total, events);
    EXPECT_EQ(failures, 0);
    EXPECT_GT(recoveries, 10u);
}

INSTANTIATE_TEST_SUITE_P(RealChanges, PowerCut, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });
