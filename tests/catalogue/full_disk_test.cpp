// A catalogue download never takes the last of the user's disk: a server that
// sends without end, or announces more than fits, is stopped while the
// reserve is still free, and nothing of it stays.
#include "catalogue/catalogue_site.h"
#include "support/small_disk.h"
#include "support/temp_folder.h"
#include "workspace/app/names.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace quill::testing {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST(CatalogueOnAFullDisk, AnEndlessOrOversizedDownloadStopsBeforeTheReserveAndLeavesNothing) {
    SmallFileSystem disk(64 * kMiB);
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    CatalogueSite site;
    std::filesystem::copy(AppDir, disk.path() + "app", std::filesystem::copy_options::recursive);
    AppDir = disk.path() + "app/";
    const std::uint64_t before = disk.available();

    vendorkit::HttpResponse endless;
    endless.framing = vendorkit::BodyFraming::UntilClose;
    endless.endless = true;
    vendorkit::HttpResponse oversized = vendorkit::HttpResponse::ok(std::string(80 * kMiB, 'z'));
    for (const auto& response : {endless, oversized}) {
        site.server->route(site.catalogueUrlPath(), response);
        // The disk as another program would see it, the whole time.
        std::atomic<std::uint64_t> least{before};
        std::atomic<bool> shown{false};
        std::thread watcher([&] {
            while (!shown) {
                least = std::min<std::uint64_t>(least, disk.available());
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        site.show();
        shown = true;
        watcher.join();
        // The reserve of a disk this small is 16 MiB; a few MiB more are in flight.
        EXPECT_GT(least.load(), 8 * kMiB);
        EXPECT_FALSE(std::filesystem::exists(AppDir + "temp/temp.zip"));
        EXPECT_GE(disk.available() + 64 * 1024, before);  // temp/ and temp.ini are all that is new
    }
    EXPECT_EQ(site.screen.boxes(),
              (std::vector<std::string>{"error:Could not download the template!", "error:Could not download the template!"}));
}

}  // namespace
}  // namespace quill::testing
