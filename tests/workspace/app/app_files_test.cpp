#include "workspace/app/app_files.h"

#include "platform/error.h"
#include "platform/files.h"
#include "support/error_of.h"
#include "support/fake_screen.h"
#include "support/temp_folder.h"
#include "vendorkit/http_server.h"
#include "workspace/change/file_ops.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/names.h"

#include <gtest/gtest.h>

using namespace quill;
using quill::testing::makeFolders;
using quill::testing::readFile;
using quill::testing::TempFolder;
using quill::testing::writeFile;

namespace {

// A fresh application folder with its data and temp folders.
class AppFolder : public ::testing::Test {
protected:
    void SetUp() override {
        resetBuiltInNames();
        AppDir = app.path();
        DataDir = AppDir + "data/";
        makeFolders(DataDir);
        makeFolders(AppDir + "temp");
    }
    std::string templatesIni() const { return DataDir + "templates.ini"; }
    std::string tempIni() const { return AppDir + "temp/temp.ini"; }

    TempFolder app;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(AppFolder, FirstRunWritesExactlyMainEqualsDb) {
    TemplateRecord record;
    prepareTemplatesIni(record);
    EXPECT_EQ(readFile(templatesIni()), "Main=db\r\n");
    EXPECT_EQ(record.lines.lines(), Lines{"Main=db"});
    EXPECT_FALSE(record.fileUnreadable);
}

TEST_F(AppFolder, WithoutDataFolderTheListStillHoldsMainEqualsDb) {
    DataDir = AppDir + "nodata/";
    TemplateRecord record;
    prepareTemplatesIni(record);
    EXPECT_EQ(record.lines.lines(), Lines{"Main=db"});
    EXPECT_FALSE(platform::pathExists(templatesIni()));
    // Unpacking a template creates the data folder before the record is saved.
    makeFolders(DataDir);
    recordInstalledTemplate(record, "db");
    EXPECT_EQ(readFile(templatesIni()), "Main=db\r\n");
}

TEST_F(AppFolder, RecordKeepsTheUtf8MarkAndTheOtherLines) {
    writeFile(templatesIni(), "\xEF\xBB\xBF" "first=\xC3\xA9\nmain=xyz\rlast");
    TemplateRecord record;
    prepareTemplatesIni(record);
    recordInstalledTemplate(record, "db");
    EXPECT_EQ(readFile(templatesIni()), "\xEF\xBB\xBF" "first=\xC3\xA9\r\nMain=db\r\nlast\r\n");
}

TEST_F(AppFolder, RecordAppendsMainWhenThereIsNone) {
    writeFile(templatesIni(), "other=1\r\n");
    TemplateRecord record;
    prepareTemplatesIni(record);
    recordInstalledTemplate(record, "db");
    recordInstalledTemplate(record, "db");
    EXPECT_EQ(readFile(templatesIni()), "other=1\r\nMain=db\r\n");
}

TEST_F(AppFolder, RecordNeverWritesOverATemplatesIniThatCouldNotBeLoaded) {
    writeFile(templatesIni(), "organizer=lines\r\nMain=old\r\n");
    TemplateRecord record;
    {
        OutputFile writer(templatesIni());  // someone holds it for writing while we load
        writer.write("organizer=lines\r\nMain=old\r\n", 27);
        prepareTemplatesIni(record);
    }
    EXPECT_TRUE(record.fileUnreadable);
    recordInstalledTemplate(record, "db");
    EXPECT_EQ(readFile(templatesIni()), "organizer=lines\r\nMain=old\r\n");

    const std::string undecodable = "\xEF\xBB\xBF" "organizer=\xE9\r\nMain=old\r\n";
    writeFile(templatesIni(), undecodable);
    TemplateRecord second;
    prepareTemplatesIni(second);
    EXPECT_TRUE(second.fileUnreadable);
    recordInstalledTemplate(second, "db");
    EXPECT_EQ(readFile(templatesIni()), undecodable);
}

TEST_F(AppFolder, CatalogueIniTakesDbIniWithTheDatabaseLineInItsPlace) {
    writeFile(AppDir + "db.ini", "[organizer]\r\nUser_Name=x\r\nDATABASE=x\r\nSQLDialect=3\r\n");
    prepareCatalogueIni();
    EXPECT_EQ(readFile(tempIni()),
              "[temp.fdb]\r\nUser_Name=x\r\nDatabase=" + AppDir + "temp/temp.fdb\r\nSQLDialect=3\r\n");
    EXPECT_EQ(readFile(AppDir + "db.ini"), "[organizer]\r\nUser_Name=x\r\nDATABASE=x\r\nSQLDialect=3\r\n");
}

TEST_F(AppFolder, CatalogueIniGetsADatabaseLineLastWhenDbIniHasNone) {
    writeFile(AppDir + "db.ini", "[organizer]\nUser_Name=x\n");
    prepareCatalogueIni();
    EXPECT_EQ(readFile(tempIni()), "[temp.fdb]\r\nUser_Name=x\r\nDatabase=" + AppDir + "temp/temp.fdb\r\n");
}

TEST_F(AppFolder, EmptyDbIniLeavesAnEmptyCopyAndMissingDbIniNoFile) {
    prepareCatalogueIni();
    EXPECT_FALSE(platform::pathExists(tempIni()));
    writeFile(AppDir + "db.ini", "");
    prepareCatalogueIni();
    EXPECT_EQ(readFile(tempIni()), "");
}

TEST_F(AppFolder, CatalogueIniKeepsItsOwnLinesAndMarkOnTheNextRun) {
    writeFile(AppDir + "db.ini", "[organizer]\r\nDatabase=x\r\n");
    writeFile(tempIni(), "\xEF\xBB\xBF[old]\r\nDatabase=y\r\nCharSet=UTF8\r\n");
    prepareCatalogueIni();
    EXPECT_EQ(readFile(tempIni()),
              "\xEF\xBB\xBF[temp.fdb]\r\nDatabase=" + AppDir + "temp/temp.fdb\r\nCharSet=UTF8\r\n");
}

TEST_F(AppFolder, UpdateInfoWithTwoLinesIsIgnored) {
    writeFile(AppDir + "upg_info.txt", "other.exe\r\nhttp://elsewhere/\r\n");
    readUpdateInfo();
    EXPECT_EQ(ProgramExeName, "quillary.exe");
    EXPECT_EQ(UpdateUrl, "http://" + vendorHost() + "/quillary-web/update/");
    EXPECT_EQ(ProductSection, "Quillary");
}

TEST_F(AppFolder, UpdateInfoTakesTheFirstThreeLinesWhole) {
    writeFile(AppDir + "upg_info.txt", " other.exe\r\nhttp://elsewhere/up/\r\nQuillary Pro \r\nignored\r\n");
    readUpdateInfo();
    EXPECT_EQ(ProgramExeName, " other.exe");
    EXPECT_EQ(UpdateUrl, "http://elsewhere/up/");
    EXPECT_EQ(ProductSection, "Quillary Pro ");
}

TEST_F(AppFolder, KeepVersionIniReplacesTheFileAndReadsItsSection) {
    vendorkit::HttpServer server;
    server.serveBytes("/quillary-web/update/version.txt",
                      "[other]\r\nversion=9.0\r\n[quillary]\r\nVersion=1.5\r\nfile=upd15.zip\r\n"
                      "signature=c2lnbmF0dXJl\r\n");
    UpdateUrl = server.url("/quillary-web/update/");
    writeFile(AppDir + "version.ini", "[Quillary]\r\nversion=0.1\r\nfile=stale.zip\r\nextra=stale\r\n");
    HttpClient http;
    quill::testing::FakeScreen screen;
    VersionOffer offer = keepVersionIni(screen, http);
    EXPECT_EQ(offer.version, "1.5");
    EXPECT_EQ(offer.fileName, "upd15.zip");
    EXPECT_FALSE(offer.archive) << "nothing is signed without a key";
    EXPECT_EQ(readFile(AppDir + "version.ini"),
              "[other]\r\nversion=9.0\r\n[quillary]\r\nVersion=1.5\r\nfile=upd15.zip\r\n"
              "signature=c2lnbmF0dXJl\r\n");

    server.serveBytes("/quillary-web/update/version.txt", "[Elsewhere]\r\nversion=2.0\r\n");
    offer = keepVersionIni(screen, http);
    EXPECT_EQ(offer.version, "");
    EXPECT_EQ(offer.fileName, "");
}

// A server may send a version.txt without end, or announce one of any size:
// the fetch stops at 64 KB, before memory or version.ini fill up.
TEST_F(AppFolder, KeepVersionIniStopsAVersionFileLargerThanItMayBe) {
    vendorkit::HttpServer server;
    UpdateUrl = server.url("/quillary-web/update/");
    writeFile(AppDir + "version.ini", "kept");
    HttpClient http;
    quill::testing::FakeScreen screen;
    vendorkit::HttpResponse endless;
    endless.framing = vendorkit::BodyFraming::UntilClose;
    endless.endless = true;
    vendorkit::HttpResponse announced = vendorkit::HttpResponse::ok(std::string(kVersionFileLimit + 1, 'x'));
    for (const auto& response : {endless, announced}) {
        server.route("/quillary-web/update/version.txt", response);
        EXPECT_EQ(quill::testing::errorOf([&] { keepVersionIni(screen, http); }),
                  "The server sent more than 64 KB; the download was stopped.");
        EXPECT_EQ(readFile(AppDir + "version.ini"), "kept");
    }
    const std::string lines = "[Quillary]\r\nversion=2.0\r\n";
    server.serveBytes("/quillary-web/update/version.txt", lines + std::string(kVersionFileLimit - lines.size(), ';'));
    EXPECT_EQ(keepVersionIni(screen, http).version, "2.0");
}

TEST_F(AppFolder, KeepVersionIniRaisesOnAFailedFetchLeavingVersionIni) {
    vendorkit::HttpServer server;
    UpdateUrl = server.url("/quillary-web/update/");
    writeFile(AppDir + "version.ini", "kept");
    HttpClient http;
    quill::testing::FakeScreen screen;
    EXPECT_THROW(keepVersionIni(screen, http), AppError);
    EXPECT_EQ(readFile(AppDir + "version.ini"), "kept");
}
