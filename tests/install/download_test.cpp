#include "template_site.h"

#include "install/template_download.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/error_of.h"
#include "support/tree_snapshot.h"
#include "support/signed_site.h"
#include "support/test_vendor_key.h"
#include "workspace/trust/template_manifest.h"
#include "workspace/trust/vendor_metadata.h"
#include "workspace/app/names.h"
#include "workspace/app/app_files.h"
#include "workspace/app/failures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <chrono>
#include <random>
#include <thread>

namespace quill::testing {
namespace {

using Events = std::vector<std::string>;

TEST(DownloadAsks, NothingHappensWithoutASelection) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    auto context = site.download("contacts.zip");
    context.selectedIndex = -1;
    downloadSelectedTemplate(context);
    EXPECT_TRUE(site.screen.events.empty());
    EXPECT_TRUE(site.server->requests().empty());
}

TEST(DownloadAsks, NoEndsTheDownloadWithoutAnUpdateCheck) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    site.screen.answerYes = false;
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    // A carriage return alone between the question and the name.
    EXPECT_EQ(site.screen.events,
              Events{"confirm:Are you sure you want to download this Database Template: \rContacts ?"});
    EXPECT_TRUE(site.server->requests().empty());
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "old database");
}

TEST(DownloadInstalls, PutsTheTemplateInPlaceAndRecordsIt) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    writeFile(site.TempDir + "contacts.zip", "an older download");
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);

    const Events expected{
        "confirm:Are you sure you want to download this Database Template: \rContacts ?",
        "status:Downloading Template File...",
        "transfer:shown", "transfer:end",
        "status:Template File Downloaded",
        "progress:show", "block:1", "busy:1", "pump", "pump", "pump", "busy:0", "block:0", "progress:free",
        "info:Template installed successfully.",
        "check"};
    EXPECT_EQ(site.screen.events, expected);

    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
    const auto data = snapshotTree(DataDir);
    // The replaced pair is kept in the backup.
    const TreeSnapshot expectedData{{"db/", ""}, {"db/forms/", ""}, {"db/forms/a.frm", "form a"},
                                    {"db/notes.txt", "new notes"},
                                    {"backup/", ""}, {"backup/db/", ""}, {"backup/db/forms/", ""},
                                    {"backup/db/forms/old.frm", "old form"}, {"backup/db/notes.txt", "old notes"},
                                    {"templates.ini", "[Templates]\r\nMain=db\r\nOther=1\r\n"}};
    EXPECT_EQ(treeDifferences(expectedData, data), "");
    // The download stays; nothing else is left beside the database.
    TemplateArchive served;
    writeTemplateArchive(site.siteFiles.path() + "expected.zip", served);
    EXPECT_EQ(readFile(site.TempDir + "contacts.zip"), readFile(site.siteFiles.path() + "expected.zip"));
    EXPECT_EQ(treeDifferences({{"db.fdb", "new database"}, {"backup/", ""}, {"backup/db.fdb", "old database"}},
                              snapshotTree(AppDir + "db/")),
              "");
}

TEST(DownloadInstalls, TwoInstallationsLeaveOneMainLine) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    downloadSelectedTemplate(context);
    EXPECT_EQ(site.screen.count("info:Template installed successfully."), 2);
    EXPECT_EQ(readFile(DataDir + "templates.ini"), "[Templates]\r\nMain=db\r\nOther=1\r\n");
    EXPECT_EQ(readFile(DataDir + "db/notes.txt"), "new notes");
}

TEST(DownloadInstalls, OtherExtensionIsUnpackedFromItsZipName) {
    TemplateSite site;
    site.server->serveBytes("/quillary-web-templates/sales.dat", "not an archive");
    writeTemplateArchive(site.TempDir + "sales.zip", TemplateArchive{});
    auto context = site.download("sales.dat");
    downloadSelectedTemplate(context);
    EXPECT_EQ(readFile(site.TempDir + "sales.dat"), "not an archive");
    EXPECT_EQ(site.screen.count("info:Template installed successfully."), 1);
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
}

TEST(DownloadInstalls, UnwritableTemplatesIniShowsSuccessOnly) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    platform::setReadOnly(DataDir + "templates.ini", true);
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    const Events boxes{"confirm:Are you sure you want to download this Database Template: \rContacts ?",
                       "info:Template installed successfully."};
    EXPECT_EQ(site.screen.boxes(), boxes);
    EXPECT_EQ(readFile(DataDir + "templates.ini"), "[Templates]\r\nMain=old\r\nOther=1\r\n");
    EXPECT_EQ(site.screen.events.back(), "check");
}

TEST(DownloadFails, FailedFetchRunsTheUpdateCheckBeforeItsError) {
    TemplateSite site;
    writeFile(site.TempDir + "contacts.zip", "an older download");
    const auto before = snapshotTree(AppDir);
    auto context = site.download("contacts.zip");  // not served: 404
    try {
        downloadSelectedTemplate(context);
        FAIL() << "the fetch error must reach the general error display";
    } catch (const AppError& e) {
        EXPECT_EQ(std::string(e.what()), "HTTP/1.1 404 Not Found");
    }
    EXPECT_EQ(site.screen.events.back(), "check");
    EXPECT_EQ(site.screen.status, "Downloading Template File...");
    EXPECT_EQ(site.screen.progressWindows, 0);
    EXPECT_FALSE(platform::fileExists(site.TempDir + "contacts.zip"));
    auto after = snapshotTree(AppDir);
    EXPECT_EQ(treeDifferences(before, after), "removed: temp/contacts.zip\n");
}

TEST(DownloadFails, CutDownloadLeavesNoPartialCopy) {
    TemplateSite site;
    auto response = vendorkit::HttpResponse::ok(std::string(100000, 'x'));
    response.sendOnly = 5000;
    site.server->route("/quillary-web-templates/contacts.zip", response);
    auto context = site.download("contacts.zip");
    EXPECT_THROW(downloadSelectedTemplate(context), AppError);
    EXPECT_EQ(site.screen.events.back(), "check");
    EXPECT_FALSE(platform::fileExists(site.TempDir + "contacts.zip"));
    EXPECT_EQ(site.screen.progressWindows, 0);
}

TEST(DownloadFails, FileNamingAPlaceOutsideTheTempFolderIsRefused) {
    // Read as every name that must stay inside a folder is: "\\" separates levels too.
    for (const std::string name : {"../victim.zip", "..\\victim.zip"}) {
        TemplateSite site;
        writeFile(AppDir + "victim.zip", "not to be touched");
        site.server->serveBytes("/victim.zip", "replacement");
        auto context = site.download(name);
        EXPECT_EQ(errorOf([&] { downloadSelectedTemplate(context); }), "Unsafe file name: " + name);
        EXPECT_EQ(site.screen.events.back(), "check") << name;
        EXPECT_EQ(readFile(AppDir + "victim.zip"), "not to be touched") << name;
        EXPECT_TRUE(site.server->requests().empty()) << name;
        EXPECT_EQ(treeDifferences({}, snapshotTree(site.TempDir)), "") << name;
    }
}

TEST(DownloadFails, FailedInstallationLeavesTheRecordAndRunsTheCheck) {
    TemplateSite site;
    TemplateArchive withoutDatabase;
    withoutDatabase.withDatabase = false;
    site.serveTemplate("contacts.zip", withoutDatabase);
    const auto before = snapshotTree(AppDir + "data/");
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    const Events boxes{"confirm:Are you sure you want to download this Database Template: \rContacts ?",
                       "error:Template installation failed!!!"};
    EXPECT_EQ(site.screen.boxes(), boxes);
    EXPECT_EQ(site.screen.events.back(), "check");
    EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir + "data/")), "");
    EXPECT_EQ(site.record.lines.value("Main"), "old");
}

// With the vendor's key built in, a template is installed only when the
// template site's manifest lists its archive with the bytes that came, and
// from the very bytes that were hashed as they came.
class SignedTemplateDownload : public ::testing::Test {
protected:
    SignedTemplateDownload() {
        forgetFollowedKeyChains();
        forgetTemplateManifest();
        site.server->route("/quillary-web-templates/keys/2.txt", vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
        site.serveTemplate("contacts.zip");
        site.serveTemplate("sales.zip", sales());
        archive = readFile(site.siteFiles.path() + "contacts.zip");
        publishManifest({{"temp.zip", "a catalogue"}, {"contacts.zip", archive},
                         {"sales.zip", readFile(site.siteFiles.path() + "sales.zip")}});
    }
    ~SignedTemplateDownload() override {
        forgetFollowedKeyChains();
        forgetTemplateManifest();
    }

    static TemplateArchive sales() {
        TemplateArchive other;
        other.database = "sales database";
        return other;
    }

    // A chain whose second link names an online key, and a manifest with its
    // timestamp (expiring then), taken as the show step takes them.
    SignedTimestamp takeManifestVouchedForByAnOnlineKey(const std::string& expires) {
        const vendorkit::SigningKey online = vendorkit::SigningKey::generate();
        serveKeyLink(*site.server, "/quillary-web-templates/", 2, vendor.key(1), vendor.key(1), &online);
        const std::string text = manifestText({{"contacts.zip", archive}}, 2);
        serveSigned(*site.server, "/quillary-web-templates/manifest.txt", text, vendor.key(1));
        SignedTimestamp timestamp;
        timestamp.name = "manifest.txt";
        timestamp.described = text;
        timestamp.expires = expires;
        serveSigned(*site.server, "/quillary-web-templates/timestamp.txt", timestampText(timestamp), online);
        forgetFollowedKeyChains();
        fetchTemplateManifest(site.screen, site.http);
        return timestamp;
    }

    // Served and taken as the show step takes it; an expired one is served only.
    void publishManifest(const std::vector<SiteArchive>& archives, int days = 30) {
        forgetTemplateManifest();
        serveSigned(*site.server, "/quillary-web-templates/manifest.txt", manifestText(archives, 1, utcDaysFromNow(days)),
                    vendor.key(1));
        if (days > 0) fetchTemplateManifest(site.screen, site.http);
    }

    void expectRefused(const std::string& file, const std::string& text) {
        const TreeSnapshot before = snapshotTree(AppDir);
        auto context = site.download(file);
        EXPECT_EQ(errorOf([&] { downloadSelectedTemplate(context); }), text);
        EXPECT_EQ(site.screen.events.back(), "check");
        EXPECT_EQ(site.screen.progressWindows, 0);
        EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
    }

    TemplateSite site;
    TestVendorKey vendor;
    std::string archive;
};

TEST_F(SignedTemplateDownload, TheManifestsEntryLetsTheTemplateIn) {
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    EXPECT_EQ(site.screen.count("info:Template installed successfully."), 1);
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
}

TEST_F(SignedTemplateDownload, AManifestVouchedForByTheOnlineKeyLetsTheTemplateIn) {
    const SignedTimestamp timestamp = takeManifestVouchedForByAnOnlineKey(utcSecondsFromNow(24 * 3600));
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    EXPECT_EQ(site.screen.count("info:Template installed successfully."), 1);
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
    EXPECT_NE(readFile(AppDir + "signing.ini").find("[manifest.txt timestamp]\r\nexpires=" + timestamp.expires +
                                                    "\r\nlink=2\r\nserial=1\r\n"),
              std::string::npos);
}

// The manifest taken at the show step is current only as long as its timestamp.
TEST_F(SignedTemplateDownload, AManifestWhoseTimestampExpiredSinceItWasTakenIsRefused) {
    const SignedTimestamp timestamp = takeManifestVouchedForByAnOnlineKey(utcSecondsFromNow(2));
    while (utcSecondsFromNow(0) <= timestamp.expires) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    expectRefused("contacts.zip", "The template site's manifest expired on " + timestamp.expires +
                                      ". The vendor's site may be out of date, or someone may be holding back newer "
                                      "information.");
}

TEST_F(SignedTemplateDownload, AnArchiveTheManifestDoesNotListOrDescribeIsRefused) {
    expectRefused("orders.zip", "The archive \"orders.zip\" is not one that the template site's manifest lists.");
    // Two templates' archives swapped on the site, each genuinely signed.
    site.server->serveBytes("/quillary-web-templates/contacts.zip", readFile(site.siteFiles.path() + "sales.zip"));
    site.server->serveBytes("/quillary-web-templates/sales.zip", archive);
    expectRefused("contacts.zip", "The archive \"contacts.zip\" is larger than the vendor signed it.");
    expectRefused("sales.zip", "The archive \"sales.zip\" is not the one the vendor signed.");
    site.server->serveBytes("/quillary-web-templates/contacts.zip", withBitFlipped(archive, archive.size() * 8 / 3));
    expectRefused("contacts.zip", "The archive \"contacts.zip\" is not the one the vendor signed.");
    site.server->serveBytes("/quillary-web-templates/contacts.zip", archive + "and more");
    expectRefused("contacts.zip", "The archive \"contacts.zip\" is larger than the vendor signed it.");
    site.server->serveBytes("/quillary-web-templates/contacts.zip", archive);
    publishManifest({{"contacts.zip", archive}}, -1);
    const TreeSnapshot before = snapshotTree(AppDir);
    auto context = site.download("contacts.zip");
    EXPECT_NE(errorOf([&] { downloadSelectedTemplate(context); }).find("expired"), std::string::npos);
    EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
}

TEST_F(SignedTemplateDownload, AnArchiveSwappedInAfterTheDownloadIsNotWhatGetsUnpacked) {
    TemplateArchive evil;
    evil.database = "someone else's database";
    writeTemplateArchive(site.siteFiles.path() + "evil.zip", evil);
    // The download is on disk and open by now; another program puts its own
    // archive under that name as the status changes.
    site.screen.onStatus = [&](const std::string& text) {
        if (text == "Template File Downloaded") {
            std::rename((site.siteFiles.path() + "evil.zip").c_str(), (site.TempDir + "contacts.zip").c_str());
        }
    };
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    EXPECT_EQ(site.screen.count("info:Template installed successfully."), 1);
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
}

// Whether the update check ran, told by its first fetch reaching the server.
bool versionFetched(const TemplateSite& site) {
    for (const auto& request : site.server->requests()) {
        if (request.target.find("version.txt") != std::string::npos) return true;
    }
    return false;
}

// A cancel is the user saying stop: no box, no update check, and the folder,
// an earlier download of the same archive too, byte for byte as it was.
TEST(DownloadCancelled, LeavesEverythingAsItWasAndASecondTryInstalls) {
    TemplateSite site;
    TemplateArchive big;
    std::mt19937 random(15);
    std::string padding(1 << 20, '\0');
    for (char& c : padding) c = static_cast<char>(random());
    big.otherFiles["padding.bin"] = padding;  // does not deflate: over a second on this line
    site.serveTemplate("contacts.zip", big);
    site.server->throttle(800 * 1024);
    site.server->serveBytes("/quillary-web/update/version.txt", "[Quillary]\r\nversion=1.0\r\n");
    writeFile(site.TempDir + "contacts.zip", "an earlier download");
    const auto before = snapshotTree(AppDir);
    site.screen.onPump = [&] {
        // The user clicks Cancel once the download is seen to be under way.
        if (!site.screen.shown.empty() && site.screen.shown.back().received > 0) site.screen.cancelAnswer = true;
    };
    auto context = site.download("contacts.zip");
    // The update check's own first step, as the main window runs it.
    context.updateCheck = [&] {
        site.screen.events.push_back("check");
        ignoringErrors([&] { keepVersionIni(site.screen, site.http); });
    };
    downloadSelectedTemplate(context);
    EXPECT_EQ(site.screen.boxes(), Events{"confirm:Are you sure you want to download this Database Template: \rContacts ?"});
    EXPECT_EQ(site.screen.status, "Download cancelled.");
    EXPECT_EQ(site.screen.count("check"), 0);
    EXPECT_FALSE(versionFetched(site));
    EXPECT_EQ(site.screen.progressWindows, 0);
    EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");
    EXPECT_EQ(site.record.lines.value("Main"), "old");

    site.screen.onPump = nullptr;
    site.screen.cancelAnswer = false;
    site.screen.shown.clear();
    downloadSelectedTemplate(context);
    EXPECT_EQ(site.screen.count("info:Template installed successfully."), 1);
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
    EXPECT_EQ(site.screen.count("check"), 1);
    EXPECT_TRUE(versionFetched(site));
    EXPECT_FALSE(platform::pathExists(site.TempDir + ".contacts.zip.earlier"));
    // It showed how far it was, against the archive's size.
    const auto size = static_cast<std::int64_t>(readFile(site.TempDir + "contacts.zip").size());
    ASSERT_GE(site.screen.shown.size(), 5u);
    EXPECT_EQ(site.screen.shown.back().total, size);
    EXPECT_GT(site.screen.shown.back().received, site.screen.shown.front().received);
}

TEST(DownloadEnds, AnEndAskedForDuringTheInstallationLetsItFinishButStartsNoUpdateCheck) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    site.screen.onPump = [&] { site.screen.endAsked = true; };
    auto context = site.download("contacts.zip");
    downloadSelectedTemplate(context);
    EXPECT_EQ(readFile(AppDir + "db/db.fdb"), "new database");
    EXPECT_EQ(site.screen.count("check"), 0);
}

TEST(DownloadBlocksInput, NoSecondDownloadCanStartWhileInstalling) {
    TemplateSite site;
    site.serveTemplate("contacts.zip");
    auto context = site.download("contacts.zip");
    int pumps = 0;
    site.screen.onPump = [&] {
        if (site.screen.transferRunning) return;  // the download's own, as many as the clock makes
        ++pumps;
        EXPECT_TRUE(site.screen.blocked);
        EXPECT_TRUE(site.screen.progressAlive);
        EXPECT_TRUE(site.screen.busy);
    };
    downloadSelectedTemplate(context);
    EXPECT_EQ(pumps, 3);
    EXPECT_FALSE(site.screen.blocked);
    EXPECT_FALSE(site.screen.busy);
}

}  // namespace
}  // namespace quill::testing
