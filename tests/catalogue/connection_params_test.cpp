#include "catalogue/connection_params.h"

#include "support/error_of.h"
#include "workspace/app/line_list.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace quill::testing {
namespace {

using Strings = std::vector<std::string>;

TEST(ConnectionParams, TakeEveryNameValueLineOfEachSectionOfThatName) {
    TempFolder dir;
    writeFile(dir / "temp.ini",
              "Stray=before any section\r\n"
              "[ temp.FDB ]\r\n"
              "  Database = /data/temp.fdb \r\n"
              "; a comment\r\n"
              "\r\n"
              "no value here\r\n"
              "Password=\"quoted\"\r\n"
              "[other]\r\n"
              "RoleName=elsewhere\r\n"
              "[temp.fdb]\n"
              "SQLDialect=1\n");
    EXPECT_EQ(readIniSection(dir / "temp.ini", "temp.fdb"),
              (Strings{"Database=/data/temp.fdb", "Password=\"quoted\"", "SQLDialect=1"}));
    EXPECT_EQ(readIniSection(dir / "temp.ini", "absent"), Strings{});
    EXPECT_EQ(errorOf([&] { readIniSection(dir / "missing.ini", "temp.fdb"); }),
              "File " + dir.path() + "missing.ini not found");
}

// The settings are written through the line list and read back through the INI
// reader: a line one of them takes for Database is the line the other takes.
TEST(ConnectionParams, TheLineTheWriterSetsIsTheLineTheReaderTakes) {
    TempFolder dir;
    writeFile(dir / "temp.ini", "[temp.fdb]\r\n\tDatabase =/elsewhere/other.fdb\r\nSQLDialect=3\r\n");
    LineList lines;
    lines.loadFromFile(dir / "temp.ini");
    lines.setValue("Database", "/app/temp/temp.fdb");
    lines.saveToFile(dir / "temp.ini");
    EXPECT_EQ(readIniSection(dir / "temp.ini", "temp.fdb"), (Strings{"Database=/app/temp/temp.fdb", "SQLDialect=3"}));
}

}  // namespace
}  // namespace quill::testing
