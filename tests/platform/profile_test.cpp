#include "platform/profile.h"

#include "platform/codepage.h"
#include "support/temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace quill::platform;
using quill::testing::TempFolder;
using quill::testing::writeFile;

namespace {

std::string value(const std::string& ini, const std::string& section, const std::string& key) {
    return profileStringFromBytes(ini, section, key, "<default>");
}

}  // namespace

TEST(ProfileLookup, IgnoresCaseOfSectionAndKey) {
    const std::string ini = "[Other]\r\nversion=9.9\r\n[QUILLARY]\r\nVersion=2.5\r\nFILE=upd.zip\r\n";
    EXPECT_EQ(value(ini, "Quillary", "version"), "2.5");
    EXPECT_EQ(value(ini, "quillary", "file"), "upd.zip");
    EXPECT_EQ(value(ini, "Other", "VERSION"), "9.9");
}

TEST(ProfileLookup, MissingSectionKeyOrFileGivesTheDefault) {
    const std::string ini = "[Quillary]\nversion=2.5\n[Next]\nfile=x\n[quillary]\nfile=late\n";
    EXPECT_EQ(value(ini, "Absent", "version"), "<default>");
    EXPECT_EQ(value(ini, "Quillary", "file"), "<default>");  // only the first section of the name counts
    EXPECT_EQ(value("", "Quillary", "version"), "<default>");
    TempFolder dir;
    EXPECT_EQ(readProfileString("Quillary", "version", "", dir / "missing.ini"), "");
}

TEST(ProfileLookup, TrimsBlanksAndOnePairOfQuotes) {
    const std::string ini =
        "  [Quillary]  \n"
        "  a =  spaced value \t\n"
        "b=\"quoted \"\n"
        "c='single'\n"
        "d=\"\"twice\"\"\n"
        "e=\"unbalanced\n"
        "f=\n";
    EXPECT_EQ(value(ini, "Quillary", "a"), "spaced value");
    EXPECT_EQ(value(ini, "Quillary", "b"), "quoted ");
    EXPECT_EQ(value(ini, "Quillary", "c"), "single");
    EXPECT_EQ(value(ini, "Quillary", "d"), "\"twice\"");
    EXPECT_EQ(value(ini, "Quillary", "e"), "\"unbalanced");
    EXPECT_EQ(value(ini, "Quillary", "f"), "");
}

TEST(ProfileLookup, CutsTheValueTo2047Characters) {
    const std::string ini = "[S]\nk=" + std::string(3000, 'x') + "\nw=" + std::string(2046, 'x') + "\xE9\xE9\n";
    EXPECT_EQ(value(ini, "S", "k"), std::string(2047, 'x'));
    // A character written as several UTF-8 bytes still counts as one.
    EXPECT_EQ(value(ini, "S", "w"), std::string(2046, 'x') + "\u00E9");
}

TEST(ProfileFile, ReadsAnsiAndUtf16LittleEndian) {
    TempFolder dir;
    writeFile(dir / "ansi.ini", "[Quillary]\r\nfile=caf\xE9.zip\r\n");
    EXPECT_EQ(readProfileString("Quillary", "file", "", dir / "ansi.ini"), "caf\u00E9.zip");
    writeFile(dir / "wide.ini", "\xFF\xFE" + utf8ToUtf16("[Quillary]\r\nfile=caf\u00E9.zip\r\n", false));
    EXPECT_EQ(readProfileString("quillary", "FILE", "", dir / "wide.ini"), "caf\u00E9.zip");
    writeFile(dir / "utf8.ini", "\xEF\xBB\xBF[Quillary]\r\nversion=1.5\r\n");
    EXPECT_EQ(readProfileString("Quillary", "version", "", dir / "utf8.ini"), "1.5");
}

TEST(ProfileFile, ReadsANameWithoutAFolderFromTheCurrentFolder) {
    // The profile API alone would look for such a name in the Windows folder.
    TempFolder dir;
    writeFile(dir / "here.ini", "[Quillary]\r\nversion=3.1\r\n");
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string value = readProfileString("Quillary", "version", "none", "here.ini");
    std::filesystem::current_path(before);
    EXPECT_EQ(value, "3.1");
}
