#include "workspace/app/line_list.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/error_of.h"
#include "support/temp_folder.h"
#include "workspace/change/file_ops.h"

#include <gtest/gtest.h>

using namespace quill;
using quill::testing::errorOf;
using quill::testing::readFile;
using quill::testing::TempFolder;
using quill::testing::writeFile;

namespace {

std::vector<std::string> decode(const std::string& bytes, TextEncoding* encoding = nullptr) {
    TextEncoding found = TextEncoding::None;
    auto lines = decodeLines(bytes, found);
    if (encoding) *encoding = found;
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineListDecode, SplitsAtEveryKindOfLineBreak) {
    EXPECT_EQ(decode("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(decode("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(decode("a\n\n"), (Lines{"a", ""}));
    EXPECT_EQ(decode("\r\n"), (Lines{""}));
    EXPECT_EQ(decode("a\n\rb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(decode(""), Lines{});
}

TEST(LineListDecode, NulEndsTheText) {
    EXPECT_EQ(decode(std::string("a\r\nb\0c\r\nd", 9)), (Lines{"a", "b"}));
    const std::string wide = "\xFF\xFE" + platform::utf8ToUtf16(std::string("x\0y", 3), false);
    EXPECT_EQ(decode(wide), (Lines{"x"}));
}

TEST(LineListDecode, TheMarkPicksTheEncoding) {
    TextEncoding encoding;
    EXPECT_EQ(decode("\xEF\xBB\xBF" "caf\xC3\xA9", &encoding), (Lines{"caf\u00E9"}));
    EXPECT_EQ(encoding, TextEncoding::Utf8);
    EXPECT_EQ(decode("\xFF\xFE" + platform::utf8ToUtf16("\u00E9\r\nb", false), &encoding), (Lines{"\u00E9", "b"}));
    EXPECT_EQ(encoding, TextEncoding::Utf16LE);
    EXPECT_EQ(decode("\xFE\xFF" + platform::utf8ToUtf16("\u00E9\r\nb", true), &encoding), (Lines{"\u00E9", "b"}));
    EXPECT_EQ(encoding, TextEncoding::Utf16BE);
    EXPECT_EQ(decode("caf\xE9", &encoding), (Lines{"caf\u00E9"}));
    EXPECT_EQ(encoding, TextEncoding::Ansi);
}

TEST(LineListDecode, InvalidUtf8GivesNoLinesButKeepsUtf8) {
    TextEncoding encoding;
    EXPECT_EQ(decode("\xEF\xBB\xBF" "good\r\nbad \xE9 here", &encoding), Lines{});
    EXPECT_EQ(encoding, TextEncoding::Utf8);
}

TEST(LineListFile, AnsiRoundTripsEveryByteOutsideLineBreaks) {
    TempFolder dir;
    std::string line;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n') line += static_cast<char>(b);
    }
    writeFile(dir / "a.txt", line + "\r\n" + line + "\r\n");
    LineList list;
    list.loadFromFile(dir / "a.txt");
    ASSERT_EQ(list.count(), 2);
    list.saveToFile(dir / "b.txt");
    EXPECT_EQ(readFile(dir / "b.txt"), line + "\r\n" + line + "\r\n");
}

TEST(LineListFile, Utf16FilesKeepTheirMarkAndByteOrder) {
    TempFolder dir;
    for (const bool big : {false, true}) {
        const std::string mark = big ? "\xFE\xFF" : "\xFF\xFE";
        writeFile(dir / "w.txt", mark + platform::utf8ToUtf16("Main=\u0416\U0001F600\nz", big));
        LineList list;
        list.loadFromFile(dir / "w.txt");
        list.saveToFile(dir / "w.txt");
        EXPECT_EQ(readFile(dir / "w.txt"), mark + platform::utf8ToUtf16("Main=\u0416\U0001F600\r\nz\r\n", big));
    }
}

TEST(LineListFile, Utf16FilesKeepEveryCodeUnitLoneSurrogatesIncluded) {
    TempFolder dir;
    // "Main=" then a lone high, a lone low and a reversed pair, "x" then a high at the very end.
    const std::u16string units = {u'M', u'a', u'i', u'n', u'=', 0xD800, u'a', 0xDC00, 0xDFFF, 0xDBFF, u'\r', u'\n',
                                  u'x', 0xDBFF, u'\r', u'\n'};
    for (const bool big : {false, true}) {
        std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
        for (const char16_t u : units) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            bytes += big ? std::string{hi, lo} : std::string{lo, hi};
        }
        writeFile(dir / "w.ini", bytes);
        LineList list;
        list.loadFromFile(dir / "w.ini");
        ASSERT_EQ(list.count(), 2);
        list.setValue("Main", list.value("main"));
        list.saveToFile(dir / "w.ini");
        EXPECT_TRUE(readFile(dir / "w.ini") == bytes) << (big ? "big-endian" : "little-endian");
    }
}

TEST(LineListFile, AValueWithALoneSurrogateKeepsAUtf8FileReadable) {
    TempFolder dir;
    writeFile(dir / "wide.ini", std::string("\xFF\xFE" "k\0=\0\x00\xD8" "b\0", 10));
    writeFile(dir / "u.ini", "\xEF\xBB\xBF" "Main=db\r\n");
    LineList wide, narrow;
    wide.loadFromFile(dir / "wide.ini");
    narrow.loadFromFile(dir / "u.ini");
    narrow.setValue("k", wide.value("k"));
    narrow.saveToFile(dir / "u.ini");
    narrow.loadFromFile(dir / "u.ini");
    EXPECT_EQ(narrow.lines(), (Lines{"Main=db", "k=\uFFFD" "b"}));
}

TEST(LineListFile, LfFileIsSavedWithCrLfInAnsi) {
    TempFolder dir;
    writeFile(dir / "lf.txt", "one\ntwo\n");
    LineList list;
    list.loadFromFile(dir / "lf.txt");
    list.saveToFile(dir / "lf.txt");
    EXPECT_EQ(readFile(dir / "lf.txt"), "one\r\ntwo\r\n");
}

TEST(LineListFile, NeverLoadedListIsAnsiWithQuestionMarks) {
    TempFolder dir;
    LineList list;
    list.append("Main=db");
    list.append("name=\u00E9\u0416");
    list.saveToFile(dir / "n.txt");
    EXPECT_EQ(readFile(dir / "n.txt"), "Main=db\r\nname=\xE9?\r\n");
}

TEST(LineListFile, EmptyListKeepsOnlyTheMark) {
    TempFolder dir;
    writeFile(dir / "u.txt", "\xEF\xBB\xBF");
    LineList list;
    list.loadFromFile(dir / "u.txt");
    EXPECT_EQ(list.count(), 0);
    list.saveToFile(dir / "u.txt");
    EXPECT_EQ(readFile(dir / "u.txt"), "\xEF\xBB\xBF");
}

TEST(LineListFile, FailedLoadNamesTheFullPathAndKeepsTheLines) {
    TempFolder dir;
    LineList list;
    list.append("kept");
    EXPECT_EQ(errorOf([&] { list.loadFromFile(dir / "none.txt"); }),
              "Cannot open file \"" + dir.path() + "none.txt\". No such file or directory");
    EXPECT_EQ(list.lines(), Lines{"kept"});

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const std::string relative = errorOf([&] { list.loadFromFile("sub/../rel.txt"); });
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(relative, "Cannot open file \"" + dir.path() + "rel.txt\". No such file or directory");
}

TEST(LineListFile, LoadFailsWhileTheFileIsBeingWritten) {
    TempFolder dir;
    writeFile(dir / "busy.txt", "a\r\n");
    OutputFile writer(dir / "busy.txt");
    LineList list;
    EXPECT_EQ(errorOf([&] { list.loadFromFile(dir / "busy.txt"); }).rfind("Cannot open file \"", 0), 0u);
}

TEST(LineListFile, SavingOverAReadOnlyFileFailsAndKeepsIt) {
    TempFolder dir;
    writeFile(dir / "ro.txt", "old\r\n");
    platform::setReadOnly(dir / "ro.txt", true);
    LineList list;
    list.append("new");
    EXPECT_EQ(errorOf([&] { list.saveToFile(dir / "ro.txt"); }),
              "Cannot create file \"" + dir.path() + "ro.txt\". Permission denied");
    EXPECT_EQ(readFile(dir / "ro.txt"), "old\r\n");
}

TEST(LineListEdit, IndexPastTheEndFails) {
    LineList list;
    EXPECT_EQ(errorOf([&] { list.setLine(0, "x"); }), "List index out of bounds (0)");
    list.append("a");
    EXPECT_EQ(errorOf([&] { (void)list.line(1); }), "List index out of bounds (1)");
    EXPECT_EQ(errorOf([&] { (void)list.line(-1); }), "List index out of bounds (-1)");
    list.setLine(0, "b");
    EXPECT_EQ(list.line(0), "b");
}

// A name is read as the INI reader reads it, blanks and tabs around it aside,
// so a line the reader takes as Main is the line the list replaces.
TEST(LineListEdit, NamesMatchWithoutCaseOrSurroundingBlanksButWhole) {
    LineList list;
    list.append("no name here");
    list.append("M ain=inner blank");
    list.append(" \tMain \t= blank");
    list.append("main=a");
    list.append("\u00C4rger=1");
    EXPECT_EQ(list.indexOfName("MAIN"), 2);
    EXPECT_EQ(list.value("Main"), " blank");
    EXPECT_EQ(list.indexOfName("Mai"), -1);
    EXPECT_EQ(list.indexOfName("no name here"), -1);
    EXPECT_EQ(list.value("\u00E4RGER"), "1");
    EXPECT_EQ(list.value("absent"), "");
}

TEST(LineListEdit, SetValueReplacesInTheCallersSpellingOrAppends) {
    LineList list;
    list.append("main=a");
    list.append("Main=b");
    list.append("x=1=2");
    list.setValue("Main", "db");
    EXPECT_EQ(list.lines(), (Lines{"Main=db", "Main=b", "x=1=2"}));
    EXPECT_EQ(list.value("x"), "1=2");
    list.setValue("Database", "/a/temp.fdb");
    EXPECT_EQ(list.line(3), "Database=/a/temp.fdb");
    list.setValue("MAIN", "");
    EXPECT_EQ(list.lines(), (Lines{"Main=b", "x=1=2", "Database=/a/temp.fdb"}));
    list.setValue("absent", "");
    EXPECT_EQ(list.count(), 3);
}
