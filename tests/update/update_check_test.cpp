#include "update_site.h"

#include "platform/files.h"
#include "vendorkit/pe_writer.h"
#include "workspace/app/format_settings.h"
#include "workspace/app/names.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quill::testing {
namespace {

// version.txt as a download the window shows only if it is slow; nothing else.
const std::vector<std::string> kOnlyTheVersionDownload{"transfer:shown", "transfer:end"};

TEST(UpdateCheck, SetsTheFormatsAndMakesTheBackupFolder) {
    UpdateSite site;
    std::filesystem::remove(AppDir + "upgr_bak");
    formatSettings().decimalSeparator = ",";
    formatSettings().shortDateFormat = "dd.MM.yyyy";
    site.update.checkForUpdate(site.screen, site.http);  // version.txt not served
    EXPECT_EQ(formatSettings().decimalSeparator, ".");
    EXPECT_EQ(formatSettings().shortDateFormat, "mm/dd/yy");
    EXPECT_TRUE(platform::folderExists(AppDir + "upgr_bak"));
    EXPECT_EQ(site.screen.events, kOnlyTheVersionDownload);
}

TEST(UpdateCheck, UpdateInfoWithTwoLinesIsIgnored) {
    UpdateSite site;
    const std::string builtInUrl = UpdateUrl;
    writeFile(AppDir + "upg_info.txt", "other.exe\r\nhttp://127.0.0.1:1/x/\r\n");
    site.update.checkForUpdate(site.screen, site.http);
    EXPECT_EQ(ProgramExeName, "quillary.exe");
    EXPECT_EQ(UpdateUrl, builtInUrl);
    EXPECT_EQ(ProductSection, "Quillary");
    EXPECT_EQ(site.requestsFor("/update/version.txt"), 1);
}

TEST(UpdateCheck, UpdateInfoLinesAreTakenWholeAndTheFourthIgnored) {
    UpdateSite site;
    const std::string url = site.server.url("/other/");
    writeFile(AppDir + "upg_info.txt", "organizer.exe \r\n" + url + "\r\nQuill Pro \r\nignored\r\n");
    site.update.checkForUpdate(site.screen, site.http);
    EXPECT_EQ(ProgramExeName, "organizer.exe ");
    EXPECT_EQ(UpdateUrl, url);
    EXPECT_EQ(ProductSection, "Quill Pro ");
    EXPECT_EQ(site.requestsFor("/other/version.txt"), 1);
}

TEST(OfferedVersion, ReadsTheOfferedVersionAndFileWithoutUpdatingWhenNotNewer) {
    UpdateSite site;
    writeFile(AppDir + "version.ini", "old");
    site.serveVersionFile("[Other]\r\nversion=9.0\r\n[quillary]\r\nversion=1.0\r\nfile=upd.zip\r\n");
    site.update.fetchOfferedVersion(site.screen, site.http);
    EXPECT_EQ(site.update.offeredVersion, "1.0");
    EXPECT_EQ(site.update.offeredFileName, "upd.zip");
    EXPECT_EQ(readFile(AppDir + "version.ini"), "[Other]\r\nversion=9.0\r\n[quillary]\r\nversion=1.0\r\nfile=upd.zip\r\n");
    EXPECT_EQ(site.requestsFor("/update/upd.zip"), 0);
    EXPECT_EQ(site.screen.events, kOnlyTheVersionDownload);
}

TEST(OfferedVersion, MissingSectionOffersNothing) {
    UpdateSite site;
    site.serveVersionFile("[Other]\r\nversion=9.0\r\nfile=x.zip\r\n");
    site.update.fetchOfferedVersion(site.screen, site.http);
    EXPECT_EQ(site.update.offeredVersion, "");
    EXPECT_EQ(site.update.offeredFileName, "");
    EXPECT_EQ(site.screen.events, kOnlyTheVersionDownload);
}

TEST(OfferedVersion, FailedFetchKeepsEverythingAndShowsNothing) {
    UpdateSite site;
    writeFile(AppDir + "version.ini", "[Quillary]\r\nversion=2.0\r\nfile=old.zip\r\n");
    site.update.offeredVersion = "earlier";
    site.update.offeredFileName = "earlier.zip";
    site.update.fetchOfferedVersion(site.screen, site.http);  // 404
    EXPECT_EQ(site.update.offeredVersion, "earlier");
    EXPECT_EQ(site.update.offeredFileName, "earlier.zip");
    EXPECT_EQ(readFile(AppDir + "version.ini"), "[Quillary]\r\nversion=2.0\r\nfile=old.zip\r\n");
    EXPECT_EQ(site.screen.events, kOnlyTheVersionDownload);
}

TEST(OfferedVersion, NewerVersionRunsTheUpdate) {
    UpdateSite site;
    site.serveArchive("upd.zip", {{"readme.txt", "new readme"}});
    site.serveVersionFile("[Quillary]\r\nversion=1.1\r\nfile=upd.zip\r\n");
    site.update.fetchOfferedVersion(site.screen, site.http);
    EXPECT_EQ(readFile(AppDir + "readme.txt"), "new readme");
    EXPECT_TRUE(site.screen.closed);
}

TEST(InstalledVersion, TakesMajorAndMinorOfTheNamedProgram) {
    UpdateSite site;
    ProgramExeName = "organizer.exe";
    writeFile(AppDir + "organizer.exe", vendorkit::buildPeWithVersion(3, 12, 0, 7, false));
    site.update.readInstalledVersion();
    EXPECT_EQ(CurrentVersion, "3.12");
}

TEST(UpdateCheck, InstalledVersionDecidesAgainstTheOffer) {
    UpdateSite site;
    writeFile(AppDir + "quillary.exe", vendorkit::buildPeWithVersion(2, 0, 0, 0, true));
    site.serveArchive("upd.zip", {{"readme.txt", "new readme"}});
    site.serveVersionFile("[Quillary]\r\nversion=1.5\r\nfile=upd.zip\r\n");
    site.update.checkForUpdate(site.screen, site.http);  // 1.5 would be newer than the built-in 1.0
    EXPECT_EQ(CurrentVersion, "2.0");
    EXPECT_EQ(site.requestsFor("/update/upd.zip"), 0);
    EXPECT_FALSE(platform::fileExists(AppDir + "readme.txt"));
}

TEST(InstalledVersion, KeepsTheVersionWhenTheProgramHasNone) {
    UpdateSite site;
    CurrentVersion = "3.4";
    site.update.readInstalledVersion();  // no program file
    EXPECT_EQ(CurrentVersion, "3.4");
    writeFile(AppDir + "quillary.exe", "MZ but nothing else");
    site.update.readInstalledVersion();
    EXPECT_EQ(CurrentVersion, "3.4");
    writeFile(AppDir + "quillary.exe", vendorkit::buildPeWithoutResources(false));
    site.update.readInstalledVersion();
    EXPECT_EQ(CurrentVersion, "3.4");
}

}  // namespace
}  // namespace quill::testing
