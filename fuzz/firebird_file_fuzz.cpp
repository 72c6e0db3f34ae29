// Any bytes as a downloaded catalogue file: the check before the engine opens it
// gives one of its answers, within its bounds, and never reads past what it holds.
#include "catalogue/firebird_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// One file in memory, rewritten for each input, reached by a path as the check wants.
int memoryFile() {
    static const int fd = ::memfd_create("catalogue", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memoryFile();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    switch (quill::otherFilesOf(path)) {
    case quill::OtherFiles::None:
    case quill::OtherFiles::NotChecked:
    case quill::OtherFiles::Secondary:
    case quill::OtherFiles::Difference:
    case quill::OtherFiles::Listed:
    case quill::OtherFiles::CryptPlugin:
    case quill::OtherFiles::Unclear:
        return 0;
    }
    std::abort();
}
