#include "support/temp_folder.h"

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quill::testing {

TempFolder::TempFolder(const std::string& base) {
    std::string pattern = ((base.empty() ? fs::temp_directory_path() : fs::path(base)) / "quill-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
}

bool setImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

}  // namespace quill::testing
