// A downloaded archive opened once, before its bytes arrive, and from then on
// read only through that one descriptor: the bytes hashed as they came are
// the bytes the unpacking reads, so a file put in its place afterwards is
// never what gets unpacked.
#pragma once

#include <string>
#include <string_view>

namespace quill {

class SignedFile {
public:
    // Opens path for reading. Raises "Cannot open file "<path>". <system text>".
    explicit SignedFile(const std::string& path);
    ~SignedFile();
    SignedFile(const SignedFile&) = delete;
    SignedFile& operator=(const SignedFile&) = delete;

    // The open descriptor, for the reader that unpacks what was checked; it
    // lives as long as this object. Read it at offsets (platform/file_reading.h): its position is not kept.
    int descriptor() const { return fd_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace quill
