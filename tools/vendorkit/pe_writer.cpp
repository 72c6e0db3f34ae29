#include "pe_writer.h"

#include <string>
#include <vector>

namespace quill::vendorkit {

namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kResourceRva = 0x1000;
constexpr std::uint32_t kHeadersSize = 0x200;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

class Writer {
public:
    std::string bytes;
    void u8(std::uint8_t v) { bytes += static_cast<char>(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void raw(const std::string& s) { bytes += s; }
    void wide(const std::u16string& s) {
        for (const char16_t c : s) u16(c);
        u16(0);
    }
    void padTo(std::size_t size) { bytes.resize(size, '\0'); }
    void align(std::size_t alignment) { padTo((bytes.size() + alignment - 1) / alignment * alignment); }
};

// One node of a version resource: length, value length, type, key, value, children.
std::string versionNode(const std::u16string& key, const std::string& value, std::uint16_t valueLength,
                        bool text, const std::vector<std::string>& children) {
    Writer w;
    w.u16(0);  // length, filled in below
    w.u16(valueLength);
    w.u16(text ? 1 : 0);
    w.wide(key);
    w.align(4);
    w.raw(value);
    for (const auto& child : children) {
        w.align(4);
        w.raw(child);
    }
    w.bytes[0] = static_cast<char>(w.bytes.size() & 0xFF);
    w.bytes[1] = static_cast<char>(w.bytes.size() >> 8);
    return w.bytes;
}

std::string textNode(const std::u16string& key, const std::u16string& value) {
    Writer v;
    v.wide(value);
    return versionNode(key, v.bytes, static_cast<std::uint16_t>(value.size() + 1), true, {});
}

std::u16string asciiToUtf16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string versionInfo(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision) {
    Writer fixed;
    const std::uint32_t ms = (static_cast<std::uint32_t>(major) << 16) | minor;
    const std::uint32_t ls = (static_cast<std::uint32_t>(build) << 16) | revision;
    fixed.u32(0xFEEF04BD);  // signature
    fixed.u32(0x00010000);  // structure version
    fixed.u32(ms);
    fixed.u32(ls);
    fixed.u32(ms);  // product version
    fixed.u32(ls);
    fixed.u32(0x3F);        // flags mask
    fixed.u32(0);           // flags
    fixed.u32(0x00040004);  // VOS_NT_WINDOWS32
    fixed.u32(1);           // VFT_APP
    fixed.u32(0);
    fixed.u32(0);
    fixed.u32(0);

    const std::u16string dotted = asciiToUtf16(std::to_string(major) + "." + std::to_string(minor) + "." +
                                               std::to_string(build) + "." + std::to_string(revision));
    const std::string table = versionNode(u"040904E4", "", 0, true,
                                          {textNode(u"CompanyName", u"Quillary"),
                                           textNode(u"FileDescription", u"Quillary organizer"),
                                           textNode(u"FileVersion", dotted),
                                           textNode(u"ProductName", u"Quillary"),
                                           textNode(u"ProductVersion", dotted)});
    const std::string strings = versionNode(u"StringFileInfo", "", 0, true, {table});
    Writer translation;
    translation.u16(0x0409);
    translation.u16(1252);
    const std::string vars = versionNode(u"VarFileInfo", "", 0, true,
                                         {versionNode(u"Translation", translation.bytes, 4, false, {})});
    return versionNode(u"VS_VERSION_INFO", fixed.bytes, static_cast<std::uint16_t>(fixed.bytes.size()), false,
                       {strings, vars});
}

const std::string kManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "<assemblyIdentity type=\"win32\" name=\"Quillary\" version=\"1.0.0.0\"/>\r\n"
    "</assembly>\r\n";

// The resource tree: types 16 (version) and 24 (manifest), each with name 1 and
// language 0x409, then the data entries, then the data.
std::string resourceSection(const std::string& version) {
    struct Leaf {
        std::uint32_t type;
        const std::string* data;
    };
    const Leaf leaves[] = {{16, &version}, {24, &kManifest}};
    constexpr std::uint32_t kLeaves = 2;
    constexpr std::uint32_t kDirectory = 16, kEntry = 8;
    const std::uint32_t rootSize = kDirectory + kLeaves * kEntry;
    const std::uint32_t levelSize = kDirectory + kEntry;
    const std::uint32_t nameDirs = rootSize;
    const std::uint32_t languageDirs = nameDirs + kLeaves * levelSize;
    const std::uint32_t dataEntries = languageDirs + kLeaves * levelSize;
    const std::uint32_t dataStart = dataEntries + kLeaves * 16;

    Writer w;
    auto directoryHeader = [&](std::uint16_t ids) {
        w.u32(0);
        w.u32(0);
        w.u16(4);
        w.u16(0);
        w.u16(0);  // named entries
        w.u16(ids);
    };
    directoryHeader(kLeaves);
    for (std::uint32_t i = 0; i < kLeaves; ++i) {
        w.u32(leaves[i].type);
        w.u32(0x80000000u | (nameDirs + i * levelSize));
    }
    for (std::uint32_t i = 0; i < kLeaves; ++i) {
        directoryHeader(1);
        w.u32(1);
        w.u32(0x80000000u | (languageDirs + i * levelSize));
    }
    for (std::uint32_t i = 0; i < kLeaves; ++i) {
        directoryHeader(1);
        w.u32(0x409);
        w.u32(dataEntries + i * 16);
    }
    std::uint32_t at = dataStart;
    std::vector<std::uint32_t> offsets;
    for (const Leaf& leaf : leaves) {
        offsets.push_back(at);
        at = alignUp(at + static_cast<std::uint32_t>(leaf.data->size()), 8);
    }
    for (std::uint32_t i = 0; i < kLeaves; ++i) {
        w.u32(kResourceRva + offsets[i]);
        w.u32(static_cast<std::uint32_t>(leaves[i].data->size()));
        w.u32(0);
        w.u32(0);
    }
    for (std::uint32_t i = 0; i < kLeaves; ++i) {
        w.padTo(offsets[i]);
        w.raw(*leaves[i].data);
    }
    return w.bytes;
}

std::string buildImage(const std::string& resources, bool pe32plus) {
    const bool hasResources = !resources.empty();
    const auto rawSize = alignUp(static_cast<std::uint32_t>(resources.size()), kFileAlignment);
    const auto virtualSize = static_cast<std::uint32_t>(resources.size());
    const std::uint16_t sections = hasResources ? 1 : 0;
    const std::uint16_t optionalSize = pe32plus ? 240 : 224;
    const std::uint32_t imageSize = alignUp(kResourceRva + alignUp(virtualSize, kSectionAlignment), kSectionAlignment);

    Writer w;
    w.raw("MZ");
    w.padTo(0x3C);
    w.u32(0x40);  // e_lfanew
    w.raw(std::string("PE\0\0", 4));
    w.u16(pe32plus ? 0x8664 : 0x014C);  // machine
    w.u16(sections);
    w.u32(0);  // time stamp
    w.u32(0);
    w.u32(0);
    w.u16(optionalSize);
    w.u16(pe32plus ? 0x0022 : 0x0102);  // executable, large-address-aware or 32-bit

    w.u16(pe32plus ? 0x20B : 0x10B);
    w.u8(14);  // linker version
    w.u8(0);
    w.u32(0);  // size of code
    w.u32(rawSize);
    w.u32(0);
    w.u32(0);  // entry point
    w.u32(kResourceRva);  // base of code
    if (pe32plus) {
        w.u64(0x140000000ull);
    } else {
        w.u32(kResourceRva);  // base of data
        w.u32(0x400000);
    }
    w.u32(kSectionAlignment);
    w.u32(kFileAlignment);
    w.u16(6);  // operating system version
    w.u16(0);
    w.u16(1);  // image version
    w.u16(0);
    w.u16(6);  // subsystem version
    w.u16(0);
    w.u32(0);
    w.u32(imageSize);
    w.u32(kHeadersSize);
    w.u32(0);       // checksum
    w.u16(2);       // Windows GUI
    w.u16(0x8140);  // NX compatible, dynamic base, terminal-server aware
    if (pe32plus) {
        w.u64(0x100000);
        w.u64(0x1000);
        w.u64(0x100000);
        w.u64(0x1000);
    } else {
        w.u32(0x100000);
        w.u32(0x1000);
        w.u32(0x100000);
        w.u32(0x1000);
    }
    w.u32(0);   // loader flags
    w.u32(16);  // data directories
    for (std::uint32_t i = 0; i < 16; ++i) {
        w.u32(i == 2 && hasResources ? kResourceRva : 0);
        w.u32(i == 2 && hasResources ? virtualSize : 0);
    }
    if (hasResources) {
        w.raw(std::string(".rsrc\0\0\0", 8));
        w.u32(virtualSize);
        w.u32(kResourceRva);
        w.u32(rawSize);
        w.u32(kHeadersSize);
        w.u32(0);
        w.u32(0);
        w.u16(0);
        w.u16(0);
        w.u32(0x40000040);  // initialised data, readable
    }
    w.padTo(kHeadersSize);
    w.raw(resources);
    w.padTo(kHeadersSize + rawSize);
    return w.bytes;
}

}  // namespace

std::string buildPeWithVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                               std::uint16_t revision, bool pe32plus) {
    return buildImage(resourceSection(versionInfo(major, minor, build, revision)), pe32plus);
}

std::string buildPeWithoutResources(bool pe32plus) { return buildImage(std::string(), pe32plus); }

}  // namespace quill::vendorkit
