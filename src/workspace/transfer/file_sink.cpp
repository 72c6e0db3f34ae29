// FileSink apart from the memory sink, so a build without the change room's
// files still has the sinks that need none.
#include "workspace/transfer/byte_sink.h"

#include "workspace/app/path_rules.h"

namespace quill {

namespace {
// How much a download writes between two looks at the disk's free space.
constexpr std::uint64_t kSpaceCheckEvery = 4 * 1024 * 1024;
}  // namespace

void FileSink::begin(std::int64_t total) {
    if (total > 0)
        checkFreeSpace({{folderPartOf(file_.path()), static_cast<std::uint64_t>(total), 1}}, file_.path(), "download");
}

void FileSink::write(const char* data, std::size_t size) {
    sinceSpaceChecked_ += size;
    if (sinceSpaceChecked_ >= kSpaceCheckEvery) {
        sinceSpaceChecked_ = 0;
        checkFreeSpace({{folderPartOf(file_.path()), size, 0}}, file_.path(), "download");
    }
    file_.write(data, size);
}

}  // namespace quill
