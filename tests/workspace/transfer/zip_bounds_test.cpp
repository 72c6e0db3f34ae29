// An archive gets no more of the disk than it declares, and one that cannot
// have it, or whose writing fails, leaves nothing of its unpacking behind.
#include "workspace/transfer/zip_reader.h"

#include "platform/files.h"
#include "support/error_of.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"
#include "support/tree_snapshot.h"
#include "vendorkit/zip_writer.h"
#include "workspace/change/file_ops.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <regex>
#include <zlib.h>

namespace quill {
namespace {

using testing::errorOf;
using testing::readFile;
using testing::snapshotTree;
using testing::TempFolder;
using testing::treeDifferences;
using testing::writeFile;
using vendorkit::ZipEntryOptions;
using vendorkit::ZipWriter;

std::uint32_t crcOf(const std::string& bytes) {
    return static_cast<std::uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

std::string varied(std::size_t size) {
    std::string s(size, '\0');
    unsigned x = 5;
    for (auto& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return s;
}

// An output folder with something of the user's in it, and entries that go
// beside it, into it and into folders of their own before the bad one.
struct Unpacking {
    TempFolder temp;
    std::string out = temp / "out/";
    testing::TreeSnapshot before;

    Unpacking() {
        testing::makeFolders(out + "keep");
        writeFile(out + "keep/mine.txt", "the user's");
        before = snapshotTree(out);
    }
    std::string archive(const std::string& badName, const std::string& bytes, const ZipEntryOptions& options) {
        const std::string path = temp / "t.zip";
        ZipWriter zip(path);
        zip.addFile("a.txt", "a");
        zip.addFile("new/sub/b.txt", "b");
        zip.addFile("keep/c.txt", "c");
        zip.addFile(badName, bytes, options);
        zip.addFile("after.txt", "after");
        zip.finish();
        return path;
    }
};

TEST(ZipBounds, AnArchiveThatCannotFitIsRefusedBeforeAnythingIsWritten) {
    TempFolder temp;
    ZipEntryOptions huge;
    huge.recordedUncompressedSize = 0xFFFFFFFE;  // the largest size that is no Zip64 marker
    constexpr int kEntries = 4000;               // about 16 TiB declared
    {
        ZipWriter zip(temp / "bomb.zip");
        for (int i = 0; i < kEntries; ++i) zip.addFile("part" + std::to_string(i) + ".bin", "x", huge);
    }
    const std::string error = errorOf([&] { unpackArchive(temp / "bomb.zip", temp / "out/"); });
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(error, parts, std::regex(R"(Not enough free disk space to unpack bomb\.zip: it needs ([0-9]+)\.([0-9]) MB, ([0-9]+)\.([0-9]) MB are free\.)")))
        << error;
    EXPECT_FALSE(platform::pathExists(temp / "out"));

    // What it needs counts every entry's last block and the reserve, rounded up.
    platform::DiskSpace space;
    ASSERT_TRUE(platform::diskSpaceOf(temp.path(), space));
    const std::uint64_t needed =
        std::uint64_t{0xFFFFFFFE} * kEntries + kEntries * space.blockSize + diskReserve(space.total);
    const std::uint64_t tenth = 1024 * 1024 / 10;
    EXPECT_EQ(std::stoull(parts[1]) * 10 + std::stoull(parts[2]), (needed + tenth - 1) / tenth);
}

TEST(ZipBounds, AnEntryThatIsNotItsDeclaredSizeIsRefusedAndTakesTheUnpackingWithIt) {
    const std::string zeros(4 << 20, '\0');
    struct Case {
        const char* what;
        ZipEntryOptions options;
        std::string bytes;
    };
    std::vector<Case> cases(2);
    // A bomb that declares a thousand bytes, with their CRC, and inflates to 4 MiB.
    cases[0].what = "deflated";
    cases[0].bytes = zeros;
    cases[0].options.recordedUncompressedSize = 1000;
    cases[0].options.recordedCrc = crcOf(zeros.substr(0, 1000));
    cases[1].what = "stored";
    cases[1].bytes = zeros.substr(0, 5000);
    cases[1].options.deflate = false;
    cases[1].options.recordedUncompressedSize = 1000;
    cases[1].options.recordedCrc = crcOf(zeros.substr(0, 1000));
    for (const Case& c : cases) {
        Unpacking unpacking;
        const std::string archive = unpacking.archive("bomb.bin", c.bytes, c.options);
        EXPECT_EQ(errorOf([&] { unpackArchive(archive, unpacking.out); }), "Size error in bomb.bin") << c.what;
        EXPECT_EQ(treeDifferences(unpacking.before, snapshotTree(unpacking.out)), "") << c.what;

        // One entry at a time, as the update unpacks, its own file goes.
        ZipReader reader;
        reader.open(archive);
        EXPECT_EQ(errorOf([&] { reader.extract(3, unpacking.temp / "stage/"); }), "Size error in bomb.bin") << c.what;
        EXPECT_FALSE(platform::pathExists(unpacking.temp / "stage/bomb.bin")) << c.what;
    }
}

TEST(ZipBounds, ALocalHeaderThatDisagreesWithTheDirectoryIsRefused) {
    Unpacking unpacking;
    std::string bytes = readFile(unpacking.archive("lie.bin", varied(3000), {}));
    // The fourth entry's local header, and in it the uncompressed size.
    std::size_t local = 0;
    for (int i = 0; i < 4; ++i) local = bytes.find("PK\x03\x04", i ? local + 4 : 0);
    ASSERT_EQ(bytes.compare(local + 30, 7, "lie.bin"), 0);
    bytes[local + 22] = static_cast<char>(bytes[local + 22] + 1);
    writeFile(unpacking.temp / "t.zip", bytes);
    EXPECT_EQ(errorOf([&] { unpackArchive(unpacking.temp / "t.zip", unpacking.out); }), "Size error in lie.bin");
    EXPECT_EQ(treeDifferences(unpacking.before, snapshotTree(unpacking.out)), "");
}

TEST(ZipBounds, Zip64SizesAreRefusedAtOpen) {
    TempFolder temp;
    ZipEntryOptions marker;
    marker.recordedUncompressedSize = 0xFFFFFFFF;
    {
        ZipWriter zip(temp / "t.zip");
        zip.addFile("small.txt", "small");
        zip.addFile("huge.bin", "x", marker);
    }
    ZipReader reader;
    EXPECT_EQ(errorOf([&] { reader.open(temp / "t.zip"); }), "Unsupported Zip64 entry: huge.bin");
    EXPECT_FALSE(reader.isOpen());
}

TEST(ZipBounds, AWriteThatFailsHalfWayLeavesNothingOfThisUnpacking) {
    Unpacking unpacking;
    // Written over before the failure: that file holds the new bytes, whole.
    writeFile(unpacking.out + "keep/c.txt", "old c");
    unpacking.before = snapshotTree(unpacking.out);
    const std::string archive = unpacking.archive("big.bin", varied(3 << 20), {});
    std::string error;
    {
        testing::FileSizeLimit limit(1 << 20);
        error = errorOf([&] { unpackArchive(archive, unpacking.out); });
    }
    EXPECT_EQ(error, "Cannot write file \"" + unpacking.out + "big.bin\". " + platform::systemErrorText(EFBIG));
    auto expected = unpacking.before;
    expected["keep/c.txt"] = "c";
    EXPECT_EQ(treeDifferences(expected, snapshotTree(unpacking.out)), "");
}

}  // namespace
}  // namespace quill
