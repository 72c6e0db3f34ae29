// Every byte of code pages 1252 and 437 converts to the character Windows
// gives it, on Debian as on Windows: both builds check one committed table.
#include "platform/code_page_converter.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace quill::platform;

namespace {

struct Entry {
    unsigned codePage = 0;
    unsigned char byte = 0;
    char32_t character = 0;
};

std::vector<Entry> table() {
    std::ifstream in(QUILL_PLATFORM_FIXTURES "/code_pages.txt");
    std::vector<Entry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        unsigned codePage = 0, byte = 0, unit = 0;
        fields >> codePage >> std::hex >> byte >> unit;
        entries.push_back({codePage, static_cast<unsigned char>(byte), static_cast<char32_t>(unit)});
    }
    return entries;
}

std::string utf8Of(char32_t c) {
    std::string text;
    appendUtf8(text, c);
    return text;
}

}  // namespace

TEST(CodePageTable, EveryByteOf1252And437IsTheCharacterWindowsGivesIt) {
    const std::vector<Entry> entries = table();
    ASSERT_EQ(entries.size(), 512u) << "the table at " QUILL_PLATFORM_FIXTURES " was not read whole";
    std::map<unsigned, std::unique_ptr<CodePageConverter>> converters;
    for (const Entry& entry : entries) {
        auto& converter = converters[entry.codePage];
        if (!converter) converter = std::make_unique<CodePageConverter>(entry.codePage);
        const std::string byte(1, static_cast<char>(entry.byte));
        EXPECT_EQ(converter->toUtf8(byte), utf8Of(entry.character))
            << "code page " << entry.codePage << ", byte " << static_cast<int>(entry.byte);
        // And back: every byte of these code pages is a character of its own.
        EXPECT_EQ(converter->fromUtf8(utf8Of(entry.character), '?'), byte)
            << "code page " << entry.codePage << ", byte " << static_cast<int>(entry.byte);
    }
}

TEST(CodePageTable, TheAnsiCodePageAgreesWhenItIs1252) {
    if (ansiCodePage() != 1252) GTEST_SKIP() << "this machine's ANSI code page is " << ansiCodePage();
    for (const Entry& entry : table()) {
        if (entry.codePage != 1252) continue;
        const std::string byte(1, static_cast<char>(entry.byte));
        EXPECT_EQ(ansiToUtf8(byte), utf8Of(entry.character)) << "byte " << static_cast<int>(entry.byte);
        EXPECT_EQ(utf8ToAnsi(utf8Of(entry.character)), byte) << "byte " << static_cast<int>(entry.byte);
    }
}
