#include "workspace/signed_file.h"

#include "platform/error.h"
#include "workspace/file_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

struct Mapping {
    void* bytes;
    std::size_t size;
    ~Mapping() {
        if (bytes != MAP_FAILED) munmap(bytes, size);
    }
};

}  // namespace

SignedFile::SignedFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw AppError(cannotOpenFileText(path, errno));
}

SignedFile::~SignedFile() { ::close(fd_); }

bool SignedFile::signatureMatches(const PublicKey& key, std::string_view signature) const {
    struct stat status{};
    if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const auto size = static_cast<std::size_t>(status.st_size);
    if (size == 0) return quill::signatureMatches(key, {}, signature);
    // Mapped rather than read: an archive of any size is checked without a copy in memory.
    const Mapping mapped{mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd_, 0), size};
    if (mapped.bytes == MAP_FAILED) return false;
    return quill::signatureMatches(key, std::string_view(static_cast<const char*>(mapped.bytes), size), signature);
}

}  // namespace quill
