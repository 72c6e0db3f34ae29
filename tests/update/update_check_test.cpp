#include "update_site.h"

#include "platform/files.h"
#include "vendorkit/pe_writer.h"
#include "workspace/format_settings.h"
#include "workspace/names.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quill::testing {
namespace {

TEST(CheckForUpdate, SetsTheFormatsAndMakesTheBackupFolder) {
    UpdateSite site;
    std::filesystem::remove(AppDir + "upgr_bak");
    formatSettings().decimalSeparator = ",";
    formatSettings().shortDateFormat = "dd.MM.yyyy";
    site.update.CheckForUpdate(site.screen, site.http);  // version.txt not served
    EXPECT_EQ(formatSettings().decimalSeparator, ".");
    EXPECT_EQ(formatSettings().shortDateFormat, "mm/dd/yy");
    EXPECT_TRUE(platform::folderExists(AppDir + "upgr_bak"));
    EXPECT_TRUE(site.screen.events.empty());
}

TEST(CheckForUpdate, UpdateInfoWithTwoLinesIsIgnored) {
    UpdateSite site;
    const std::string builtInUrl = UpdateUrl;
    writeFile(AppDir + "upg_info.txt", "other.exe\r\nhttp://127.0.0.1:1/x/\r\n");
    site.update.CheckForUpdate(site.screen, site.http);
    EXPECT_EQ(ProgramExeName, "quillary.exe");
    EXPECT_EQ(UpdateUrl, builtInUrl);
    EXPECT_EQ(ProductSection, "Quillary");
    EXPECT_EQ(site.requestsFor("/update/version.txt"), 1);
}

TEST(CheckForUpdate, UpdateInfoLinesAreTakenWholeAndTheFourthIgnored) {
    UpdateSite site;
    const std::string url = site.server.url("/other/");
    writeFile(AppDir + "upg_info.txt", "organizer.exe \r\n" + url + "\r\nQuill Pro \r\nignored\r\n");
    site.update.CheckForUpdate(site.screen, site.http);
    EXPECT_EQ(ProgramExeName, "organizer.exe ");
    EXPECT_EQ(UpdateUrl, url);
    EXPECT_EQ(ProductSection, "Quill Pro ");
    EXPECT_EQ(site.requestsFor("/other/version.txt"), 1);
}

TEST(FetchUpdateInfo, ReadsTheOfferedVersionAndFileWithoutUpdatingWhenNotNewer) {
    UpdateSite site;
    writeFile(AppDir + "version.ini", "old");
    site.serveVersionFile("[Other]\r\nversion=9.0\r\n[quillary]\r\nversion=1.0\r\nfile=upd.zip\r\n");
    site.update.FetchUpdateInfo(site.screen, site.http);
    EXPECT_EQ(site.update.UpdateVersion, "1.0");
    EXPECT_EQ(site.update.UpdateFileName, "upd.zip");
    EXPECT_EQ(readFile(AppDir + "version.ini"), "[Other]\r\nversion=9.0\r\n[quillary]\r\nversion=1.0\r\nfile=upd.zip\r\n");
    EXPECT_EQ(site.requestsFor("/update/upd.zip"), 0);
    EXPECT_TRUE(site.screen.events.empty());
}

TEST(FetchUpdateInfo, MissingSectionOffersNothing) {
    UpdateSite site;
    site.serveVersionFile("[Other]\r\nversion=9.0\r\nfile=x.zip\r\n");
    site.update.FetchUpdateInfo(site.screen, site.http);
    EXPECT_EQ(site.update.UpdateVersion, "");
    EXPECT_EQ(site.update.UpdateFileName, "");
    EXPECT_TRUE(site.screen.events.empty());
}

TEST(FetchUpdateInfo, FailedFetchKeepsEverythingAndShowsNothing) {
    UpdateSite site;
    writeFile(AppDir + "version.ini", "[Quillary]\r\nversion=2.0\r\nfile=old.zip\r\n");
    site.update.UpdateVersion = "earlier";
    site.update.UpdateFileName = "earlier.zip";
    site.update.FetchUpdateInfo(site.screen, site.http);  // 404
    EXPECT_EQ(site.update.UpdateVersion, "earlier");
    EXPECT_EQ(site.update.UpdateFileName, "earlier.zip");
    EXPECT_EQ(readFile(AppDir + "version.ini"), "[Quillary]\r\nversion=2.0\r\nfile=old.zip\r\n");
    EXPECT_TRUE(site.screen.events.empty());
}

TEST(FetchUpdateInfo, NewerVersionRunsTheUpdate) {
    UpdateSite site;
    site.serveArchive("upd.zip", {{"readme.txt", "new readme"}});
    site.serveVersionFile("[Quillary]\r\nversion=1.1\r\nfile=upd.zip\r\n");
    site.update.FetchUpdateInfo(site.screen, site.http);
    EXPECT_EQ(readFile(AppDir + "readme.txt"), "new readme");
    EXPECT_TRUE(site.screen.closed);
}

TEST(ReadProgramVersion, TakesMajorAndMinorOfTheNamedProgram) {
    UpdateSite site;
    ProgramExeName = "organizer.exe";
    writeFile(AppDir + "organizer.exe", vendorkit::buildPeWithVersion(3, 12, 0, 7, false));
    site.update.ReadProgramVersion();
    EXPECT_EQ(CurrentVersion, "3.12");
}

TEST(CheckForUpdate, InstalledVersionDecidesAgainstTheOffer) {
    UpdateSite site;
    writeFile(AppDir + "quillary.exe", vendorkit::buildPeWithVersion(2, 0, 0, 0, true));
    site.serveArchive("upd.zip", {{"readme.txt", "new readme"}});
    site.serveVersionFile("[Quillary]\r\nversion=1.5\r\nfile=upd.zip\r\n");
    site.update.CheckForUpdate(site.screen, site.http);  // 1.5 would be newer than the built-in 1.0
    EXPECT_EQ(CurrentVersion, "2.0");
    EXPECT_EQ(site.requestsFor("/update/upd.zip"), 0);
    EXPECT_FALSE(platform::fileExists(AppDir + "readme.txt"));
}

TEST(ReadProgramVersion, KeepsTheVersionWhenTheProgramHasNone) {
    UpdateSite site;
    CurrentVersion = "3.4";
    site.update.ReadProgramVersion();  // no program file
    EXPECT_EQ(CurrentVersion, "3.4");
    writeFile(AppDir + "quillary.exe", "MZ but nothing else");
    site.update.ReadProgramVersion();
    EXPECT_EQ(CurrentVersion, "3.4");
    writeFile(AppDir + "quillary.exe", vendorkit::buildPeWithoutResources(false));
    site.update.ReadProgramVersion();
    EXPECT_EQ(CurrentVersion, "3.4");
}

}  // namespace
}  // namespace quill::testing
