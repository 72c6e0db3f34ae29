// The rows of real Firebird databases, from the statement to the result set.
#include "catalogue/client_data_set.h"
#include "catalogue/firebird_connection.h"
#include "catalogue/long_text.h"
#include "platform/error.h"
#include "support/temp_folder.h"
#include "vendorkit/catalogue_builder.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

using testing::TempFolder;
using vendorkit::TemplateRow;

class Records : public ::testing::Test {
protected:
    void attach(const std::string& path) {
        connection.params = {"Database=" + path, "user_name=SYSDBA", "password=quietbird"};
    }
    // The query sequence as the window runs it: fetch, rework long text, load.
    void load(const std::string& sql, BlobReading blobs = BlobReading::OnDemand) {
        data.close();
        RowBatch rows = connection.fetchAll(sql, blobs);
        decodeLongText(rows);
        data.open(std::move(rows));
    }
    void catalogue(const std::vector<TemplateRow>& rows) {
        vendorkit::createCatalogueDatabase(folder / "cat.fdb", rows);
        attach(folder / "cat.fdb");
    }

    TempFolder folder;
    FirebirdConnection connection;
    ClientDataSet data;
};

TEST_F(Records, LoadsEveryRowInStatementOrderWithItsColumns) {
    TemplateRow a = vendorkit::sampleTemplate(7, "Beta", "Home");
    a.price = 123456;  // 12.3456
    TemplateRow b = vendorkit::sampleTemplate(3, "Alpha", "Business");
    catalogue({a, b});
    load("SELECT * FROM TEMPLATES ORDER BY NAME");

    ASSERT_EQ(data.recordCount(), 2u);
    EXPECT_EQ(data.fieldText("NAME"), "Alpha");
    EXPECT_EQ(data.fieldInt("ID"), 3);
    EXPECT_EQ(data.fieldText("file"), "template3.zip");  // names without regard to case
    data.next();
    EXPECT_EQ(data.fieldText("NAME"), "Beta");
    EXPECT_EQ(data.fieldAmount("PRICE"), 123456);
    EXPECT_EQ(data.fieldText("PRICE"), "12.3456");
    data.next();
    EXPECT_TRUE(data.eof());
    data.first();
    EXPECT_EQ(data.fieldText("NAME"), "Alpha");
}

TEST_F(Records, LocateByIdMovesTheCurrentRowOnlyWhenFound) {
    catalogue({vendorkit::sampleTemplate(1, "A", "x"), vendorkit::sampleTemplate(2, "B", "x"),
               vendorkit::sampleTemplate(12, "C", "x")});
    load("SELECT * FROM TEMPLATES ORDER BY NAME");
    EXPECT_TRUE(data.locate("ID", "12"));
    EXPECT_EQ(data.fieldText("NAME"), "C");
    EXPECT_FALSE(data.locate("ID", "1 "));
    EXPECT_EQ(data.fieldText("NAME"), "C");
}

TEST_F(Records, NullsReadAsEmptyTextZeroAndZeroAmount) {
    TemplateRow row;
    row.name = "Only a name";
    catalogue({row});
    load("SELECT * FROM TEMPLATES");
    EXPECT_EQ(data.fieldInt("ID"), 0);
    EXPECT_EQ(data.fieldText("ID"), "");
    EXPECT_EQ(data.fieldAmount("PRICE"), 0);
    EXPECT_EQ(data.fieldText("DESCRIPTION"), "");
    EXPECT_EQ(data.fieldText("URL"), "");
}

TEST_F(Records, LongTextIsDecodedAsStrictUtf8) {
    TemplateRow accented = vendorkit::sampleTemplate(1, "A", "x");
    accented.description = "Caf\xC3\xA9 cr\xC3\xA8me \xE2\x82\xAC";
    TemplateRow invalid = vendorkit::sampleTemplate(2, "B", "x");
    invalid.description = "Caf\xE9 latin-1";
    TemplateRow big = vendorkit::sampleTemplate(3, "C", "x");
    big.description = std::string(200000, 'z') + "\xC3\xA9";  // many segments
    TemplateRow empty = vendorkit::sampleTemplate(4, "D", "x");
    empty.description = "";
    catalogue({accented, invalid, big, empty});
    for (BlobReading blobs : {BlobReading::Now, BlobReading::OnDemand}) {
        load("SELECT * FROM TEMPLATES ORDER BY NAME", blobs);
        EXPECT_EQ(data.fieldText("DESCRIPTION"), "Caf\xC3\xA9 cr\xC3\xA8me \xE2\x82\xAC");
        data.next();
        EXPECT_EQ(data.fieldText("DESCRIPTION"), "");
        data.next();
        EXPECT_EQ(data.fieldText("DESCRIPTION"), std::string(200000, 'z') + "\xC3\xA9");
        data.next();
        EXPECT_EQ(data.fieldText("DESCRIPTION"), "");
    }
}

TEST_F(Records, BlobsLeftForLaterGoWithTheConnection) {
    catalogue({vendorkit::sampleTemplate(1, "A", "x")});
    load("SELECT * FROM TEMPLATES");
    // Their transaction ends first, or the engine would refuse to detach.
    EXPECT_NO_THROW(connection.close());
    EXPECT_THROW(data.fieldText("DESCRIPTION"), AppError);
    EXPECT_EQ(data.fieldText("NAME"), "A");
    load("SELECT * FROM TEMPLATES");
    EXPECT_EQ(data.fieldText("DESCRIPTION"), vendorkit::sampleTemplate(1, "A", "x").description);
}

TEST_F(Records, NoMatchingRowsLeaveTheSetOpenAndEmpty) {
    catalogue({vendorkit::sampleTemplate(1, "A", "x")});
    load("SELECT * FROM TEMPLATES WHERE ID = 99");
    EXPECT_TRUE(data.active());
    EXPECT_TRUE(data.eof());
    EXPECT_EQ(data.recordCount(), 0u);
    EXPECT_EQ(data.fieldText("NAME"), "");
}

TEST_F(Records, OtherColumnTypesLoadWithSensibleText) {
    vendorkit::createDatabase(folder / "types.fdb",
                              {"CREATE TABLE T (S SMALLINT, B BIGINT, C CHAR(5), D DATE, TS TIMESTAMP, "
                               "DP DOUBLE PRECISION, BO BOOLEAN, BIN BLOB SUB_TYPE BINARY, N NUMERIC(9,2), "
                               "X DECIMAL(18,6), T BLOB SUB_TYPE TEXT)",
                               "INSERT INTO T VALUES (-5, 9000000000, 'ab', '2024-02-29', "
                               "'2024-02-29 13:45:06', 2.5, TRUE, x'00FF41', -12.30, 1.2345675, 'x')"});
    attach(folder / "types.fdb");
    load("SELECT * FROM T");
    EXPECT_EQ(data.fieldInt("S"), -5);
    EXPECT_EQ(data.fieldText("B"), "9000000000");
    EXPECT_THROW(data.fieldInt("B"), AppError);
    EXPECT_EQ(data.fieldText("C"), "ab");  // CHAR padding dropped
    EXPECT_EQ(data.fieldText("D"), "2024-02-29");
    EXPECT_EQ(data.fieldText("TS"), "2024-02-29 13:45:06");
    EXPECT_EQ(data.fieldText("DP"), "2.5");
    EXPECT_EQ(data.fieldAmount("DP"), 25000);
    EXPECT_EQ(data.fieldText("BO"), "True");
    EXPECT_EQ(data.fieldText("BIN"), std::string("\x00\xFF\x41", 3));  // binary blobs are not decoded
    EXPECT_EQ(data.fieldAmount("N"), -123000);
    EXPECT_EQ(data.fieldText("N"), "-12.3");
    EXPECT_EQ(data.fieldAmount("X"), 12346);  // six decimals rounded to four
    EXPECT_EQ(data.fieldText("T"), "x");
}

// A PRICE kept as text reaches the same currency range as the number columns:
// the largest amount on either side shows, the next one is refused as they refuse it.
TEST_F(Records, ATextAmountPastTheCurrencyRangeIsRefusedAsANumberColumnIsRefused) {
    const std::vector<std::string> texts = {"922337203685477.5807", "922337203685477.58074", "922337203685477",
                                            "-922337203685477.5808", "922337203685477.5808",
                                            "922337203685477.58075", "922337203685478", "-922337203685477.5809"};
    std::vector<std::string> statements = {"CREATE TABLE T (I INTEGER, P VARCHAR(40), B BIGINT)"};
    for (std::size_t i = 0; i < texts.size(); ++i)
        statements.push_back("INSERT INTO T VALUES (" + std::to_string(i) + ", '" + texts[i] + "', " +
                             (i == 6 ? "922337203685478" : "NULL") + ")");
    vendorkit::createDatabase(folder / "prices.fdb", statements);
    attach(folder / "prices.fdb");
    load("SELECT P, B FROM T ORDER BY I");

    const auto refusal = [&](const char* field) {
        try {
            data.fieldAmount(field);
        } catch (const AppError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(data.fieldAmount("P"), INT64_MAX);
    data.next();
    EXPECT_EQ(data.fieldAmount("P"), INT64_MAX);  // rounded down
    data.next();
    EXPECT_EQ(data.fieldAmount("P"), 9223372036854770000);
    data.next();
    EXPECT_EQ(data.fieldAmount("P"), INT64_MIN);
    data.next();
    EXPECT_EQ(refusal("P"), "'922337203685477.5808' is not a valid currency value");
    data.next();
    EXPECT_EQ(refusal("P"), "'922337203685477.58075' is not a valid currency value");  // rounded up past it
    data.next();
    EXPECT_EQ(refusal("P"), "'922337203685478' is not a valid currency value");
    EXPECT_EQ(refusal("B"), "'922337203685478' is not a valid currency value");
    data.next();
    EXPECT_EQ(refusal("P"), "'-922337203685477.5809' is not a valid currency value");
}

TEST_F(Records, MissingColumnsAndClosedSetsRaise) {
    vendorkit::createDatabase(folder / "nourl.fdb", {"CREATE TABLE TEMPLATES (ID INTEGER, NAME VARCHAR(10))",
                                                     "INSERT INTO TEMPLATES VALUES (1, 'a')"});
    attach(folder / "nourl.fdb");
    load("SELECT * FROM TEMPLATES");
    try {
        data.fieldText("URL");
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "Field 'URL' not found");
    }
    data.close();
    EXPECT_THROW(data.fieldText("NAME"), AppError);
    EXPECT_THROW(data.first(), AppError);
    EXPECT_THROW(data.locate("ID", "1"), AppError);
}

TEST_F(Records, FailuresCarryTheDatabasesOwnText) {
    catalogue({vendorkit::sampleTemplate(1, "A", "x")});
    try {
        load("SELECT * FROM NO_SUCH_TABLE");
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_NE(std::string(e.what()).find("Table unknown"), std::string::npos) << e.what();
    }
    // The attachment stays usable after a rejected statement.
    EXPECT_TRUE(connection.connected());
    load("SELECT * FROM TEMPLATES");
    EXPECT_EQ(data.recordCount(), 1u);

    FirebirdConnection other;
    other.params = {"Database=" + folder / "missing.fdb", "user_name=SYSDBA", "password=quietbird"};
    try {
        other.fetchAll("SELECT * FROM TEMPLATES");
        FAIL() << "no error";
    } catch (const AppError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.fdb"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(other.connected());
}

TEST_F(Records, TheConnectionOpensOnceAndRunsItsHookBeforeEachAttempt) {
    catalogue({vendorkit::sampleTemplate(1, "A", "x")});
    int hooks = 0;
    connection.beforeConnect = [&] { ++hooks; };
    load("SELECT * FROM TEMPLATES");
    load("SELECT * FROM TEMPLATES");
    EXPECT_EQ(hooks, 1);
    connection.close();
    EXPECT_FALSE(connection.connected());
    load("SELECT * FROM TEMPLATES");
    EXPECT_EQ(hooks, 2);
}

TEST_F(Records, DialectAndCharacterSetParametersReachTheDatabase) {
    catalogue({vendorkit::sampleTemplate(1, "A", "x")});
    const std::string quotedText = "SELECT \"word\" AS W FROM RDB$DATABASE";
    EXPECT_THROW(load(quotedText), AppError);  // dialect 3: a quoted identifier
    connection.close();
    connection.setParam("SQLDialect", "1");
    load(quotedText);  // dialect 1: a string
    EXPECT_EQ(data.fieldText("W"), "word");

    connection.close();
    connection.setParam("ServerCharSet", "NO_SUCH_SET");
    EXPECT_THROW(load("SELECT * FROM TEMPLATES"), AppError);
    connection.setParam("ServerCharSet", "WIN1252");
    // The statement travels in the connection's character set, and its text comes back from it.
    load("SELECT ASCII_VAL(CAST('\xC3\xA9' AS CHAR(1) CHARACTER SET OCTETS)) AS B, 'caf\xC3\xA9' AS W "
         "FROM RDB$DATABASE");
    EXPECT_EQ(data.fieldInt("B"), 0xE9);
    EXPECT_EQ(data.fieldText("W"), "caf\xC3\xA9");
}

TEST_F(Records, ParametersAreForcedByNameWithoutRegardToCase) {
    connection.params = {"DataBase=x", "User_Name=someone", "Password=old", "SQLDialect=1"};
    connection.setParam("user_name", "SYSDBA");
    connection.setParam("password", "quietbird");
    connection.setParam("RoleName", "R");
    EXPECT_EQ(connection.params,
              (std::vector<std::string>{"DataBase=x", "user_name=SYSDBA", "password=quietbird", "SQLDialect=1",
                                        "RoleName=R"}));
    EXPECT_EQ(connection.param("database"), "x");
    EXPECT_EQ(connection.dialect(), 1);
    // An empty value drops the line: empty and absent mean the same to the connection.
    connection.setParam("sqldialect", "");
    EXPECT_EQ(connection.params,
              (std::vector<std::string>{"DataBase=x", "user_name=SYSDBA", "password=quietbird", "RoleName=R"}));
    EXPECT_EQ(connection.dialect(), 3);
    connection.params.clear();
    EXPECT_EQ(connection.dialect(), 3);
}

}  // namespace
}  // namespace quill
