// The check that reads a downloaded catalogue's pages before the engine does,
// on a file crafted to make it work: what it costs stays small whatever the
// file claims.
#include "catalogue/firebird_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace quill::testing {
namespace {

void put16(std::string& page, std::size_t at, std::uint16_t v) { std::memcpy(&page[at], &v, sizeof v); }
void put32(std::string& page, std::size_t at, std::uint32_t v) { std::memcpy(&page[at], &v, sizeof v); }

// An ODS 12 file whose RDB$PAGES runs through a chain of pointer pages, from
// page 1, listing `listed` data pages after them. The first `written` of those
// hold `slots` slots each, all pointing at the one small record of the page, a
// row of RDB$PAGES for page 1 of relation 0 of page type `rowType` (4: RDB$PAGES
// goes on at pointer page 1). A data page not written is a hole, as a download
// unpacks it from a few MB.
struct CraftedCatalogue {
    std::uint32_t pageSize = 32768;
    std::uint32_t listed = 0;
    std::uint32_t written = 0;
    std::uint16_t slots = 0;
    std::uint16_t lastSlots = 0;  // the last written page's slots when not 0
    std::uint16_t rowType = 4;

    void write(const std::string& path) const {
        const std::uint32_t perPointerPage = (pageSize - 32) / 4;
        const std::uint32_t pointerPages = (listed + perPointerPage - 1) / perPointerPage;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(1ull + pointerPages + listed) * pageSize), 0);
        const auto writePage = [&](std::uint32_t n, const std::string& page) {
            ASSERT_EQ(::pwrite(fd, page.data(), page.size(), static_cast<off_t>(n) * pageSize),
                      static_cast<ssize_t>(page.size()));
        };

        std::string header(pageSize, '\0');
        header[0] = 1;  // header page
        put16(header, 16, static_cast<std::uint16_t>(pageSize));
        put16(header, 18, 0x800C);  // ODS 12
        put32(header, 20, 1);       // RDB$PAGES' first pointer page
        writePage(0, header);

        std::uint32_t next = pointerPages + 1;
        for (std::uint32_t p = 1; p <= pointerPages; ++p) {
            std::string pointer(pageSize, '\0');
            pointer[0] = 4;
            put32(pointer, 20, p < pointerPages ? p + 1 : 0);
            std::uint16_t count = 0;
            for (; count < perPointerPage && next <= pointerPages + listed; ++count, ++next)
                put32(pointer, 32 + 4 * count, next);
            put16(pointer, 24, count);
            writePage(p, pointer);
        }

        for (std::uint32_t n = 0; n < written; ++n)
            writePage(pointerPages + 1 + n, dataPage(n + 1 == written && lastSlots != 0 ? lastSlots : slots));
        ASSERT_EQ(::close(fd), 0);
    }

    // The record: a 13-byte header with no flags, then the 18 bytes of the row
    // as one literal run: PAGE_NUMBER, RELATION_ID, PAGE_SEQUENCE, PAGE_TYPE.
    std::string dataPage(std::uint16_t count) const {
        const std::size_t recordAt = 24 + 4 * std::size_t{count}, recordLength = 13 + 1 + 18;
        std::string data(pageSize, '\0');
        data[0] = 5;
        put16(data, 22, count);
        for (std::uint16_t i = 0; i < count; ++i) {
            put16(data, 24 + 4 * i, static_cast<std::uint16_t>(recordAt));
            put16(data, 24 + 4 * i + 2, static_cast<std::uint16_t>(recordLength));
        }
        if (count > 0) {
            data[recordAt + 13] = 18;
            put32(data, recordAt + 14 + 4, 1);
            put16(data, recordAt + 14 + 16, rowType);
        }
        return data;
    }
};

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// The most the process's resident memory grew above where it stood, in KiB,
// while `work` ran: the kernel's peak is reset first.
template <typename Work>
long peakGrowthKiB(Work work) {
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKiB("VmRSS:");
    work();
    return statusKiB("VmHWM:") - before;
}

// The shape that once took a gigabyte: 1 GiB of 32 KiB pages whose data pages
// each hold 8,178 slots naming the same row.
TEST(CraftedCatalogueFile, AGigabyteOfSlotsNamingOneRowIsRefusedInLittleTimeAndMemory) {
    TempFolder folder;
    CraftedCatalogue file;
    file.listed = (1u << 30) / file.pageSize - 6;  // after the header and 5 pointer pages
    file.written = 1024;  // keeping a few bytes per slot of these would take 32 MiB
    file.slots = 8178;
    file.write(folder / "temp.fdb");

    OtherFiles found = OtherFiles::None;
    const std::clock_t start = std::clock();
    const long grewKiB = peakGrowthKiB([&] { found = otherFilesOf(folder / "temp.fdb"); });
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;

    EXPECT_EQ(found, OtherFiles::Unclear);
    EXPECT_LT(grewKiB, 4 * 1024) << "KiB";
    EXPECT_LT(seconds, 1.0);
}

// Rows of RDB$PAGES that name nothing of interest are still read, each once: a
// directory of more than 65,536 of them is larger than any catalogue's.
TEST(CraftedCatalogueFile, MoreRecordsThanAnyCatalogueHasAreRefused) {
    TempFolder folder;
    CraftedCatalogue file;
    file.slots = 4096;
    file.rowType = 0;
    file.listed = file.written = 16;  // 65,536 records
    file.write(folder / "edge.fdb");
    EXPECT_EQ(otherFilesOf(folder / "edge.fdb"), OtherFiles::None);
    file.listed = file.written = 17;
    file.lastSlots = 1;  // 65,537 records
    file.write(folder / "past.fdb");
    EXPECT_EQ(otherFilesOf(folder / "past.fdb"), OtherFiles::Unclear);
}

// Empty data pages cost a read each: past 1,024 pages in all the file is refused.
TEST(CraftedCatalogueFile, MorePagesThanAnyCatalogueDirectoryHasAreRefused) {
    TempFolder folder;
    CraftedCatalogue file;
    file.pageSize = 1024;  // 248 data pages to a pointer page
    // Header, 5 pointer pages and 1,018 data pages: 1,024 pages read.
    file.listed = file.written = 1018;
    file.write(folder / "edge.fdb");
    EXPECT_EQ(otherFilesOf(folder / "edge.fdb"), OtherFiles::None);
    file.listed = file.written = 1019;
    file.write(folder / "past.fdb");
    EXPECT_EQ(otherFilesOf(folder / "past.fdb"), OtherFiles::Unclear);
}

}  // namespace
}  // namespace quill::testing
