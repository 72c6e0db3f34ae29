// An update that does not fit on the disk, or whose writing fails half-way,
// leaves the application folder exactly as it was.
#include "update_site.h"

#include "platform/files.h"
#include "support/small_disk.h"
#include "support/tree_snapshot.h"
#include "workspace/app/names.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <regex>

namespace quill::testing {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// The update site's application folder, with files the update replaces and
// an earlier backup, moved onto a small file system of its own.
class UpdateOnSmallDisk {
public:
    explicit UpdateOnSmallDisk(std::uint64_t diskSize) : disk(diskSize) {
        if (!disk.mounted()) return;
        writeFile(AppDir + "a.txt", "old a");
        writeFile(AppDir + "upgr_bak/b.txt", "an earlier backup");
        std::filesystem::copy(AppDir, disk.path() + "app", std::filesystem::copy_options::recursive);
        AppDir = disk.path() + "app/";
        before = snapshotTree(AppDir);
    }

    void update(const std::string& big) {
        serve(big);
        site.update.installUpdate(site.screen, site.http);
    }
    void serve(const std::string& big) {
        site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"big.bin", big}, {"c.txt", "new c"}});
    }
    std::string differences() const { return treeDifferences(before, snapshotTree(AppDir)); }

    SmallFileSystem disk;
    UpdateSite site;
    TreeSnapshot before;
};

TEST(UpdateOnAFullDisk, OneThatCannotBeUnpackedChangesNothing) {
    // 48 MiB of zeros: a tiny archive that cannot be unpacked in 40 MiB.
    UpdateOnSmallDisk world(40 * kMiB);
    if (!world.disk.mounted()) GTEST_SKIP() << world.disk.whyNot();
    world.update(std::string(48 * kMiB, '\0'));
    EXPECT_FALSE(world.site.screen.closed);
    const auto boxes = world.site.screen.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("error:Could not unpack the program files!\r\nNot enough free disk space to unpack update.zip: it needs ", 0), 0u)
        << boxes[0];
    EXPECT_EQ(world.site.screen.status, "ERROR! Program Files download failed.");
    EXPECT_EQ(world.differences(), "");
}

std::string noise(std::size_t size) {
    // Bytes that do not deflate: the archive is as large as what it holds.
    std::mt19937 random(3);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

TEST(UpdateOnAFullDisk, ADownloadThatDoesNotFitIsRefusedBeforeItIsWritten) {
    UpdateOnSmallDisk world(24 * kMiB);
    if (!world.disk.mounted()) GTEST_SKIP() << world.disk.whyNot();
    world.update(noise(32 * kMiB));
    EXPECT_FALSE(world.site.screen.closed);
    const auto boxes = world.site.screen.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_TRUE(std::regex_match(boxes[0], std::regex(R"(error:Not enough free disk space to download [^:/]+: it needs [0-9.]+ MB, [0-9.]+ MB are free\.)")))
        << boxes[0];
    EXPECT_EQ(world.site.screen.status, "ERROR! Program Files download failed.");
    EXPECT_EQ(world.differences(), "");
}

TEST(UpdateOnAFullDisk, ADownloadWhoseWriteFailsHalfWayChangesNothing) {
    UpdateOnSmallDisk world(96 * kMiB);
    if (!world.disk.mounted()) GTEST_SKIP() << world.disk.whyNot();
    world.serve(noise(16 * kMiB));
    {
        FileSizeLimit limit(4 * kMiB);  // as an I/O error would, half-way through the archive
        world.site.update.installUpdate(world.site.screen, world.site.http);
    }
    EXPECT_FALSE(world.site.screen.closed);
    const auto boxes = world.site.screen.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].rfind("error:Cannot write file \"" + AppDir, 0), 0u) << boxes[0];
    EXPECT_TRUE(boxes[0].ends_with(". " + platform::systemErrorText(EFBIG))) << boxes[0];
    EXPECT_EQ(world.site.screen.status, "ERROR! Program Files download failed.");
    EXPECT_EQ(world.differences(), "");
}

}  // namespace
}  // namespace quill::testing
