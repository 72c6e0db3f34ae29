#include "workspace/trust/signed_file.h"

#include "platform/error.h"
#include "workspace/change/file_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quill {

SignedFile::SignedFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw AppError(cannotOpenFileText(path, errno));
}

SignedFile::~SignedFile() { ::close(fd_); }

}  // namespace quill
