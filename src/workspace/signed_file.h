// A downloaded archive opened once and from then on read only through that one
// descriptor: its signature is checked on the bytes the descriptor reads, and
// the unpacking that follows reads the same descriptor instead of the path, so
// a file put in its place afterwards is never what gets unpacked.
#pragma once

#include "workspace/signature.h"

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

    // Whether signature (64 raw bytes) is key's signature over the whole file,
    // as this descriptor reads it now. A file that cannot be read gives false.
    bool signatureMatches(const PublicKey& key, std::string_view signature) const;

    // The open descriptor, for the reader that unpacks what was checked; it
    // lives as long as this object. Read it with pread: its offset is not kept.
    int descriptor() const { return fd_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace quill
