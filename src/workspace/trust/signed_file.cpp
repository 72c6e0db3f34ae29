#include "workspace/trust/signed_file.h"

#include "platform/error.h"
#include "platform/file_reading.h"
#include "platform/files.h"
#include "workspace/change/file_ops.h"


namespace quill {

SignedFile::SignedFile(const std::string& path) : path_(path) {
    fd_ = platform::openFileForReading(path);
    if (fd_ < 0) throw AppError(cannotOpenFileText(path, platform::lastError()));
}

SignedFile::~SignedFile() { platform::closeFileForReading(fd_); }

}  // namespace quill
