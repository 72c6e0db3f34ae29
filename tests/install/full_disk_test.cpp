// Installing a template on a disk that is too small for it, or that fills up
// while it installs, leaves the application folder exactly as it was.
#include "template_site.h"

#include "install/template_download.h"
#include "platform/files.h"
#include "support/small_disk.h"
#include "support/tree_snapshot.h"
#include "workspace/app/names.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

namespace quill::testing {
namespace {

using Events = std::vector<std::string>;
constexpr std::uint64_t kMiB = 1024 * 1024;

// The template site's application folder, moved onto a small file system of
// its own, with an earlier download of the same archive in temp/ (which a
// failed installation keeps), so that the whole folder can be compared.
class TemplateOnSmallDisk {
public:
    TemplateOnSmallDisk(std::uint64_t diskSize, std::uint64_t databaseSize) : disk(diskSize) {
        if (!disk.mounted()) return;
        std::filesystem::copy(AppDir, disk.path() + "app", std::filesystem::copy_options::recursive);
        AppDir = disk.path() + "app/";
        DataDir = AppDir + "data/";
        site.TempDir = AppDir + "temp/";
        site.record.lines.loadFromFile(DataDir + "templates.ini");
        // Zeros: a few kilobytes of archive that unpack to the whole size.
        archive.database = std::string(databaseSize, '\0');
        site.serveTemplate("contacts.zip", archive);
        writeTemplateArchive(site.TempDir + "contacts.zip", archive);
        before = snapshotTree(AppDir);
    }

    void download() {
        auto context = site.download("contacts.zip");
        downloadSelectedTemplate(context);
    }
    std::string differences() const { return treeDifferences(before, snapshotTree(AppDir)); }
    Events errors() const {
        Events shown;
        for (const auto& box : site.screen.boxes())
            if (box.rfind("error:", 0) == 0) shown.push_back(box);
        return shown;
    }

    SmallFileSystem disk;
    TemplateSite site;
    TemplateArchive archive;
    TreeSnapshot before;
};

TEST(TemplateOnAFullDisk, OneThatCannotFitIsRefusedBeforeAnythingIsWritten) {
    // 24 MiB unpacked and 24 MiB more for the database's copy do not fit in 48 MiB.
    TemplateOnSmallDisk world(48 * kMiB, 24 * kMiB);
    if (!world.disk.mounted()) GTEST_SKIP() << world.disk.whyNot();
    world.download();
    const Events boxes = world.errors();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(std::regex_match(boxes[0], std::regex(R"(error:Not enough free disk space to unpack contacts\.zip: it needs [0-9]+\.[0-9] MB, [0-9]+\.[0-9] MB are free\.)")))
        << boxes[0];
    EXPECT_EQ(boxes[1], "error:Template installation failed!!!");
    EXPECT_EQ(world.differences(), "");
    EXPECT_EQ(world.site.screen.events.back(), "check");
}

TEST(TemplateOnAFullDisk, ACopyThatRunsOutOfSpaceHalfWayLeavesNothing) {
    // It fits when checked; then another program takes all but 1 MiB while
    // the database waits in the work folder to be copied in.
    TemplateOnSmallDisk world(64 * kMiB, 8 * kMiB);
    if (!world.disk.mounted()) GTEST_SKIP() << world.disk.whyNot();
    const std::string filler = world.disk.path() + "filler";
    world.site.screen.onPump = [&] {
        if (std::filesystem::exists(filler)) return;
        for (const auto& entry : std::filesystem::directory_iterator(DataDir)) {
            if (entry.path().filename().string().rfind("tmp", 0) == 0 &&
                std::filesystem::exists(entry.path() / "db.fdb"))
                world.disk.fillLeaving(filler, 1 * kMiB);
        }
    };
    world.download();
    ASSERT_TRUE(std::filesystem::exists(filler));
    EXPECT_EQ(world.errors(),
              (Events{"error:" + platform::systemErrorText(ENOSPC), "error:Template installation failed!!!"}));
    EXPECT_EQ(world.differences(), "");
}

}  // namespace
}  // namespace quill::testing
