// A downloaded catalogue that carries code, or points the engine at other files,
// shown beside a real organizer database: whatever it tries, the organizer's
// db/db.fdb and the rest of the application folder stay byte for byte as they were.
#include "catalogue/catalogue_site.h"
#include "catalogue/firebird_file.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/tree_snapshot.h"
#include "vendorkit/zip_writer.h"
#include "workspace/app/names.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace quill::testing {
namespace {

using vendorkit::TemplateRow;
using Strings = std::vector<std::string>;

std::vector<TemplateRow> twoTemplates() {
    return {vendorkit::sampleTemplate(1, "Contacts", "Business"), vendorkit::sampleTemplate(2, "Recipes", "Home")};
}

// The organizer's database as a hostile catalogue finds it, from where it was
// unpacked: no path from the vendor is needed.
const std::string kOrganizer = "REPLACE(RDB$GET_CONTEXT('SYSTEM', 'DB_NAME'), 'temp/temp.fdb', 'db/db.fdb')";
const std::string kLogin = " AS USER 'SYSDBA' PASSWORD 'quietbird'";
const std::string kWipe = "EXECUTE STATEMENT 'DELETE FROM ITEMS' ON EXTERNAL " + kOrganizer + kLogin;

// Every database trigger the engine knows, each emptying the organizer's table.
Strings wipingTriggers() {
    return {"CREATE TRIGGER WIPE_ON_CONNECT ON CONNECT AS BEGIN " + kWipe + "; END",
            "CREATE TRIGGER WIPE_ON_START ON TRANSACTION START AS BEGIN " + kWipe + "; END",
            "CREATE TRIGGER WIPE_ON_COMMIT ON TRANSACTION COMMIT AS BEGIN " + kWipe + "; END",
            "CREATE TRIGGER WIPE_ON_DISCONNECT ON DISCONNECT AS BEGIN " + kWipe + "; END"};
}

// Code that a SELECT runs reaches the organizer through a second attachment of
// the catalogue itself: its triggers run there, outside the reader's read-only
// transaction. The trigger spares the first attachment, so only the code that
// opens the second one empties the table.
const std::string kWipeFromSecondAttachment =
    "CREATE TRIGGER WIPE_FROM_SECOND ON CONNECT AS BEGIN "
    "IF (EXISTS (SELECT 1 FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
    "AND MON$SYSTEM_FLAG = 0)) THEN " + kWipe + "; END";
const std::string kSecondAttachment =
    "EXECUTE STATEMENT 'SELECT 1 FROM RDB$DATABASE' ON EXTERNAL RDB$GET_CONTEXT('SYSTEM', 'DB_NAME')" + kLogin +
    " INTO HIT";

// TEMPLATES as a view over a selectable procedure that gives one usual row.
Strings templatesAsAView() {
    return {kWipeFromSecondAttachment, "DROP TABLE TEMPLATES",
            "CREATE PROCEDURE LIST_TEMPLATES RETURNS (ID INTEGER, NAME VARCHAR(200), CATEGORY VARCHAR(100), "
            "NUMBER VARCHAR(50), KEYWORDS VARCHAR(500), DESCRIPTION BLOB SUB_TYPE TEXT, LICENSE VARCHAR(100), "
            "PRICE NUMERIC(18,4), URL VARCHAR(500), FILE VARCHAR(200)) AS DECLARE HIT INTEGER; BEGIN " +
                kSecondAttachment +
                "; ID = 1; NAME = 'Contacts'; CATEGORY = 'Business'; NUMBER = 'N1'; KEYWORDS = 'people'; "
                "DESCRIPTION = 'Names'; LICENSE = 'Standard'; PRICE = 19.99; "
                "URL = 'http://127.0.0.1/preview/1.html'; FILE = 'template1.zip'; SUSPEND; END",
            "CREATE VIEW TEMPLATES AS SELECT * FROM LIST_TEMPLATES"};
}

// A plain TEMPLATES with one more column, computed by such a procedure.
Strings aComputedColumn() {
    return {kWipeFromSecondAttachment,
            "CREATE PROCEDURE REACH_OUT RETURNS (HIT INTEGER) AS BEGIN " + kSecondAttachment + "; SUSPEND; END",
            "ALTER TABLE TEMPLATES ADD REACH COMPUTED BY ((SELECT HIT FROM REACH_OUT))"};
}

// A loopback port that counts who connects, and hangs up on each at once so a
// client that does connect fails fast instead of waiting for an answer.
class ListeningPort {
public:
    ListeningPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("no loopback port");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd waiting{fd_, POLLIN, 0};
                if (::poll(&waiting, 1, 50) <= 0) continue;
                const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0) continue;
                ++connections_;
                ::close(client);
            }
        });
    }
    ~ListeningPort() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

class HostileCatalogue : public ::testing::Test {
protected:
    HostileCatalogue() { makeFolders(AppDir + "db"); }

    // The organizer's working database, as a template installs it; from here on
    // the application folder must not change outside temp/.
    void organizerDatabase() {
        vendorkit::createTemplateDatabase(AppDir + "db/db.fdb");
        ASSERT_EQ(organizerItems(), 2);
        before = outsideTemp();  // counting attached it, which changed its header
    }

    // The application folder but for temp/, which the show step owns.
    TreeSnapshot outsideTemp() const {
        TreeSnapshot tree = snapshotTree(AppDir);
        for (auto it = tree.begin(); it != tree.end();)
            it = it->first.rfind("temp/", 0) == 0 ? tree.erase(it) : std::next(it);
        return tree;
    }

    int organizerItems() const {
        FirebirdConnection organizer;
        organizer.params = {"Database=" + AppDir + "db/db.fdb", "user_name=SYSDBA", "password=quietbird"};
        return static_cast<int>(organizer.fetchAll("SELECT COUNT(*) FROM ITEMS").at(0, 0).number);
    }

    // The main window shown, searched in and closed, as a user would; the text
    // of what stopped the show step, "" when nothing did.
    std::string showSearchAndClose() {
        std::string stopped;
        try {
            site.show();
        } catch (const AppError& e) {
            stopped = e.what();
        }
        if (stopped.empty()) site.catalogue->search();
        site.catalogue->close();
        return stopped;
    }

    void expectOrganizerUntouched() {
        EXPECT_EQ(treeDifferences(before, outsideTemp()), "");
        EXPECT_EQ(organizerItems(), 2);
    }

    // Refused as a catalogue that cannot be opened is: the show step stops with
    // the text, nothing is listed, and a later search meets the same refusal.
    void expectRefused(const std::string& text) {
        EXPECT_EQ(showSearchAndClose(), text);
        EXPECT_TRUE(site.screen.boxes().empty());
        EXPECT_EQ(site.view.templateCount(), 0);
        EXPECT_EQ(site.view.categoryCount(), 0);
        EXPECT_FALSE(site.catalogue->rows().active());
        try {
            site.catalogue->search();
            ADD_FAILURE() << "a later search opened the catalogue";
        } catch (const AppError& e) {
            EXPECT_EQ(std::string(e.what()), text);
        }
        EXPECT_FALSE(site.catalogue->connection().connected());
        expectOrganizerUntouched();
    }

    // temp.zip holding a temp.ini of its own and the catalogue of two templates,
    // whose data is damaged when asked.
    void publishWithSettings(const std::string& settings, bool damagedCatalogue = false) {
        vendorkit::createCatalogueDatabase(site.vendor / "temp.fdb", twoTemplates());
        {
            vendorkit::ZipWriter zip(site.vendor / "temp.zip");
            zip.addFile("temp.ini", settings);
            vendorkit::ZipEntryOptions options;
            options.damageDeflate = damagedCatalogue;
            zip.addFile("temp.fdb", readFile(site.vendor / "temp.fdb"), options);
            zip.finish();
        }
        site.server->serveFile(site.catalogueUrlPath(), site.vendor / "temp.zip");
    }

    // A catalogue outside temp/ that a hostile setting would have the list show.
    std::string otherCatalogue() {
        makeFolders(AppDir + "elsewhere");
        vendorkit::createCatalogueDatabase(AppDir + "elsewhere/other.fdb", {vendorkit::sampleTemplate(9, "Stolen", "x")});
        return AppDir + "elsewhere/other.fdb";
    }

    // The archive's catalogue listed, temp.ini as the user's db.ini makes it.
    void expectOwnCatalogueAndSettings() {
        EXPECT_EQ(showSearchAndClose(), "");
        EXPECT_EQ(site.view.names(), (Strings{"Contacts", "Recipes"}));
        EXPECT_EQ(readFile(AppDir + "temp/temp.ini"),
                  "[temp.fdb]\r\nDatabase=" + AppDir + "temp/temp.fdb\r\nUser_Name=organizer\r\nPassword=secret\r\n"
                  "ServerCharSet=UTF8\r\nSQLDialect=3\r\nBlobSize=-1\r\n");
        expectOrganizerUntouched();
    }

    CatalogueSite site;
    TreeSnapshot before;
};

// The archive's own temp.ini, with a line the settings' writer and reader once
// took for different names, would have the list show another database, and the
// engine write into it.
TEST_F(HostileCatalogue, ItsOwnSettingsNamingAnotherDatabaseAreNotTheConnections) {
    publishWithSettings("[temp.fdb]\r\nDatabase =" + otherCatalogue() + "\r\nSQLDialect=1\r\n");
    organizerDatabase();
    expectOwnCatalogueAndSettings();
}

TEST_F(HostileCatalogue, ItsOwnSettingsNamingAServerReachNoServer) {
    ListeningPort port;
    publishWithSettings("[temp.fdb]\r\nDatabase =127.0.0.1/" + std::to_string(port.port()) + ":/x.fdb\r\n");
    organizerDatabase();
    expectOwnCatalogueAndSettings();
    EXPECT_EQ(port.connections(), 0);
}

// The unpacking stops at the damaged catalogue with the settings before it
// written; what a later search would read is still the user's.
TEST_F(HostileCatalogue, ItsOwnSettingsDoNotStayWhenTheUnpackingStopsHalfWay) {
    publishWithSettings("[temp.fdb]\r\nDatabase =" + otherCatalogue() + "\r\n", true);
    organizerDatabase();
    site.show();
    ASSERT_EQ(site.screen.boxes().size(), 1u);
    EXPECT_EQ(readFile(AppDir + "temp/temp.ini"), CatalogueSite::kDbIni);
    expectOrganizerUntouched();
}

// Settings left by an earlier run, whose first Database line sits outside the
// catalogue's section: the writer points that one at the catalogue, the reader
// takes the section's. The connection opens the catalogue all the same.
TEST_F(HostileCatalogue, SettingsThatNameAnotherDatabaseInTheirSectionStillOpenTheCatalogue) {
    makeFolders(AppDir + "temp");
    writeFile(AppDir + "temp/temp.ini", "[temp.fdb]\r\n[other]\r\nDatabase=/nowhere.fdb\r\n[temp.fdb]\r\nDatabase=" +
                                            otherCatalogue() + "\r\n");
    site.publish(twoTemplates());
    organizerDatabase();
    EXPECT_EQ(showSearchAndClose(), "");
    EXPECT_EQ(site.view.names(), (Strings{"Contacts", "Recipes"}));
    EXPECT_EQ(site.catalogue->connection().param("Database"), AppDir + "temp/temp.fdb");
    expectOrganizerUntouched();
}

TEST_F(HostileCatalogue, ItsDatabaseTriggersDoNotRunAndItOpensAsUsual) {
    site.publish(twoTemplates(), wipingTriggers());
    organizerDatabase();
    EXPECT_EQ(showSearchAndClose(), "");
    EXPECT_TRUE(site.screen.boxes().empty());
    EXPECT_EQ(site.view.names(), (Strings{"Contacts", "Recipes"}));
    expectOrganizerUntouched();
}

TEST_F(HostileCatalogue, TemplatesAsAViewOverAProcedureIsRefused) {
    site.publish(twoTemplates(), templatesAsAView());
    organizerDatabase();
    expectRefused("The template catalogue holds code and is not opened: TEMPLATES is not a plain table.");
}

TEST_F(HostileCatalogue, AComputedColumnCallingAProcedureIsRefused) {
    site.publish(twoTemplates(), aComputedColumn());
    organizerDatabase();
    expectRefused("The template catalogue holds code and is not opened: TEMPLATES has a computed column.");
}

TEST_F(HostileCatalogue, TemplatesAsATemporaryTableIsRefused) {
    site.publish(twoTemplates(), {"DROP TABLE TEMPLATES",
                                  "CREATE GLOBAL TEMPORARY TABLE TEMPLATES (ID INTEGER, NAME VARCHAR(200), "
                                  "CATEGORY VARCHAR(100)) ON COMMIT PRESERVE ROWS"});
    organizerDatabase();
    expectRefused("The template catalogue holds code and is not opened: TEMPLATES is not a plain table.");
}

TEST_F(HostileCatalogue, AColumnOfABlobSubtypeOfItsOwnIsRefused) {
    // A blob filter, code in a module, translates such a subtype.
    site.publish(twoTemplates(), {"ALTER TABLE TEMPLATES ADD PACKED BLOB SUB_TYPE -7"});
    organizerDatabase();
    expectRefused(
        "The template catalogue holds code and is not opened: TEMPLATES has a column of a blob subtype of its own.");
}

// The engine writes a database's pages into its shadows from the attachment on,
// and into a conditional shadow without looking at what the file is: here the
// organizer's database, once the other shadow turns out missing.
TEST_F(HostileCatalogue, ShadowsInOtherFilesAreRefusedBeforeTheEngineOpensThem) {
    makeFolders(AppDir + "temp");
    site.publish(twoTemplates(), {"CREATE SHADOW 1 AUTO '" + AppDir + "temp/gone.shd'",
                                  "CREATE SHADOW 2 AUTO CONDITIONAL '" + AppDir + "db/db.fdb'"});
    // The shadows stay behind on the vendor's machine.
    ASSERT_EQ(std::remove((AppDir + "temp/gone.shd").c_str()), 0);
    ASSERT_EQ(std::remove((AppDir + "db/db.fdb").c_str()), 0);
    organizerDatabase();
    expectRefused(
        "The template catalogue refers to other files and is not opened: it lists files of its own, such as "
        "shadow copies.");
}

// Locked for a backup, the engine writes every changed page into the difference
// file the header names: the organizer's database.
TEST_F(HostileCatalogue, ADifferenceFileIsRefusedBeforeTheEngineWritesIt) {
    site.publish(twoTemplates(),
                 {"ALTER DATABASE ADD DIFFERENCE FILE '" + AppDir + "db/db.fdb'", "ALTER DATABASE BEGIN BACKUP"});
    ASSERT_EQ(std::remove((AppDir + "db/db.fdb").c_str()), 0);
    organizerDatabase();
    expectRefused(
        "The template catalogue refers to other files and is not opened: it is set up to write its changes into "
        "a backup difference file.");
}

// A database continued in a second file has the engine open that file for
// writing and take its pages for its own.
TEST_F(HostileCatalogue, ASecondaryFileIsRefusedBeforeTheEngineOpensIt) {
    site.publish(twoTemplates(), {"ALTER DATABASE ADD FILE '" + AppDir + "db/db.fdb' STARTING AT 300"});
    ASSERT_EQ(std::remove((AppDir + "db/db.fdb").c_str()), 0);
    organizerDatabase();
    expectRefused(
        "The template catalogue refers to other files and is not opened: it continues in further database "
        "files.");
}

// An encrypted database has the engine load the plugin its header names, and the
// name is a path: out of the plugins folder to a library the same archive could
// unpack into temp/, whose code would run in the program.
TEST_F(HostileCatalogue, AnEncryptedCatalogueIsRefusedBeforeTheEngineLoadsItsPlugin) {
    vendorkit::createCatalogueDatabase(site.vendor / "temp.fdb", twoTemplates());
    std::string bytes = readFile(site.vendor / "temp.fdb");
    bytes[42] = static_cast<char>(bytes[42] | 0x40);  // the header's flags: encrypted
    const std::string plugin = "../../../../../../tmp/libcat";
    bytes.replace(88, plugin.size(), plugin);  // the header's plugin name, 32 bytes at most
    writeFile(site.vendor / "temp.fdb", bytes);
    vendorkit::packDatabase(site.vendor / "temp.fdb", site.vendor / "temp.zip");
    site.server->serveFile(site.catalogueUrlPath(), site.vendor / "temp.zip");
    organizerDatabase();
    expectRefused("The template catalogue holds code and is not opened: it is encrypted by a plugin it names.");
}

// What the engine is told on every attachment, seen from inside it.
TEST(CatalogueConnection, ReadsInReadOnlyTransactionsWithoutGarbageCollection) {
    TempFolder folder;
    vendorkit::createCatalogueDatabase(folder / "cat.fdb", twoTemplates());
    FirebirdConnection connection;
    connection.params = {"Database=" + folder / "cat.fdb", "user_name=SYSDBA", "password=quietbird"};
    EXPECT_EQ(connection
                  .fetchAll("SELECT MON$GARBAGE_COLLECTION FROM MON$ATTACHMENTS "
                            "WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION")
                  .at(0, 0)
                  .number,
              0);
    EXPECT_EQ(connection
                  .fetchAll("SELECT MON$READ_ONLY FROM MON$TRANSACTIONS WHERE MON$TRANSACTION_ID = CURRENT_TRANSACTION")
                  .at(0, 0)
                  .number,
              1);
    EXPECT_EQ(connection.plan("SELECT * FROM TEMPLATES"), "PLAN (TEMPLATES NATURAL)");
}

// Whatever name it is given, the connection attaches in this process and never
// reaches a server.
TEST(CatalogueConnection, ANameOfAServerNeverLeavesTheMachine) {
    ListeningPort port;
    for (const std::string& name : {"127.0.0.1/" + std::to_string(port.port()) + ":/x.fdb",
                                    "inet://127.0.0.1:" + std::to_string(port.port()) + "//x.fdb"}) {
        FirebirdConnection connection;
        connection.params = {"Database=" + name, "user_name=SYSDBA", "password=quietbird"};
        EXPECT_THROW(connection.open(), AppError) << name;
        EXPECT_FALSE(connection.connected());
    }
    EXPECT_EQ(port.connections(), 0);
}

// The pages read before the engine opens a file, on files the engine made.
class DatabaseFilePages : public ::testing::Test {
protected:
    std::string database(const Strings& statements) {
        vendorkit::createDatabase(folder / "d.fdb", statements);
        return folder / "d.fdb";
    }
    TempFolder folder;
};

TEST_F(DatabaseFilePages, AnOrdinaryCatalogueNamesNoOtherFile) {
    vendorkit::createCatalogueDatabase(folder / "cat.fdb", twoTemplates());
    EXPECT_EQ(otherFilesOf(folder / "cat.fdb"), OtherFiles::None);
    // Nor after what a vendor might do to it: make and drop tables. (Not a backup lock taken
    // and released: it can leave RDB$FILES a data page until garbage collection has been
    // through it, and whatever RDB$FILES holds is refused, deleted rows too, since a
    // deletion may belong to a transaction that never committed.)
    EXPECT_EQ(otherFilesOf(database({"CREATE TABLE A (I INTEGER)", "CREATE TABLE B (I INTEGER)", "DROP TABLE A"})),
              OtherFiles::None);
}

TEST_F(DatabaseFilePages, WhatIsNoFirebird3DatabaseIsLeftToTheEngine) {
    EXPECT_EQ(otherFilesOf(folder / "missing.fdb"), OtherFiles::NotChecked);
    writeFile(folder / "text.fdb", "not a database at all");
    EXPECT_EQ(otherFilesOf(folder / "text.fdb"), OtherFiles::NotChecked);
    makeFolders(folder / "folder.fdb");
    EXPECT_EQ(otherFilesOf(folder / "folder.fdb"), OtherFiles::NotChecked);
}

TEST_F(DatabaseFilePages, ADirectoryThatCannotBeFollowedIsUnclear) {
    const std::string path = database({"CREATE TABLE A (I INTEGER)"});
    const std::string bytes = readFile(path);
    const std::size_t pageSize = static_cast<unsigned char>(bytes[16]) | static_cast<unsigned char>(bytes[17]) << 8;

    // Only the header page left: RDB$PAGES' pointer page is not there.
    writeFile(path, bytes.substr(0, pageSize));
    EXPECT_EQ(otherFilesOf(path), OtherFiles::Unclear);

    // A chain of header pages, which one file never has.
    std::string chained = bytes;
    chained[24] = 1;
    writeFile(path, chained);
    EXPECT_EQ(otherFilesOf(path), OtherFiles::Unclear);

    // Every page after the header blank.
    writeFile(path, bytes.substr(0, pageSize) + std::string(bytes.size() - pageSize, '\0'));
    EXPECT_EQ(otherFilesOf(path), OtherFiles::Unclear);
}

}  // namespace
}  // namespace quill::testing
