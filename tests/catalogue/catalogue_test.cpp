// Showing the main window, browsing and searching, against the loopback vendor
// site and real Firebird catalogues.
#include "catalogue/catalogue_site.h"
#include "support/signed_site.h"
#include "support/test_vendor_key.h"
#include "support/tree_snapshot.h"
#include "workspace/trust/template_manifest.h"
#include "workspace/trust/vendor_metadata.h"
#include "platform/error.h"
#include "platform/files.h"
#include "vendorkit/zip_writer.h"
#include "workspace/app/names.h"
#include "workspace/transfer/zip_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace quill::testing {
namespace {

using vendorkit::TemplateRow;
using Strings = std::vector<std::string>;

TemplateRow row(std::int32_t id, const std::string& name, const std::string& category) {
    return vendorkit::sampleTemplate(id, name, category);
}

std::vector<TemplateRow> threeTemplates() {
    TemplateRow cash = row(1, "Cash Book", "Business");
    cash.keywords = "tax money";
    cash.price = 19990000;
    cash.description = "Keeps the caf\xC3\xA9's accounts";
    TemplateRow garage = row(2, "Bob's Garage", "Auto");
    garage.keywords = "car repair";
    TemplateRow home = row(3, "Home Inventory", "home");
    TemplateRow second = row(4, "Recipes", "HOME");  // same category, other case
    return {cash, garage, home, second};
}

class CatalogueShow : public ::testing::Test {
protected:
    CatalogueSite site;
};

TEST_F(CatalogueShow, OpensTheCatalogueAndShowsTheFirstTemplateWithoutAClick) {
    site.publish(threeTemplates());
    site.show();

    EXPECT_EQ(site.tempFolder, AppDir + "temp/");
    EXPECT_EQ(DataDir, AppDir + "data/");
    EXPECT_EQ(site.view.names(), (Strings{"Bob's Garage", "Cash Book", "Home Inventory", "Recipes"}));
    EXPECT_EQ(site.view.templates[1].second, 1);
    EXPECT_EQ(site.view.categories, (Strings{" All Categories", "Auto", "Business", "home"}));
    EXPECT_EQ(site.view.selectedCategory(), 0);
    EXPECT_EQ(site.view.selectedTemplate(), 0);
    EXPECT_EQ(site.view.name, "Bob's Garage");
    EXPECT_EQ(site.view.keywords, "car repair");
    EXPECT_EQ(site.view.number, "N2");
    EXPECT_EQ(site.view.previews, (Strings{"http://127.0.0.1/preview/2.html"}));
    EXPECT_EQ(site.screen.status, "Click on Download button to download the template.");
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.catalogue->currentText("FILE"), "template2.zip");
    // The status came before the download; events were pumped once after unpacking.
    EXPECT_EQ(site.screen.events.front(), "status:Downloading Template List...");
    EXPECT_EQ(site.screen.count("pump"), 1);

    // Selecting another item moves the current row to it.
    site.view.selectTemplate(1);
    site.catalogue->showSelected();
    EXPECT_EQ(site.view.name, "Cash Book");
    EXPECT_EQ(site.view.description, "Keeps the caf\xC3\xA9's accounts");
    EXPECT_EQ(site.view.price, "$1,999.00");
    EXPECT_EQ(site.catalogue->currentText("FILE"), "template1.zip");
}

TEST_F(CatalogueShow, PreparesTempIniFromDbIniAndTemplatesIni) {
    makeFolders(AppDir + "data");
    site.publish(threeTemplates());
    site.show();
    EXPECT_EQ(readFile(AppDir + "temp/temp.ini"),
              "[temp.fdb]\r\nDatabase=" + AppDir + "temp/temp.fdb\r\nUser_Name=organizer\r\nPassword=secret\r\n"
              "ServerCharSet=UTF8\r\nSQLDialect=3\r\nBlobSize=-1\r\n");
    EXPECT_EQ(readFile(AppDir + "data/templates.ini"), "Main=db\r\n");
    EXPECT_EQ(site.templateRecord.lines.lines(), Strings{"Main=db"});
    // The forced login replaced the organizer's.
    EXPECT_EQ(site.catalogue->connection().param("user_name"), "SYSDBA");
    EXPECT_EQ(site.catalogue->connection().param("password"), "quietbird");
    EXPECT_EQ(site.catalogue->connection().connectionName(), "temp.fdb");
}

TEST_F(CatalogueShow, WithoutADataFolderTheTemplatesListStillHoldsMain) {
    site.publish(threeTemplates());
    site.show();
    EXPECT_FALSE(platform::fileExists(AppDir + "data/templates.ini"));
    EXPECT_EQ(site.templateRecord.lines.lines(), Strings{"Main=db"});
    EXPECT_EQ(site.view.templateCount(), 4);
}

TEST_F(CatalogueShow, ASecondRunRewritesOnlyTheHeaderAndDatabaseOfTempIni) {
    makeFolders(AppDir + "temp");
    writeFile(AppDir + "temp/temp.ini",
              "[earlier]\r\nServerCharSet=UTF8\r\nDATABASE=/nowhere.fdb\r\nRoleName=\r\nKeep=me\r\n");
    site.publish(threeTemplates());
    site.show();
    EXPECT_EQ(readFile(AppDir + "temp/temp.ini"), "[temp.fdb]\r\nServerCharSet=UTF8\r\nDatabase=" + AppDir +
                                                      "temp/temp.fdb\r\nRoleName=\r\nKeep=me\r\n");
    EXPECT_EQ(site.view.templateCount(), 4);
}

TEST_F(CatalogueShow, AFailedDownloadIsReportedAndStopsTheShow) {
    site.show();  // nothing published: 404
    EXPECT_EQ(site.screen.boxes(), Strings{"error:Could not download the template!"});
    EXPECT_EQ(site.screen.status, "Downloading Template List...");
    EXPECT_EQ(site.view.templateCount(), 0);
    EXPECT_EQ(site.view.categoryCount(), 0);
    EXPECT_FALSE(site.catalogue->connection().connected());
}

TEST_F(CatalogueShow, ACutOrCancelledDownloadLeavesNoPartialArchive) {
    vendorkit::HttpResponse cut = vendorkit::HttpResponse::ok(std::string(1 << 20, 'z'));
    cut.sendOnly = 300 * 1024;
    site.server->route(site.catalogueUrlPath(), cut);
    site.show();
    EXPECT_FALSE(platform::fileExists(AppDir + "temp/temp.zip"));

    vendorkit::HttpResponse slow = vendorkit::HttpResponse::ok(std::string(1 << 20, 'z'));
    slow.bytesPerSecond = 256 * 1024;
    site.server->route(site.catalogueUrlPath(), slow);
    site.screen.onPump = [&] { site.screen.cancelAnswer = !site.screen.shown.empty(); };
    site.show();
    EXPECT_FALSE(site.screen.shown.empty());  // it was on the screen, and cancelled from there
    EXPECT_FALSE(platform::fileExists(AppDir + "temp/temp.zip"));
    EXPECT_EQ(site.screen.boxes(),
              (Strings{"error:Could not download the template!", "error:Could not download the template!"}));
}

TEST_F(CatalogueShow, AnArchiveFileThatCannotBeCreatedIsLeftToTheGeneralDisplay) {
    writeFile(AppDir + "temp", "a file where the folder should be");
    site.publish(threeTemplates());
    EXPECT_THROW(site.show(), AppError);
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.view.categoryCount(), 0);
    EXPECT_TRUE(site.screen.events.empty());  // not even the download status
}

TEST_F(CatalogueShow, AnArchiveWithoutTheCatalogueStopsSilently) {
    {
        vendorkit::ZipWriter zip(site.vendor / "other.zip");
        zip.addFile("readme.txt", "no catalogue here");
        zip.finish();
    }
    site.publishBytes(readFile(site.vendor / "other.zip"));
    site.show();
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.screen.status, "Downloading Template List...");
    EXPECT_EQ(site.view.categoryCount(), 0);
    EXPECT_TRUE(platform::fileExists(AppDir + "temp/readme.txt"));
}

TEST_F(CatalogueShow, ADamagedArchiveShowsItsOwnErrorAndLeavesAnOldCatalogueClosed) {
    makeFolders(AppDir + "temp");
    vendorkit::createCatalogueDatabase(AppDir + "temp/temp.fdb", threeTemplates());
    site.publishBytes("this is not an archive at all, just some bytes");
    site.show();

    std::string expected;
    try {
        unpackArchive(AppDir + "temp/temp.zip", AppDir + "temp/");
    } catch (const std::exception& e) {
        expected = e.what();
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(site.screen.boxes(), Strings{"error:" + expected});
    EXPECT_FALSE(site.catalogue->connection().connected());
    EXPECT_EQ(site.view.templateCount(), 0);
    EXPECT_EQ(site.view.categoryCount(), 0);
}

TEST_F(CatalogueShow, WithoutDbIniTheConnectionCannotLoadItsSettings) {
    std::remove((AppDir + "db.ini").c_str());
    site.publish(threeTemplates());
    EXPECT_THROW(site.show(), AppError);
    EXPECT_EQ(site.screen.boxes(), Strings{"error:Could not load file : temp.ini"});
    EXPECT_FALSE(site.catalogue->connection().connected());
    EXPECT_EQ(site.view.categoryCount(), 0);
    EXPECT_FALSE(site.catalogue->rows().active());
}

TEST_F(CatalogueShow, AnEmptyDbIniLeavesTempIniEmptyAndTheCatalogueUnreachable) {
    writeFile(AppDir + "db.ini", "");
    site.publish(threeTemplates());
    EXPECT_THROW(site.show(), AppError);
    EXPECT_EQ(readFile(AppDir + "temp/temp.ini"), "");
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.catalogue->connection().params, (Strings{"user_name=SYSDBA", "password=quietbird"}));
    EXPECT_EQ(site.view.categoryCount(), 0);
}

TEST_F(CatalogueShow, ALaterSearchReachesACatalogueLeftByAnEarlierRun) {
    makeFolders(AppDir + "temp");
    vendorkit::createCatalogueDatabase(AppDir + "temp/temp.fdb", threeTemplates());
    writeFile(AppDir + "temp/temp.ini", "[TEMP.FDB]\r\nDatabase=" + AppDir + "temp/temp.fdb\r\n");
    site.show();  // the download fails
    ASSERT_EQ(site.screen.boxes(), Strings{"error:Could not download the template!"});
    ASSERT_FALSE(site.catalogue->connection().connected());

    site.catalogue->search();
    EXPECT_TRUE(site.catalogue->connection().connected());
    EXPECT_EQ(site.view.templateCount(), 4);
    EXPECT_EQ(site.screen.boxes().size(), 1u);
    // " All Categories" was never added, the catalogue's categories were.
    EXPECT_EQ(site.view.categories, (Strings{"Auto", "Business", "home"}));

    // Without " All Categories", Clear chooses nothing and still lists everything.
    ASSERT_TRUE(site.view.chooseCategory("Business"));
    site.catalogue->search();
    EXPECT_EQ(site.view.names(), Strings{"Cash Book"});
    site.catalogue->clearSearch();
    EXPECT_EQ(site.view.selectedCategory(), -1);
    EXPECT_EQ(site.view.templateCount(), 4);
}

TEST_F(CatalogueShow, AMissingColumnStopsAtThatColumnKeepingEarlierFields) {
    vendorkit::createDatabase(site.vendor / "nourl.fdb",
                              {"CREATE TABLE TEMPLATES (ID INTEGER, NAME VARCHAR(20), CATEGORY VARCHAR(20), "
                               "NUMBER VARCHAR(20), KEYWORDS VARCHAR(20), DESCRIPTION BLOB SUB_TYPE TEXT, "
                               "LICENSE VARCHAR(20), PRICE NUMERIC(18,4), FILE VARCHAR(20))",
                               "INSERT INTO TEMPLATES VALUES (1, 'Only', 'Cat', '7', 'k', 'd', 'L', 2.5, 'f.zip')"});
    vendorkit::packDatabase(site.vendor / "nourl.fdb", site.vendor / "temp.zip");
    site.server->serveFile(site.catalogueUrlPath(), site.vendor / "temp.zip");
    try {
        site.show();
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "Field 'URL' not found");
    }
    EXPECT_EQ(site.view.name, "Only");
    EXPECT_EQ(site.view.number, "7");
    EXPECT_TRUE(site.view.previews.empty());
}

// With the vendor's key built in, only the catalogue that the template
// site's manifest lists with these bytes is unpacked.
class SignedCatalogue : public ::testing::Test {
protected:
    SignedCatalogue() {
        forgetFollowedKeyChains();
        forgetTemplateManifest();
        site.publish(threeTemplates());
        archive = readFile(site.vendor / "temp.zip");
    }
    ~SignedCatalogue() override {
        forgetFollowedKeyChains();
        forgetTemplateManifest();
    }

    void publishManifest(const std::vector<SiteArchive>& archives, const vendorkit::SigningKey& by, int days = 30) {
        serveSigned(*site.server, "/quillary-web-templates/manifest.txt", manifestText(archives, 1, utcDaysFromNow(days)),
                    by);
    }

    void expectRefused(const std::string& box) {
        site.screen.events.clear();
        forgetFollowedKeyChains();
        site.show();
        EXPECT_EQ(site.screen.boxes(), Strings{"error:" + box});
        EXPECT_EQ(site.view.templateCount(), 0);
        EXPECT_FALSE(site.catalogue->connection().connected());
        EXPECT_FALSE(platform::pathExists(AppDir + "temp/temp.zip"));
        EXPECT_FALSE(platform::pathExists(AppDir + "temp/temp.fdb"));
    }

    CatalogueSite site;
    TestVendorKey vendor;
    std::string archive;
};

TEST_F(SignedCatalogue, TheManifestsEntryLetsTheCatalogueIn) {
    publishManifest({{"temp.zip", archive}}, vendor.key(1));
    site.show();
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.view.templateCount(), 4);
}

TEST_F(SignedCatalogue, ACatalogueWithoutAGoodManifestEntryIsRefused) {
    publishManifest({{"temp.zip", archive}}, vendor.stranger());
    expectRefused("The template site's manifest's signature is missing or not valid.");
    publishManifest({{"contacts.zip", archive}}, vendor.key(1));
    expectRefused("The archive \"temp.zip\" is not one that the template site's manifest lists.");
    publishManifest({{"temp.zip", archive}}, vendor.key(1), -1);
    site.screen.events.clear();
    site.show();
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    EXPECT_NE(site.screen.boxes()[0].find("expired"), std::string::npos);
    publishManifest({{"temp.zip", archive}}, vendor.key(1));
    site.publishBytes(withBitFlipped(archive, archive.size() * 4));
    expectRefused("The archive \"temp.zip\" is not the one the vendor signed.");
}

// With an online key in the chain, the manifest comes in only as its
// timestamp vouches for it, and still only as the release key signs it.
TEST_F(SignedCatalogue, AnOnlineKeysTimestampLetsTheManifestInButNeverSignsOneItself) {
    const vendorkit::SigningKey online = vendorkit::SigningKey::generate();
    serveKeyLink(*site.server, "/quillary-web-templates/", 2, vendor.key(1), vendor.key(1), &online);
    const std::string text = manifestText({{"temp.zip", archive}});
    SignedTimestamp timestamp;
    timestamp.name = "manifest.txt";
    timestamp.described = text;
    serveSigned(*site.server, "/quillary-web-templates/manifest.txt", text, vendor.key(1));
    expectRefused("The timestamp of the template site's manifest is missing from the vendor's site "
                  "(\"" + TemplatesUrl + "timestamp.txt\").");

    serveSigned(*site.server, "/quillary-web-templates/timestamp.txt", timestampText(timestamp), online);
    serveSigned(*site.server, "/quillary-web-templates/manifest.txt", text, online);
    TreeSnapshot before = snapshotTree(AppDir);
    expectRefused("The template site's manifest's signature is missing or not valid.");
    EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");

    serveSigned(*site.server, "/quillary-web-templates/manifest.txt", text, vendor.key(1));
    site.screen.events.clear();
    forgetFollowedKeyChains();
    site.show();
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.view.templateCount(), 4);
}

TEST_F(SignedCatalogue, ACatalogueThatCannotBeFetchedSaysSoAndWhy) {
    vendorkit::HttpResponse silent;
    silent.closeBeforeStatus = true;
    site.server->route("/quillary-web-templates/manifest.txt", silent);
    expectRefused("Could not download the template!\r\nConnection Closed Gracefully.");
    site.server->route("/quillary-web-templates/manifest.txt",
                       vendorkit::HttpResponse::status("HTTP/1.1 503 Service Unavailable"));
    expectRefused("Could not download the template!\r\nHTTP/1.1 503 Service Unavailable");
    // Listed, and then not there.
    publishManifest({{"temp.zip", archive}}, vendor.key(1));
    site.server->route(site.catalogueUrlPath(), vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
    expectRefused("Could not download the template!\r\nHTTP/1.1 404 Not Found");
}

// The manifest taken last is recorded with its expiry; past it, a show step
// whose manifest cannot be fetched says the information has expired.
TEST_F(SignedCatalogue, AManifestHeldBackPastTheExpiryOfTheLastOneTakenIsSaidToBeExpired) {
    const std::string expires = utcSecondsFromNow(4);
    serveSigned(*site.server, "/quillary-web-templates/manifest.txt", manifestText({{"temp.zip", archive}}, 3, expires),
                vendor.key(1));
    site.show();
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(readFile(AppDir + "signing.ini"), "[manifest.txt]\r\nexpires=" + expires + "\r\nlink=1\r\nserial=3\r\n");

    site.server->route("/quillary-web-templates/manifest.txt",
                       vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
    while (utcSecondsFromNow(0) <= expires) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string kept = readFile(AppDir + "signing.ini");
    site.screen.events.clear();
    forgetFollowedKeyChains();
    site.show();
    EXPECT_EQ(site.screen.boxes(), Strings{"error:The template site's manifest expired on " + expires +
                                           ", and no newer could be taken (HTTP/1.1 404 Not Found). The vendor's site "
                                           "may be out of date, or someone may be holding back newer information."});
    EXPECT_EQ(readFile(AppDir + "signing.ini"), kept);
}

class CatalogueBrowse : public ::testing::Test {
protected:
    void SetUp() override {
        TemplateRow blank = row(5, "Blank Page", "");
        blank.url = "";
        TemplateRow spaces = row(6, "Spaces", "Auto");
        spaces.url = "  ";
        TemplateRow uncategorised = row(7, "No Category", "");
        uncategorised.category.reset();  // NULL
        auto rows = threeTemplates();
        rows.push_back(blank);
        rows.push_back(spaces);
        rows.push_back(uncategorised);
        site.publish(rows);
        site.show();
    }
    Strings search(const std::string& category, const std::string& keywords) {
        EXPECT_TRUE(site.view.chooseCategory(category)) << category;
        site.view.searchWordsText = keywords;
        site.catalogue->search();
        return site.view.names();
    }
    CatalogueSite site;
};

TEST_F(CatalogueBrowse, AnEmptyCategorySortsFirstAndAnEmptyUrlShowsABlankPage) {
    EXPECT_EQ(site.view.categories, (Strings{"", " All Categories", "Auto", "Business", "home"}));
    EXPECT_EQ(site.view.categoryText(site.view.selectedCategory()), " All Categories");
    EXPECT_EQ(site.view.name, "Blank Page");
    EXPECT_EQ(site.view.previews.back(), "about:blank");

    site.view.selectTemplate(6);
    site.catalogue->showSelected();
    EXPECT_EQ(site.view.name, "Spaces");
    EXPECT_EQ(site.view.previews.back(), "  ");
}

TEST_F(CatalogueBrowse, EveryCategoryFiltersIncludingTheFirstAndTheEmptyOne) {
    EXPECT_EQ(search("Auto", ""), (Strings{"Bob's Garage", "Spaces"}));
    // The empty item stands for every template without a category, NULL or empty.
    EXPECT_EQ(search("", ""), (Strings{"Blank Page", "No Category"}));
    EXPECT_EQ(search("", "no"), Strings{"No Category"});
    EXPECT_EQ(search("home", ""), Strings{"Home Inventory"});  // equality as stored
    EXPECT_EQ(search(" All Categories", "").size(), 7u);
    // The box is never cleared by a narrower result.
    EXPECT_EQ(site.view.categoryCount(), 5);
}

TEST_F(CatalogueBrowse, KeywordsMatchNamesKeywordsAndNumbersAsTyped) {
    EXPECT_EQ(search(" All Categories", "TAX"), Strings{"Cash Book"});
    EXPECT_EQ(search(" All Categories", "bob's"), Strings{"Bob's Garage"});
    EXPECT_EQ(search(" All Categories", "N3"), Strings{"Home Inventory"});
    EXPECT_EQ(search("Auto", "car repair"), Strings{"Bob's Garage"});
    EXPECT_EQ(search(" All Categories", "nv_n"), (Strings{"Home Inventory"}));  // "_" is any character
    EXPECT_EQ(search(" All Categories", "') OR ('1'='1"), Strings{});
}

TEST_F(CatalogueBrowse, ASearchWithoutMatchesEmptiesTheListAndKeepsTheDetails) {
    const std::string name = site.view.name;
    const std::size_t navigations = site.view.previews.size();
    site.screen.setStatus("before");
    EXPECT_EQ(search("Business", "nothing-like-this"), Strings{});
    EXPECT_EQ(site.view.selectedTemplate(), -1);
    EXPECT_EQ(site.view.name, name);
    EXPECT_EQ(site.view.previews.size(), navigations);
    EXPECT_EQ(site.screen.status, "before");
}

TEST_F(CatalogueBrowse, ClearResetsKeywordsAndCategoryAndListsEverything) {
    search("Auto", "car");
    site.catalogue->clearSearch();
    EXPECT_EQ(site.view.searchWordsText, "");
    EXPECT_EQ(site.view.categoryText(site.view.selectedCategory()), " All Categories");
    EXPECT_EQ(site.view.templateCount(), 7);
    EXPECT_EQ(site.view.selectedTemplate(), 0);
}

TEST_F(CatalogueBrowse, AFailedQueryKeepsTheListAndClosesTheResultSetUntilALaterSearch) {
    EXPECT_THROW(site.catalogue->runQuery("SELECT * FROM NO_SUCH_TABLE"), AppError);
    EXPECT_EQ(site.view.templateCount(), 7);
    EXPECT_FALSE(site.catalogue->rows().active());
    EXPECT_THROW(site.catalogue->showSelected(), AppError);
    EXPECT_THROW(site.catalogue->currentText("FILE"), AppError);

    site.catalogue->clearSearch();
    EXPECT_TRUE(site.catalogue->rows().active());
    EXPECT_EQ(site.catalogue->currentText("NAME"), "Blank Page");
}

TEST_F(CatalogueBrowse, CloseClosesTheResultSetTheQueryAndTheConnection) {
    ASSERT_TRUE(site.catalogue->connection().connected());
    site.catalogue->close();
    EXPECT_FALSE(site.catalogue->rows().active());
    EXPECT_FALSE(site.catalogue->connection().connected());
    EXPECT_THROW(site.catalogue->currentText("NAME"), AppError);
    // Another attachment, as the organizer's would, now finds the file free.
    FirebirdConnection other;
    other.params = {"Database=" + AppDir + "temp/temp.fdb", "user_name=SYSDBA", "password=quietbird"};
    EXPECT_EQ(other.fetchAll("SELECT * FROM TEMPLATES").rowCount(), 7u);
}

}  // namespace
}  // namespace quill::testing
