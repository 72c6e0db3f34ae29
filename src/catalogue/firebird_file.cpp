#include "catalogue/firebird_file.h"

#include "platform/file_reading.h"
#include "platform/file_status.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace quill {

namespace {

// The on-disk structure of Firebird 3 (ODS 12.0), in the machine's byte order
// as the engine itself reads it.
constexpr std::uint16_t kOds12 = 0x800C;  // Firebird's flag and major version 12
constexpr unsigned char kHeaderPage = 1, kPointerPage = 4, kDataPage = 5;

// Header page
constexpr std::size_t kPageSizeAt = 16, kOdsAt = 18, kPagesRelationAt = 20, kNextHeaderAt = 24, kFlagsAt = 42,
                      kCryptPluginAt = 88, kClumpletsAt = 132;
constexpr std::uint16_t kCryptProcess = 0x4, kEncrypted = 0x40;
constexpr std::uint16_t kBackupStateMask = 0xC00;  // locked for a backup, or being merged
constexpr unsigned char kEnd = 0, kSecondaryFile = 2, kLastPage = 3, kDifferenceFile = 6;

// Pointer page: a relation's data pages
constexpr std::size_t kPointerNextAt = 20, kPointerCountAt = 24, kPointerSlotsAt = 32;
// Data page: its records
constexpr std::size_t kDataCountAt = 22, kDataSlotsAt = 24;
// Record header and flags
constexpr std::size_t kRecordHeader = 13, kRecordFlagsAt = 10;
constexpr std::uint16_t kDeleted = 1, kFragment = 4, kIncomplete = 8, kBlob = 16, kDelta = 32;

// System relations, numbered by the engine, and the pointer page type in RDB$PAGES.
constexpr std::uint16_t kPagesRelation = 0, kFilesRelation = 10, kPointerPageType = 4;
// An RDB$PAGES record: null flags, then PAGE_NUMBER, RELATION_ID, PAGE_SEQUENCE, PAGE_TYPE.
constexpr std::size_t kPageNumberAt = 4, kRelationIdAt = 8, kPageTypeAt = 16, kPagesRecordSize = 18;

std::uint16_t u16(const unsigned char* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t u32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct Unclear {};  // thrown inside: the pages cannot be followed

// What the check reads, whatever the file claims: what it keeps grows with the
// records, its time with both. RDB$PAGES of a large database fills a few dozen
// pages with a few thousand records; a file that needs more is refused.
constexpr std::size_t kMostPages = 1024;     // pages read
constexpr std::size_t kMostRecords = 65536;  // records of RDB$PAGES examined

class PageFile {
public:
    explicit PageFile(const std::string& path) : fd_(platform::openFileForReading(path)) {}
    ~PageFile() { platform::closeFileForReading(fd_); }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // The first bytes, enough for the header's fixed part; false when they are not there.
    bool readStart(std::vector<unsigned char>& out) {
        if (fd_ < 0) return false;
        platform::FileStatus status;
        if (!platform::openFileStatus(fd_, status) || status.kind != platform::FileKind::file) return false;
        size_ = status.size;
        out.assign(kClumpletsAt, 0);
        return readAt(0, out);
    }

    void setPageSize(std::uint32_t size) { pageSize_ = size; }

    // Page n, whole and of the given type, into out (its room is reused). Every
    // page read counts against kMostPages.
    void page(std::uint32_t n, unsigned char type, std::vector<unsigned char>& out) {
        if (++pagesRead_ > kMostPages) throw Unclear{};
        if (static_cast<std::uint64_t>(n + 1ull) * pageSize_ > size_) throw Unclear{};
        out.resize(pageSize_);
        if (!readAt(static_cast<std::uint64_t>(n) * pageSize_, out) || out[0] != type) throw Unclear{};
    }

private:
    bool readAt(std::uint64_t offset, std::vector<unsigned char>& out) {
        return platform::readWholeRange(fd_, offset, out.data(), out.size());
    }

    int fd_;
    std::uint64_t size_ = 0;
    std::uint32_t pageSize_ = 0;
    std::size_t pagesRead_ = 0;
};

// What the header's clumplets and flags say; None when nothing.
OtherFiles headerFiles(const std::vector<unsigned char>& header) {
    if (u32(&header[kNextHeaderAt]) != 0) throw Unclear{};  // a chain of header pages, which one file never needs
    const std::uint16_t flags = u16(&header[kFlagsAt]);
    if ((flags & (kEncrypted | kCryptProcess)) || header[kCryptPluginAt] != 0) return OtherFiles::CryptPlugin;
    if (flags & kBackupStateMask) return OtherFiles::Difference;
    OtherFiles found = OtherFiles::None;
    std::size_t at = kClumpletsAt;
    for (;;) {
        if (at >= header.size()) throw Unclear{};
        const unsigned char type = header[at];
        if (type == kEnd) return found;
        if (at + 2 > header.size() || at + 2 + header[at + 1] > header.size()) throw Unclear{};
        if (type == kSecondaryFile || type == kLastPage) return OtherFiles::Secondary;
        if (type == kDifferenceFile) found = OtherFiles::Difference;
        at += 2 + header[at + 1];
    }
}

// A record's data, expanded from its run-length compression into out.
void expand(const unsigned char* in, std::size_t length, std::vector<unsigned char>& out) {
    out.clear();
    std::size_t i = 0;
    while (i < length) {
        const int control = static_cast<signed char>(in[i++]);
        if (control < 0) {
            if (i >= length) throw Unclear{};
            out.insert(out.end(), static_cast<std::size_t>(-control), in[i++]);
        } else {
            if (i + static_cast<std::size_t>(control) > length) throw Unclear{};
            out.insert(out.end(), in + i, in + i + control);
            i += static_cast<std::size_t>(control);
        }
        if (out.size() > 4096) throw Unclear{};  // far beyond any RDB$PAGES record
    }
}

// Every pointer page that RDB$PAGES gives a relation, in any of its record
// versions; those of RDB$PAGES itself are followed as they turn up.
class PagesDirectory {
public:
    PagesDirectory(PageFile& file, std::uint32_t firstPointerPage) : file_(file) { pagesPointers_.push_back(firstPointerPage); }

    std::set<std::uint32_t> pointerPagesOf(std::uint16_t relation) {
        for (std::size_t next = 0; next < pagesPointers_.size(); ++next) {
            for (std::uint32_t pointer = pagesPointers_[next]; pointer != 0;) {
                if (!visitedPointers_.insert(pointer).second) break;
                file_.page(pointer, kPointerPage, pointerPage_);
                const std::size_t count = slotCount(pointerPage_);
                for (std::size_t i = 0; i < count; ++i) {
                    const std::uint32_t dataPage = u32(&pointerPage_[kPointerSlotsAt + 4 * i]);
                    if (dataPage == 0 || !visitedData_.insert(dataPage).second) continue;
                    file_.page(dataPage, kDataPage, dataPage_);
                    readRecords(relation);
                }
                pointer = u32(&pointerPage_[kPointerNextAt]);
            }
        }
        return found_;
    }

    // How many data pages a pointer page lists, zeros included.
    static std::size_t slotCount(const std::vector<unsigned char>& page) {
        const std::size_t count = u16(&page[kPointerCountAt]);
        if (kPointerSlotsAt + 4 * count > page.size()) throw Unclear{};
        return count;
    }

    static bool listsAPage(const std::vector<unsigned char>& page) {
        const std::size_t count = slotCount(page);
        for (std::size_t i = 0; i < count; ++i)
            if (u32(&page[kPointerSlotsAt + 4 * i]) != 0) return true;
        return false;
    }

private:
    void readRecords(std::uint16_t relation) {
        const std::vector<unsigned char>& page = dataPage_;
        const std::size_t count = u16(&page[kDataCountAt]);
        if (kDataSlotsAt + 4 * count > page.size()) throw Unclear{};
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t offset = u16(&page[kDataSlotsAt + 4 * i]);
            const std::size_t length = u16(&page[kDataSlotsAt + 4 * i + 2]);
            if (length == 0) continue;
            if (++recordsRead_ > kMostRecords) throw Unclear{};
            if (length < kRecordHeader || offset + length > page.size()) throw Unclear{};
            const std::uint16_t flags = u16(&page[offset + kRecordFlagsAt]);
            // A blob or a fragment is no row; a deletion stub holds no data, and
            // the version before it is a record of this page or another.
            if (flags & (kBlob | kFragment | kDeleted)) continue;
            // Never written for RDB$PAGES: a row split over pages or kept as differences.
            if (flags & (kIncomplete | kDelta)) throw Unclear{};
            expand(&page[offset + kRecordHeader], length - kRecordHeader, row_);
            const std::vector<unsigned char>& row = row_;
            if (row.size() < kPagesRecordSize) throw Unclear{};
            if (u16(&row[kPageTypeAt]) != kPointerPageType) continue;
            const std::uint16_t owner = u16(&row[kRelationIdAt]);
            const std::uint32_t pageNumber = u32(&row[kPageNumberAt]);
            if (owner == kPagesRelation) pagesPointers_.push_back(pageNumber);
            if (owner == relation) found_.insert(pageNumber);
        }
    }

    PageFile& file_;
    std::vector<std::uint32_t> pagesPointers_;  // as found, repeats included: no more than the records
    std::set<std::uint32_t> visitedPointers_, visitedData_;
    std::set<std::uint32_t> found_;
    std::size_t recordsRead_ = 0;
    std::vector<unsigned char> pointerPage_, dataPage_, row_;  // room reused from page to page
};

}  // namespace

OtherFiles otherFilesOf(const std::string& path) {
    PageFile file(path);
    std::vector<unsigned char> start;
    if (!file.readStart(start) || start[0] != kHeaderPage || u16(&start[kOdsAt]) != kOds12)
        return OtherFiles::NotChecked;
    try {
        const std::uint32_t pageSize = u16(&start[kPageSizeAt]);
        if (pageSize < 1024 || (pageSize & (pageSize - 1)) != 0) throw Unclear{};
        file.setPageSize(pageSize);
        std::vector<unsigned char> page;
        file.page(0, kHeaderPage, page);
        const OtherFiles header = headerFiles(page);
        if (header != OtherFiles::None) return header;

        PagesDirectory directory(file, u32(&start[kPagesRelationAt]));
        std::set<std::uint32_t> visited;
        for (std::uint32_t first : directory.pointerPagesOf(kFilesRelation)) {
            for (std::uint32_t pointer = first; pointer != 0;) {
                if (!visited.insert(pointer).second) break;
                file.page(pointer, kPointerPage, page);
                if (PagesDirectory::listsAPage(page)) return OtherFiles::Listed;
                pointer = u32(&page[kPointerNextAt]);
            }
        }
        return OtherFiles::None;
    } catch (const Unclear&) {
        return OtherFiles::Unclear;
    }
}

}  // namespace quill
