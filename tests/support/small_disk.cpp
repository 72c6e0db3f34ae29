#include "support/small_disk.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace quill::testing {

SmallFileSystem::SmallFileSystem(std::uint64_t bytes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quill-disk-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        whyNot_ = "cannot mount a tmpfs here (" + std::string(std::strerror(errno)) +
                  "); the full-disk tests need root and a system that lets it mount";
        return;
    }
    mounted_ = true;
    path_ = folder_ + "/";
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    std::error_code ec;
    std::filesystem::remove(folder_, ec);
}

std::uint64_t SmallFileSystem::available() const {
    struct statvfs st {};
    if (::statvfs(folder_.c_str(), &st) != 0) throw std::runtime_error("statvfs failed");
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

void SmallFileSystem::fillLeaving(const std::string& path, std::uint64_t leave) const {
    const std::uint64_t left = available();
    if (left <= leave) return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    const std::vector<char> block(64 * 1024, 'F');
    std::uint64_t want = left - leave;
    while (want > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(want, block.size()));
        const ssize_t n = ::write(fd, block.data(), piece);
        if (n <= 0) break;
        want -= static_cast<std::uint64_t>(n);
    }
    ::close(fd);
}

LargeFileSystem::LargeFileSystem(std::uint64_t bytes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quill-large-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    image_ = folder_ + ".img";
    const int fd = ::open(image_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot make the image " + image_);
    }
    ::close(fd);
    // No journal and few inodes: only a few MiB of the image are ever written.
    const std::string path = "PATH=\"$PATH:/usr/sbin:/sbin\" ";
    const std::string format = path + "mkfs.ext4 -q -F -m 0 -T largefile4 -O ^has_journal '" + image_ +
                               "' >/dev/null 2>&1";
    if (std::system(format.c_str()) != 0) {
        whyNot_ = "cannot make an ext4 file system here (mkfs.ext4 from e2fsprogs is needed)";
        return;
    }
    const std::string mount = path + "mount -o loop '" + image_ + "' '" + folder_ + "' >/dev/null 2>&1";
    if (::geteuid() != 0 || std::system(mount.c_str()) != 0) {
        whyNot_ = "cannot loop-mount a file system here; the large-disk tests need root and a loop device";
        return;
    }
    mounted_ = true;
    path_ = folder_ + "/";
}

LargeFileSystem::~LargeFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    std::error_code ec;
    std::filesystem::remove(folder_, ec);
    std::filesystem::remove(image_, ec);
}

void LargeFileSystem::fillLeaving(const std::string& path, std::uint64_t leave) const {
    struct statvfs st {};
    if (::statvfs(folder_.c_str(), &st) != 0) throw std::runtime_error("statvfs failed");
    const std::uint64_t left = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    if (left <= leave) return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(left - leave));
    ::close(fd);
    if (error != 0) throw std::runtime_error("cannot fill " + path + ": " + std::strerror(error));
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
    // Without this the kernel ends the process at the first write past the limit.
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
}

}  // namespace quill::testing
