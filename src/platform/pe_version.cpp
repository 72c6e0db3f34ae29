#include "platform/pe_version.h"

#include <algorithm>
#include <vector>

namespace quill::platform {

namespace {

constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
// Real program files have a handful of sections; the format allows 96.
constexpr std::uint32_t kMaxSections = 96;

// Every read goes through here, so no offset from the file can escape it.
class Bytes {
public:
    Bytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool u16(std::uint64_t offset, std::uint16_t& out) const {
        if (!has(offset, 2)) return false;
        out = static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = static_cast<std::uint32_t>(data_[offset]) | (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
              (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
              (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

// The file offset of an RVA, or false when no section's file data holds it.
bool rvaToOffset(const std::vector<Section>& sections, std::uint32_t rva, std::uint64_t& offset) {
    for (const Section& s : sections) {
        const std::uint64_t span = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
        const std::uint64_t delta = rva - s.virtualAddress;
        if (delta >= s.rawSize) return false;
        offset = static_cast<std::uint64_t>(s.rawOffset) + delta;
        return true;
    }
    return false;
}

// One level of the resource tree: the entry with this id, or the first entry
// when id is negative. Gives the entry's OffsetToData field.
bool findEntry(const Bytes& file, std::uint64_t directory, long id, std::uint32_t& target) {
    std::uint16_t named = 0, ids = 0;
    if (!file.u16(directory + 12, named) || !file.u16(directory + 14, ids)) return false;
    const std::uint32_t total = static_cast<std::uint32_t>(named) + ids;
    for (std::uint32_t i = 0; i < total; ++i) {
        const std::uint64_t entry = directory + 16 + 8ull * i;
        std::uint32_t name = 0, data = 0;
        if (!file.u32(entry, name) || !file.u32(entry + 4, data)) return false;
        if (id < 0 || (i >= named && (name & kSubdirectoryBit) == 0 && name == static_cast<std::uint32_t>(id))) {
            target = data;
            return true;
        }
    }
    return false;
}

bool readSections(const Bytes& file, std::uint64_t table, std::uint16_t count, std::vector<Section>& sections) {
    if (count > kMaxSections) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint64_t at = table + 40ull * i;
        Section s{};
        if (!file.u32(at + 8, s.virtualSize) || !file.u32(at + 12, s.virtualAddress) ||
            !file.u32(at + 16, s.rawSize) || !file.u32(at + 20, s.rawOffset)) {
            return false;
        }
        sections.push_back(s);
    }
    return true;
}

// Finds the VS_FIXEDFILEINFO in a VS_VERSIONINFO block of `size` bytes at `block`.
std::optional<FileVersion> readVersionBlock(const Bytes& file, std::uint64_t block, std::uint64_t size) {
    static const char16_t kKey[] = u"VS_VERSION_INFO";
    constexpr std::uint64_t kKeyUnits = sizeof kKey / sizeof kKey[0];  // with its terminator
    std::uint16_t length = 0, valueLength = 0;
    if (size < 6 || !file.u16(block, length) || !file.u16(block + 2, valueLength)) return std::nullopt;
    if (valueLength == 0) return std::nullopt;  // no root block value to query
    const std::uint64_t limit = std::min<std::uint64_t>(size, length);
    for (std::uint64_t i = 0; i < kKeyUnits; ++i) {
        std::uint16_t unit = 0;
        if (6 + 2 * i + 2 > limit || !file.u16(block + 6 + 2 * i, unit) || unit != kKey[i]) return std::nullopt;
    }
    const std::uint64_t value = (6 + 2 * kKeyUnits + 3) & ~std::uint64_t{3};
    std::uint32_t signature = 0, fileVersionMS = 0;
    if (value + 16 > limit || !file.u32(block + value, signature) || signature != kFixedInfoSignature ||
        !file.u32(block + value + 8, fileVersionMS)) {
        return std::nullopt;
    }
    FileVersion version;
    version.major = static_cast<std::uint16_t>(fileVersionMS >> 16);
    version.minor = static_cast<std::uint16_t>(fileVersionMS & 0xFFFF);
    return version;
}

}  // namespace

std::optional<FileVersion> parseFileVersion(const unsigned char* data, std::size_t size) {
    if (data == nullptr) return std::nullopt;
    const Bytes file(data, size);
    std::uint16_t mz = 0;
    std::uint32_t peOffset = 0, signature = 0;
    if (!file.u16(0, mz) || mz != 0x5A4D || !file.u32(0x3C, peOffset)) return std::nullopt;
    if (!file.u32(peOffset, signature) || signature != 0x00004550) return std::nullopt;

    const std::uint64_t coff = static_cast<std::uint64_t>(peOffset) + 4;
    std::uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
    if (!file.u16(coff + 2, sectionCount) || !file.u16(coff + 16, optionalSize)) return std::nullopt;
    const std::uint64_t optional = coff + 20;
    if (!file.u16(optional, magic)) return std::nullopt;

    std::uint64_t countField, directories;
    if (magic == kPe32Magic) {
        countField = 92;
        directories = 96;
    } else if (magic == kPe32PlusMagic) {
        countField = 108;
        directories = 112;
    } else {
        return std::nullopt;
    }
    std::uint32_t directoryCount = 0, resourceRva = 0;
    const std::uint64_t resourceEntry = directories + 8ull * kResourceDirectoryIndex;
    if (!file.u32(optional + countField, directoryCount) || directoryCount <= kResourceDirectoryIndex ||
        resourceEntry + 8 > optionalSize || !file.u32(optional + resourceEntry, resourceRva) || resourceRva == 0) {
        return std::nullopt;
    }

    std::vector<Section> sections;
    if (!readSections(file, optional + optionalSize, sectionCount, sections)) return std::nullopt;
    std::uint64_t root = 0;
    if (!rvaToOffset(sections, resourceRva, root)) return std::nullopt;

    // Type, then name, then language: three levels, each a subdirectory but the last.
    std::uint32_t entry = 0;
    if (!findEntry(file, root, kRtVersion, entry) || (entry & kSubdirectoryBit) == 0) return std::nullopt;
    if (!findEntry(file, root + (entry & ~kSubdirectoryBit), -1, entry) || (entry & kSubdirectoryBit) == 0) {
        return std::nullopt;
    }
    if (!findEntry(file, root + (entry & ~kSubdirectoryBit), -1, entry) || (entry & kSubdirectoryBit) != 0) {
        return std::nullopt;
    }
    const std::uint64_t dataEntry = root + entry;
    std::uint32_t dataRva = 0, dataSize = 0;
    std::uint64_t dataOffset = 0;
    if (!file.u32(dataEntry, dataRva) || !file.u32(dataEntry + 4, dataSize) ||
        !rvaToOffset(sections, dataRva, dataOffset) || !file.has(dataOffset, dataSize)) {
        return std::nullopt;
    }
    return readVersionBlock(file, dataOffset, dataSize);
}

}  // namespace quill::platform
