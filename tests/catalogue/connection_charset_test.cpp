// Catalogue text through connections of other character sets: real Firebird
// databases made in UTF8, read and searched through WIN1252 and its kin.
#include "catalogue/catalogue_site.h"
#include "catalogue/firebird_charset.h"
#include "catalogue/firebird_connection.h"
#include "catalogue/long_text.h"
#include "platform/code_page_converter.h"
#include "platform/error.h"
#include "support/temp_folder.h"
#include "vendorkit/catalogue_builder.h"
#include "workspace/app/names.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace quill::testing {
namespace {

using Strings = std::vector<std::string>;

std::string withCharset(const std::string& dbIni, const std::string& charset) {
    std::string text = dbIni;
    const std::string from = "ServerCharSet=UTF8";
    text.replace(text.find(from), from.size(), "ServerCharSet=" + charset);
    return text;
}

TEST(CatalogueText, ShowsAndFindsAccentedTextThroughAWin1252Connection) {
    CatalogueSite site;
    writeFile(AppDir + "db.ini", withCharset(CatalogueSite::kDbIni, "WIN1252"));
    vendorkit::TemplateRow creme = vendorkit::sampleTemplate(1, "Cr\u00E8me br\u00FBl\u00E9e", "Caf\u00E9");
    creme.keywords = "dessert cr\u00E8me";
    creme.number = "N\u00B07";
    creme.license = "\u20AC 5";
    creme.description = "Caf\u00E9 au lait";  // long text: re-decoded as UTF-8, as before
    creme.url = "http://127.0.0.1/preview/cr\u00E8me.html";
    creme.file = "cr\u00E8me.zip";
    vendorkit::TemplateRow quiz = vendorkit::sampleTemplate(2, "Who Am I?", "Games");
    site.publish({creme, quiz});
    site.show();

    EXPECT_EQ(site.catalogue->connection().param("ServerCharSet"), "WIN1252");
    EXPECT_EQ(site.view.names(), (Strings{"Cr\u00E8me br\u00FBl\u00E9e", "Who Am I?"}));
    EXPECT_EQ(site.view.categories, (Strings{" All Categories", "Caf\u00E9", "Games"}));
    EXPECT_EQ(site.view.name, "Cr\u00E8me br\u00FBl\u00E9e");
    EXPECT_EQ(site.view.keywords, "dessert cr\u00E8me");
    EXPECT_EQ(site.view.number, "N\u00B07");
    EXPECT_EQ(site.view.license, "\u20AC 5");
    EXPECT_EQ(site.view.description, "Caf\u00E9 au lait");
    EXPECT_EQ(site.view.previews.back(), "http://127.0.0.1/preview/cr\u00E8me.html");
    EXPECT_EQ(site.catalogue->currentText("FILE"), "cr\u00E8me.zip");

    auto search = [&](const std::string& category, const std::string& keywords) {
        EXPECT_TRUE(site.view.chooseCategory(category)) << category;
        site.view.searchWordsText = keywords;
        site.catalogue->search();
        return site.view.names();
    };
    EXPECT_EQ(search(" All Categories", "cr\u00E8me"), Strings{"Cr\u00E8me br\u00FBl\u00E9e"});
    EXPECT_EQ(search(" All Categories", "BR\u00DBL\u00C9E"), Strings{"Cr\u00E8me br\u00FBl\u00E9e"});
    EXPECT_EQ(search("Caf\u00E9", ""), Strings{"Cr\u00E8me br\u00FBl\u00E9e"});
    EXPECT_EQ(search(" All Categories", "N\u00B07"), Strings{"Cr\u00E8me br\u00FBl\u00E9e"});
    // A character WIN1252 lacks can be in no text of this connection: nothing
    // matches it, not even the "?" a lossy conversion would have left.
    EXPECT_EQ(search(" All Categories", "\u03A9"), Strings{});
    EXPECT_EQ(search(" All Categories", "I\u03A9"), Strings{});
    EXPECT_EQ(search(" All Categories", ""), (Strings{"Cr\u00E8me br\u00FBl\u00E9e", "Who Am I?"}));
    EXPECT_TRUE(site.screen.boxes().empty());
}

class ConnectionCharset : public ::testing::Test {
protected:
    void connect(FirebirdConnection& connection, const std::string& database, const std::string& charset) {
        connection.params = {"Database=" + folder / database, "user_name=SYSDBA", "password=quietbird",
                             "ServerCharSet=" + charset};
    }
    RowBatch fetch(const std::string& database, const std::string& charset, const std::string& sql) {
        FirebirdConnection connection;
        connect(connection, database, charset);
        return connection.fetchAll(sql);
    }
    TempFolder folder;
};

TEST_F(ConnectionCharset, FollowsFirebirdsNamesAndLeavesNoneAndOctetsAlone) {
    vendorkit::createDatabase(folder / "c.fdb",
                              {"CREATE TABLE S (T VARCHAR(40), B VARCHAR(8) CHARACTER SET OCTETS, "
                               "D BLOB SUB_TYPE TEXT, N BLOB SUB_TYPE TEXT CHARACTER SET NONE)",
                               "INSERT INTO S VALUES ('Cr\u00E8me', x'C3A8FF', 'Caf\u00E9', 'Caf\u00E9')"});
    const std::string sql = "SELECT T, B, D, N FROM S WHERE T = 'Cr\u00E8me'";
    for (const char* charset : {"WIN1252", "win_1252", "LATIN1"}) {
        RowBatch rows = fetch("c.fdb", charset, sql);
        ASSERT_EQ(rows.rowCount(), 1u) << charset;
        EXPECT_EQ(rows.at(0, 0).text, "Cr\u00E8me") << charset;
        EXPECT_EQ(rows.at(0, 1).text, "\xC3\xA8\xFF") << charset;  // binary, as stored
        // Long text reaches the window through the provider's UTF-8 reading:
        // the UTF8 blob Firebird turned into the connection's set, and the NONE one it did not.
        decodeLongText(rows);
        EXPECT_EQ(rows.at(0, 2).text, "Caf\u00E9") << charset;
        EXPECT_EQ(rows.at(0, 3).text, "Caf\u00E9") << charset;

        // Read when asked for, they come the same.
        FirebirdConnection connection;
        connect(connection, "c.fdb", charset);
        RowBatch later = connection.fetchAll(sql, BlobReading::OnDemand);
        decodeLongText(later);
        EXPECT_TRUE(later.at(0, 2).unread && later.at(0, 3).unread) << charset;
        EXPECT_EQ(later.textAt(0, 2), "Caf\u00E9") << charset;
        EXPECT_EQ(later.textAt(0, 3), "Caf\u00E9") << charset;
    }
    // NONE hands the stored UTF-8 over untouched, and takes the statement as it is.
    const RowBatch none = fetch("c.fdb", "NONE", "SELECT T FROM S WHERE T = 'Cr\u00E8me'");
    ASSERT_EQ(none.rowCount(), 1u);
    EXPECT_EQ(none.at(0, 0).text, "Cr\u00E8me");
}

TEST_F(ConnectionCharset, MultiByteAndOtherSetsCarryTheirScriptsBothWays) {
    const std::vector<std::pair<std::string, std::string>> samples = {
        {"SJIS_0208", "\u65E5\u672C\u8A9E\u306E\u30C6\u30F3\u30D7\u30EC\u30FC\u30C8"},
        {"EUCJ_0208", "\u65E5\u672C\u8A9E"},
        {"CP943C", "\u65E5\u672C\u8A9E"},
        {"KSC_5601", "\uD55C\uAD6D\uC5B4"},
        {"BIG_5", "\u7E41\u9AD4\u4E2D\u6587"},
        {"GB_2312", "\u7B80\u4F53\u4E2D\u6587"},
        {"GBK", "\u7B80\u4F53\u4E2D\u6587"},
        {"GB18030", "\u7B80\u4F53\u4E2D\u6587"},
        {"WIN1251", "\u0428\u0430\u0431\u043B\u043E\u043D"},
        {"ISO8859_2", "\u0141\u00F3d\u017A"},
        {"WIN1258", "C\u00E1 ph\u00EA \u01A1 \u01B0 \u0111"},
    };
    std::vector<std::string> statements = {"CREATE TABLE S (ID INTEGER, T VARCHAR(40))"};
    for (std::size_t i = 0; i < samples.size(); ++i)
        statements.push_back("INSERT INTO S VALUES (" + std::to_string(i) + ", '" + samples[i].second + "')");
    vendorkit::createDatabase(folder / "m.fdb", statements);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& [charset, text] = samples[i];
        try {
            const RowBatch rows =
                fetch("m.fdb", charset, "SELECT T FROM S WHERE ID = " + std::to_string(i) + " AND T = '" + text + "'");
            ASSERT_EQ(rows.rowCount(), 1u) << charset;
            EXPECT_EQ(rows.at(0, 0).text, text) << charset;
        } catch (const AppError& e) {
            ADD_FAILURE() << charset << ": " << e.what();
        }
    }
}

// Every byte 0x80..0xFF of a one-byte set as Firebird reads it, in UTF-8; a byte
// Firebird has no character for reads as U+0000.
std::map<int, std::string> firebirdBytes(FirebirdConnection& utf8, const std::string& charset) {
    const RowBatch rows = utf8.fetchAll(
        "EXECUTE BLOCK RETURNS (B INTEGER, T VARCHAR(1) CHARACTER SET UTF8) AS BEGIN B = 128; "
        "WHILE (B < 256) DO BEGIN T = NULL; BEGIN "
        "T = CAST(CAST(ASCII_CHAR(B) AS VARCHAR(1) CHARACTER SET OCTETS) AS VARCHAR(1) CHARACTER SET " +
        charset + "); WHEN ANY DO T = NULL; END SUSPEND; B = B + 1; END END");
    std::map<int, std::string> out;
    for (std::size_t r = 0; r < rows.rowCount(); ++r)
        if (!rows.at(r, 1).isNull) out[static_cast<int>(rows.at(r, 0).number)] = rows.at(r, 1).text;
    return out;
}

// A byte Firebird fills with a control or private-use character is no letter of
// any catalogue text; ours reads it as U+FFFD.
bool isHoleFiller(const std::string& utf8) {
    if (utf8.size() == 2 && utf8[0] == '\xC2' && static_cast<unsigned char>(utf8[1]) < 0xA0) return true;
    return utf8.size() == 3 && utf8[0] == '\xEF' && static_cast<unsigned char>(utf8[1]) <= 0xA3;
}

TEST(CharsetTable, ReadsEveryOneByteSetAsFirebirdDoes) {
    TempFolder folder;
    vendorkit::createDatabase(folder / "c.fdb", {"CREATE TABLE X (I INTEGER)"});
    FirebirdConnection utf8;
    utf8.params = {"Database=" + folder / "c.fdb", "user_name=SYSDBA", "password=quietbird"};
    const RowBatch sets = utf8.fetchAll("SELECT RDB$CHARACTER_SET_ID, TRIM(RDB$CHARACTER_SET_NAME) "
                                        "FROM RDB$CHARACTER_SETS WHERE RDB$BYTES_PER_CHARACTER = 1");
    // Where Firebird keeps an older edition of the standard than the C library.
    const std::set<std::pair<std::string, int>> editions = {
        {"ISO8859_7", 0xA1}, {"ISO8859_7", 0xA2}, {"ISO8859_8", 0xAF}, {"KOI8U", 0xAE}, {"KOI8U", 0xBE}};
    std::set<std::string> checked;
    for (std::size_t s = 0; s < sets.rowCount(); ++s) {
        const std::string name = sets.at(s, 1).text;
        const unsigned codePage = codePageOfCharset(static_cast<int>(sets.at(s, 0).number));
        if (codePage == 0) continue;
        const platform::CodePageConverter converter(codePage);
        for (const auto& [byte, text] : firebirdBytes(utf8, name)) {
            const std::string ours = converter.toUtf8(std::string(1, static_cast<char>(byte)));
            if (editions.count({name, byte}) || text == std::string(1, '\0') || (ours == "\uFFFD" && isHoleFiller(text)))
                continue;
            EXPECT_EQ(ours, text) << name << " byte " << byte;
        }
        checked.insert(name);
    }
    for (const char* name : {"WIN1250", "WIN1251", "WIN1252", "WIN1253", "WIN1254", "WIN1255", "WIN1256", "WIN1257",
                             "WIN1258", "ISO8859_1", "ISO8859_2", "ISO8859_9", "ISO8859_13", "DOS437", "KOI8R"})
        EXPECT_TRUE(checked.count(name)) << name;
}

}  // namespace
}  // namespace quill::testing
