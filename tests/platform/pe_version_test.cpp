#include "platform/pe_version.h"

#include "support/temp_folder.h"
#include "vendorkit/pe_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace quill::platform;
using quill::testing::TempFolder;
using quill::testing::writeFile;
using quill::vendorkit::buildPeWithoutResources;
using quill::vendorkit::buildPeWithVersion;

namespace {

std::optional<FileVersion> parse(const std::string& bytes) {
    return parseFileVersion(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void putU32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

std::size_t findSignature(const std::string& bytes) { return bytes.find("\xBD\x04\xEF\xFE"); }

}  // namespace

TEST(FileVersionRead, GivesMajorAndMinorOfPe32AndPe32Plus) {
    for (const bool plus : {false, true}) {
        const auto version = parse(buildPeWithVersion(7, 12, 3, 4, plus));
        ASSERT_TRUE(version.has_value()) << "pe32plus " << plus;
        EXPECT_EQ(version->major, 7);
        EXPECT_EQ(version->minor, 12);
    }
    const auto high = parse(buildPeWithVersion(65535, 65534, 0, 0, true));
    ASSERT_TRUE(high.has_value());
    EXPECT_EQ(high->major, 65535);
    EXPECT_EQ(high->minor, 65534);
}

TEST(FileVersionRead, ReadsAProgramFileOnDisk) {
    TempFolder dir;
    writeFile(dir / "quillary.exe", buildPeWithVersion(2, 1, 0, 0, false));
    const auto version = readFileVersion(dir / "quillary.exe");
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->major, 2);
    EXPECT_EQ(version->minor, 1);
    EXPECT_FALSE(readFileVersion(dir / "missing.exe").has_value());
    EXPECT_FALSE(readFileVersion(dir.path()).has_value());
}

TEST(FileVersionRead, NoResourceOrNoSignatureGivesNoVersion) {
    EXPECT_FALSE(parse(buildPeWithoutResources(false)).has_value());
    EXPECT_FALSE(parse(buildPeWithoutResources(true)).has_value());
    std::string bytes = buildPeWithVersion(1, 0, 0, 0, false);
    bytes[findSignature(bytes)] = 0;
    EXPECT_FALSE(parse(bytes).has_value());
    EXPECT_FALSE(parse("").has_value());
    EXPECT_FALSE(parseFileVersion(nullptr, 0).has_value());
}

TEST(FileVersionRead, EveryTruncationGivesNoVersionOrTheRightOne) {
    for (const bool plus : {false, true}) {
        const std::string whole = buildPeWithVersion(3, 4, 0, 0, plus);
        // The padding after the resources is not needed, so only cuts inside them must fail.
        const std::size_t needed = findSignature(whole) + 16;
        for (std::size_t size = 0; size < whole.size(); ++size) {
            const auto version = parse(whole.substr(0, size));
            if (size < needed) {
                ASSERT_FALSE(version.has_value()) << "cut at " << size;
            } else if (version) {
                ASSERT_EQ(version->major, 3) << "cut at " << size;
            }
        }
    }
}

TEST(FileVersionRead, HostileOffsetsAndDirectoriesGiveNoVersion) {
    const std::string good = buildPeWithVersion(1, 2, 0, 0, false);
    const std::size_t peOffset = 0x40;
    const std::size_t optional = peOffset + 24;
    const std::size_t resources = 0x200;

    std::string farPe = good;
    putU32(farPe, 0x3C, 0xFFFFFFF0u);
    EXPECT_FALSE(parse(farPe).has_value());

    std::string hugeOptional = good;
    hugeOptional[peOffset + 20] = '\xFF';
    hugeOptional[peOffset + 21] = '\xFF';
    EXPECT_FALSE(parse(hugeOptional).has_value());

    std::string farRva = good;
    putU32(farRva, optional + 96 + 16, 0x7FFFF000u);
    EXPECT_FALSE(parse(farRva).has_value());

    // The type entry points back at the root: a reader that follows the tree
    // blindly would loop or accept the root as the next level.
    std::string loop = good;
    putU32(loop, resources + 20, 0x80000000u);
    EXPECT_FALSE(parse(loop).has_value());

    std::string manyEntries = good;
    manyEntries[resources + 14] = '\xFF';
    manyEntries[resources + 15] = '\xFF';
    manyEntries[resources + 12] = '\xFF';
    manyEntries[resources + 13] = '\xFF';
    EXPECT_FALSE(parse(manyEntries).has_value());
}

TEST(FileVersionRead, RandomDamageNeverCrashes) {
    const std::string good = buildPeWithVersion(1, 2, 0, 0, true);
    std::mt19937 random(42);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = good;
        for (int i = 0; i < 8; ++i) bytes[random() % bytes.size()] = static_cast<char>(random());
        const auto version = parse(bytes);
        if (version) {
            EXPECT_LE(version->major, 0xFFFF);
        }
    }
}

// On Windows the system's own reader (GetFileVersionInfoW) answers; both
// systems must read the same files alike.
TEST(FileVersionRead, ProgramFilesOnDiskGiveTheVersionsWrittenInThem) {
    TempFolder dir;
    const std::pair<std::uint16_t, std::uint16_t> versions[] = {{0, 0}, {1, 0}, {2, 1}, {7, 12}, {256, 1}, {65535, 65534}};
    for (const bool plus : {false, true}) {
        for (const auto& [major, minor] : versions) {
            const std::string name = "v" + std::to_string(major) + "_" + std::to_string(minor) + (plus ? "_64" : "") + ".exe";
            writeFile(dir / name, buildPeWithVersion(major, minor, 9, 9, plus));
            const auto version = readFileVersion(dir / name);
            ASSERT_TRUE(version.has_value()) << name;
            EXPECT_EQ(version->major, major) << name;
            EXPECT_EQ(version->minor, minor) << name;
        }
        writeFile(dir / "plain.exe", buildPeWithoutResources(plus));
        EXPECT_FALSE(readFileVersion(dir / "plain.exe").has_value());
        writeFile(dir / "text.exe", "MZ but nothing more");
        EXPECT_FALSE(readFileVersion(dir / "text.exe").has_value());
    }
}
