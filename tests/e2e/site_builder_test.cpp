// The vendor site tool: the description it reads, the site it lays out (read
// back with the program's own archive, catalogue and version readers), its
// signing key, the demo application folder, and serving over loopback.

#include "catalogue/firebird_connection.h"
#include "platform/error.h"
#include "platform/pe_version.h"
#include "support/temp_folder.h"
#include "vendorkit/site_builder.h"
#include "vendorkit/site_demo_app.h"
#include "vendorkit/site_description.h"
#include "vendorkit/site_server.h"
#include "vendorkit/signing.h"
#include "workspace/transfer/http_client.h"
#include "workspace/trust/signature.h"
#include "workspace/transfer/zip_reader.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace quill::vendorkit {
namespace {

using testing::makeFolders;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

const char* const kSmallSite = R"(# two templates and an update
[template Recipe Box]
category = Home
number = H-110
keywords = recipe cooking
price = 4.9
license = Standard
file = recipe-box.zip
description = Café, crème brûlée:
  ingredients and times.
  .
  Shopping lists <b>too</b>.
sql = CREATE TABLE RECIPES (ID INTEGER, TITLE VARCHAR(100))
sql = INSERT INTO RECIPES VALUES (1, 'Crème brûlée')
data readme.txt = Recipe data
  second line
data pictures/crème.txt = picture

[template Project Tasks]
id = 1
category = Business
file = project-tasks.zip
url =

[version]
version = 1.1
file = quillary-1.1.zip
program quillary.exe = 1.1.0.0
put readme.txt = Quillary 1.1
put help/manual.txt = Manual
script run.sh = #!/bin/sh
  echo started
)";

std::string parseError(const std::string& text) {
    try {
        parseSiteDescription(text, "site.txt");
    } catch (const AppError& e) {
        return e.message();
    }
    return "(no error)";
}

std::vector<std::string> entryNames(const std::string& archive) {
    ZipReader zip;
    zip.open(archive);
    std::vector<std::string> names;
    for (const auto& e : zip.entries()) names.push_back(e.name);
    return names;
}

std::map<std::string, std::string> unpacked(const std::string& archive, const std::string& folder) {
    unpackArchive(archive, folder);
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), folder).generic_string()] = readFile(entry.path().string());
    return files;
}

RowBatch query(const std::string& database, const std::string& sql) {
    FirebirdConnection connection;
    connection.params = {"Database=" + database, "user_name=SYSDBA", "password=quietbird", "ServerCharSet=UTF8"};
    return connection.fetchAll(sql);
}

std::size_t column(const RowBatch& rows, const std::string& name) {
    for (std::size_t i = 0; i < rows.columns.size(); ++i)
        if (rows.columns[i].name == name) return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
}

TEST(SiteDescriptionParse, ReadsEveryValueOfTemplatesAndVersion) {
    const SiteDescription site = parseSiteDescription(kSmallSite, "site.txt");
    ASSERT_EQ(site.templates.size(), 2u);
    const SiteTemplate& recipes = site.templates[0];
    EXPECT_EQ(recipes.name, "Recipe Box");
    EXPECT_EQ(recipes.id, 2) << "numbering skips the id another template takes";
    EXPECT_EQ(site.templates[1].id, 1);
    EXPECT_EQ(recipes.description, "Café, crème brûlée:\ningredients and times.\n\nShopping lists <b>too</b>.");
    EXPECT_EQ(recipes.price, 49000);
    EXPECT_FALSE(recipes.url.has_value()) << "no url: the generated page";
    EXPECT_EQ(site.templates[1].url, "") << "an empty url stays empty";
    EXPECT_FALSE(site.templates[1].number.has_value()) << "left out: NULL";
    ASSERT_EQ(recipes.sql.size(), 2u);
    ASSERT_EQ(recipes.dataFiles.size(), 2u);
    EXPECT_EQ(recipes.dataFiles[0].path, "readme.txt");
    EXPECT_EQ(recipes.dataFiles[0].text, "Recipe data\nsecond line");
    ASSERT_TRUE(site.version.has_value());
    EXPECT_EQ(site.version->section, "Quillary");
    ASSERT_EQ(site.version->files.size(), 4u);
    EXPECT_EQ(site.version->files[0].programVersion, "1.1.0.0");
    EXPECT_EQ(site.version->files[2].path, "help/manual.txt");
}

TEST(SiteDescriptionParse, NamesTheLineOfEachMistake) {
    const std::string head = "[template A]\nfile = a.zip\n";
    EXPECT_EQ(parseError(head + "colour = red\n"), "site.txt:3: unknown name \"colour\" in a template");
    EXPECT_EQ(parseError(head + "price = 12,50\n").rfind("site.txt:3: a price", 0), 0u);
    EXPECT_EQ(parseError(head + "file = b.zip\n"), "site.txt:3: \"file\" is given twice");
    EXPECT_EQ(parseError("\n  stray\n").rfind("site.txt:2: an indented line", 0), 0u);
    EXPECT_EQ(parseError("file = a.zip\n").rfind("site.txt:1:", 0), 0u);
    EXPECT_EQ(parseError("[templates]\n").rfind("site.txt:1: unknown section", 0), 0u);
    EXPECT_EQ(parseError("[template A]\ncategory = x\n"), "site.txt:1: template \"A\" has no \"file = NAME.zip\"");
    EXPECT_EQ(parseError(head + "[template A]\nfile = b.zip\n"), "site.txt:3: two templates are named \"A\"");
    EXPECT_EQ(parseError(head + "[template B]\nfile = A.ZIP\n"), "site.txt:3: two templates use the archive \"A.ZIP\"");
    EXPECT_EQ(parseError(head + "[template B]\nid = 1\nfile = b.zip\n[template C]\nid = 1\nfile = c.zip\n"),
              "site.txt:6: id 1 is used by two templates");
    EXPECT_EQ(parseError(head + "description = caf\xE9\n"), "site.txt:3: the line is not UTF-8 text");
    EXPECT_EQ(parseError("[version]\nfile = u.zip\n"), "site.txt:1: [version] has no \"version = ...\"");
    EXPECT_EQ(parseError("[version]\nversion = 1.1\nfile = u.zip\n[version]\n").rfind("site.txt:4:", 0), 0u);
    EXPECT_EQ(parseError("[version]\nversion = 1.1\nfile = u.zip\nprogram q.exe = 1.1\n").rfind("site.txt:4:", 0), 0u);
}

TEST(SiteDescriptionParse, RefusesPathsAndNamesThatEscapeOrCannotBeUnpacked) {
    const std::string head = "[template A]\nfile = a.zip\n";
    for (const char* path : {"../x.txt", "/etc/passwd", "a/../../x", "a\\b.txt", "a//b", "c:x", "sub/"})
        EXPECT_NE(parseError(head + "data " + path + " = x\n").find("site.txt:3:"), std::string::npos) << path;
    EXPECT_NE(parseError("[version]\nversion = 1\nfile = u.zip\nput ../../bin/x = y\n").find("site.txt:4:"),
              std::string::npos);
    // The program unpacks the downloaded name with its extension made ".zip".
    for (const char* name : {"sales.dat", "../a.zip", "a b.zip", ".zip", "temp.zip"})
        EXPECT_NE(parseError(std::string("[template A]\nfile = ") + name + "\n"), "(no error)") << name;
    EXPECT_EQ(parseError(head + "data db files/notes.txt = ok\n"), "(no error)");
}

TEST(SiteDescriptionParse, ReadsPricesAsTenThousandths) {
    EXPECT_EQ(parsePrice("0"), 0);
    EXPECT_EQ(parsePrice("12.5"), 125000);
    EXPECT_EQ(parsePrice("39.50"), 395000);
    EXPECT_EQ(parsePrice("1.2345"), 12345);
    EXPECT_EQ(parsePrice("99999999999999.9999"), 999999999999999999LL);
    for (const char* bad : {"", "12,50", "1.23456", ".5", "5.", "-1", "1e3", "1.2.3", "€5", "999999999999999"})
        EXPECT_THROW(parsePrice(bad), AppError) << bad;
}

class SiteBuild : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new TempFolder;
        buildSite(parseSiteDescription(kSmallSite, "site.txt"), site(), "127.0.0.1:9123");
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    static std::string site() { return *folder_ / "site/"; }
    static std::string templates() { return site() + kTemplatesFolder; }
    static TempFolder* folder_;
    TempFolder scratch_;
};
TempFolder* SiteBuild::folder_ = nullptr;

TEST_F(SiteBuild, CatalogueArchiveHoldsEveryTemplateAsTheProgramReadsIt) {
    EXPECT_EQ(entryNames(templates() + "temp.zip"), std::vector<std::string>{"temp.fdb"});
    unpackArchive(templates() + "temp.zip", scratch_.path());
    const RowBatch rows = query(scratch_ / "temp.fdb", "SELECT * FROM TEMPLATES ORDER BY NAME");
    ASSERT_EQ(rows.rowCount(), 2u);
    // ORDER BY NAME: "Project Tasks" first.
    EXPECT_EQ(rows.at(0, column(rows, "ID")).number, 1);
    EXPECT_EQ(rows.at(0, column(rows, "URL")).text, "");
    EXPECT_FALSE(rows.at(0, column(rows, "URL")).isNull);
    EXPECT_TRUE(rows.at(0, column(rows, "NUMBER")).isNull);
    EXPECT_EQ(rows.at(1, column(rows, "NAME")).text, "Recipe Box");
    EXPECT_EQ(rows.at(1, column(rows, "CATEGORY")).text, "Home");
    EXPECT_EQ(rows.at(1, column(rows, "NUMBER")).text, "H-110");
    EXPECT_EQ(rows.at(1, column(rows, "PRICE")).number, 49000);
    EXPECT_EQ(rows.columns[column(rows, "DESCRIPTION")].kind, ColumnKind::TextBlob);
    EXPECT_EQ(rows.at(1, column(rows, "DESCRIPTION")).text,
              "Café, crème brûlée:\ningredients and times.\n\nShopping lists <b>too</b>.");
    EXPECT_EQ(rows.at(1, column(rows, "URL")).text,
              "http://127.0.0.1:9123/quillary-web-templates/preview/recipe-box.html");
    EXPECT_EQ(rows.at(1, column(rows, "FILE")).text, "recipe-box.zip");
}

TEST_F(SiteBuild, TemplateArchiveHoldsItsDatabaseAndDataFolderAtTheRoot) {
    EXPECT_EQ(entryNames(templates() + "recipe-box.zip"),
              (std::vector<std::string>{"db.fdb", "db/", "db/readme.txt", "db/pictures/", "db/pictures/crème.txt"}));
    const auto files = unpacked(templates() + "recipe-box.zip", scratch_.path());
    EXPECT_EQ(files.at("db/readme.txt"), "Recipe data\r\nsecond line\r\n");
    EXPECT_EQ(files.at("db/pictures/crème.txt"), "picture\r\n");
    const RowBatch rows = query(scratch_ / "db.fdb", "SELECT TITLE FROM RECIPES");
    ASSERT_EQ(rows.rowCount(), 1u);
    EXPECT_EQ(rows.at(0, 0).text, "Crème brûlée");

    // A template with no data files still has its data folder.
    EXPECT_EQ(entryNames(templates() + "project-tasks.zip"), (std::vector<std::string>{"db.fdb", "db/"}));
}

TEST_F(SiteBuild, ArchivesRecordEachFilesUnixModeAsZipDoes) {
    // Made on Unix (3), the file's kind and mode in the high half: a program keeps its right to run.
    const std::map<std::string, std::uint32_t> expected{
        {"quillary.exe", 0100755}, {"readme.txt", 0100644}, {"help/", 040755}, {"help/manual.txt", 0100644}, {"run.sh", 0100755}};
    ZipReader reader;
    reader.open(site() + kUpdateFolder + "quillary-1.1.zip");
    for (const ZipEntry& entry : reader.entries()) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.versionMadeBy >> 8, 3);
        ASSERT_TRUE(expected.count(entry.name));
        EXPECT_EQ(entry.externalAttributes >> 16, expected.at(entry.name));
    }
    reader.open(templates() + "temp.zip");
    EXPECT_EQ(reader.entry(0).externalAttributes >> 16, 0100644u);
}

TEST_F(SiteBuild, PreviewPagesExistOnlyForTemplatesWithoutTheirOwnAddress) {
    const std::string page = readFile(templates() + "preview/recipe-box.html");
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("Café, crème brûlée:<br>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;too&lt;/b&gt;"), std::string::npos) << "description text is escaped";
    EXPECT_NE(page.find("4.90"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(templates() + "preview/project-tasks.html"));
}

TEST_F(SiteBuild, UpdateFolderOffersTheVersionWithItsFiles) {
    EXPECT_EQ(readFile(site() + kUpdateFolder + "version.txt"),
              "[Quillary]\r\nversion=1.1\r\nfile=quillary-1.1.zip\r\n");
    EXPECT_FALSE(std::filesystem::exists(site() + kUpdateFolder + "quillary-1.1.zip.sig")) << "built without a key";
    const std::string archive = site() + kUpdateFolder + "quillary-1.1.zip";
    EXPECT_EQ(entryNames(archive),
              (std::vector<std::string>{"quillary.exe", "readme.txt", "help/", "help/manual.txt", "run.sh"}));
    const auto files = unpacked(archive, scratch_.path());
    EXPECT_EQ(files.at("readme.txt"), "Quillary 1.1\r\n");
    EXPECT_EQ(files.at("run.sh"), "#!/bin/sh\necho started\n") << "a shell takes a CR as part of the command";
    const auto version = platform::readFileVersion(scratch_ / "quillary.exe");
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->major, 1);
    EXPECT_EQ(version->minor, 1);
}

TEST(SigningKeyFile, IsTheOwnersAloneAndNeverOverwritten) {
    TempFolder folder;
    const std::string keyFile = folder / "vendor.pem";
    const mode_t umaskBefore = ::umask(0);  // the key's mode must not depend on the caller's umask
    const std::string publicKey = generateSigningKey(keyFile);
    ::umask(umaskBefore);
    struct stat status{};
    ASSERT_EQ(::stat(keyFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(SigningKey(keyFile).publicKeyBase64(), publicKey);
    EXPECT_TRUE(publicKeyFromBase64(publicKey).has_value());

    const std::string pem = readFile(keyFile);
    EXPECT_THROW(generateSigningKey(keyFile), AppError);
    EXPECT_EQ(readFile(keyFile), pem) << "the one key that signed the installed base is kept";
    EXPECT_NE(generateSigningKey(folder / "second.pem"), publicKey);

    writeFile(folder / "site.txt", kSmallSite);
    EXPECT_THROW(SigningKey(folder / "site.txt"), AppError);
    EXPECT_THROW(SigningKey(folder / "none.pem"), AppError);
}

TEST(SiteBuildFolder, RefusesAForeignFolderAndRebuildsItsOwnFromScratch) {
    TempFolder folder;
    writeFile(folder / "notes.txt", "mine");
    EXPECT_THROW(buildSite(parseSiteDescription("[template A]\nfile = a.zip\n", "s"), folder.path(), "h:1"), AppError);
    EXPECT_EQ(readFile(folder / "notes.txt"), "mine");

    const std::string site = folder / "site/";
    buildSite(parseSiteDescription("[template A]\nfile = a.zip\n", "s"), site, "h:1");
    buildSite(parseSiteDescription("[template B]\nfile = b.zip\n", "s"), site, "h:1");
    EXPECT_FALSE(std::filesystem::exists(site + kTemplatesFolder + "a.zip")) << "a stale archive would stay served";
    EXPECT_TRUE(std::filesystem::exists(site + kTemplatesFolder + "b.zip"));
    EXPECT_FALSE(std::filesystem::exists(site + kUpdateFolder + "version.txt")) << "no [version]: no update";
    EXPECT_THROW(buildSite(parseSiteDescription("[template B]\nfile = b.zip\n", "s"), site, "bad host/"), AppError);
}

TEST(DemoApp, LooksAsTheOrganizerSetupLeavesIt) {
    TempFolder folder;
    const std::string app = folder / "app/";
    createDemoApp(app, "127.0.0.1:9123");
    const std::string ini = readFile(app + "db.ini");
    EXPECT_EQ(ini.rfind("[quillary]\r\n", 0), 0u);
    EXPECT_NE(ini.find("\r\nDatabase=" + app + "db/db.fdb\r\n"), std::string::npos);
    EXPECT_NE(ini.find("\r\nServerCharSet=UTF8\r\n"), std::string::npos);
    EXPECT_NE(ini.find("\r\nSQLDialect=3\r\n"), std::string::npos);
    EXPECT_EQ(readFile(app + "upg_info.txt"), "quillary.exe\r\nhttp://127.0.0.1:9123/quillary-web/update/\r\nQuillary\r\n");
    const auto version = platform::readFileVersion(app + "quillary.exe");
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->major, 1);
    EXPECT_EQ(version->minor, 0);
    EXPECT_EQ(readFile(app + "readme.txt"), kDemoReadme);
    EXPECT_TRUE(std::filesystem::is_empty(app + "db"));
    EXPECT_TRUE(std::filesystem::is_empty(app + "data"));

    // Made again, it starts fresh; a folder it did not make is left alone.
    writeFile(app + "version.ini", "left from a run");
    createDemoApp(app, "127.0.0.1:9123");
    EXPECT_FALSE(std::filesystem::exists(app + "version.ini"));
    makeFolders(folder / "organizer");
    writeFile(folder / "organizer/db.ini", "[real]\r\n");
    EXPECT_THROW(createDemoApp(folder / "organizer", "127.0.0.1:9123"), AppError);
    EXPECT_EQ(readFile(folder / "organizer/db.ini"), "[real]\r\n");
}

TEST(DemoSite, OffersWhatTheWholeRoadWalksThrough) {
    const SiteDescription site = loadSiteDescription(QUILL_DEMO_SITE);
    EXPECT_GE(site.templates.size(), 10u);
    std::set<std::string> categories;
    bool emptyUrl = false, accented = false;
    for (const auto& t : site.templates) {
        categories.insert(t.category.value_or(""));
        emptyUrl = emptyUrl || (t.url && t.url->empty());
        accented = accented || (t.description && std::any_of(t.description->begin(), t.description->end(),
                                                             [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
    }
    EXPECT_GE(categories.size(), 4u);
    EXPECT_TRUE(emptyUrl);
    EXPECT_TRUE(accented);

    // The update replaces two files a demo folder has and adds one in a subfolder it lacks.
    ASSERT_TRUE(site.version.has_value());
    EXPECT_EQ(site.version->version, "1.1");
    TempFolder folder;
    createDemoApp(folder / "app", "127.0.0.1:9123");
    int replaced = 0, addedBelow = 0;
    for (const auto& f : site.version->files) {
        const bool exists = std::filesystem::exists(folder / "app/" + f.path);
        replaced += exists;
        addedBelow += !exists && f.path.find('/') != std::string::npos;
    }
    EXPECT_EQ(replaced, 2);
    EXPECT_EQ(addedBelow, 1);
}

std::string rawGet(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return {};
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    (void)!::send(fd, request.data(), request.size(), 0);
    std::string response;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) response.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return response;
}

TEST(SiteServe, ServesTheFolderWithContentTypesOnLoopback) {
    TempFolder folder;
    makeFolders(folder / "quillary-web-templates/preview");
    writeFile(folder / "quillary-web-templates/preview/a.html", "<p>Café</p>");
    writeFile(folder / "quillary-web-templates/a.zip", std::string("PK\x03\x04\0\xff", 6));
    SiteServer server(folder.path(), 0);

    HttpClient client;
    MemorySink zip;
    client.fetch(server.baseUrl() + "/quillary-web-templates/a.zip", zip);
    EXPECT_EQ(zip.bytes, std::string("PK\x03\x04\0\xff", 6));
    const std::string page = rawGet(server.port(), "/quillary-web-templates/preview/a.html");
    EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8\r\n"), std::string::npos) << page;
    EXPECT_EQ(rawGet(server.port(), "/quillary-web-templates/missing.zip").rfind("HTTP/1.1 404", 0), 0u);
    EXPECT_EQ(rawGet(server.port(), "/../../etc/passwd").rfind("HTTP/1.1 404", 0), 0u);
    writeFile(folder / "later.txt", "added after the start");
    EXPECT_NE(rawGet(server.port(), "/later.txt").find("added after the start"), std::string::npos);
}

TEST(SiteServe, ListensOnTheLoopbackAddressOnly) {
    EXPECT_EQ(parseListenAddress("127.0.0.1:8765").port, 8765);
    EXPECT_EQ(parseListenAddress("localhost:9000").host, "127.0.0.1");
    EXPECT_EQ(parseListenAddress("8766").port, 8766);
    for (const char* bad : {"0.0.0.0:8765", "192.168.1.20:8765", "example.com:80", "127.0.0.1:0", "127.0.0.1:70000",
                            "127.0.0.1:", "127.0.0.1:80a"})
        EXPECT_THROW(parseListenAddress(bad), AppError) << bad;
}

}  // namespace
}  // namespace quill::vendorkit
