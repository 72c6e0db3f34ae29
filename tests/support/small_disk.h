// Disks that refuse writes, for the tests of a write that fails half-way: a
// small file system of the test's own, and a limit on the size of any file.
#pragma once

#include <cstdint>
#include <string>
#include <sys/resource.h>

namespace quill::testing {

// A tmpfs of `bytes` mounted under a fresh temporary folder, unmounted and
// removed at the end. Mounting needs root; where it is refused, mounted() is
// false and whyNot() says why, for GTEST_SKIP().
class SmallFileSystem {
public:
    explicit SmallFileSystem(std::uint64_t bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return whyNot_; }
    const std::string& path() const { return path_; }  // ends in "/"

    std::uint64_t available() const;
    // Takes all but `leave` bytes of what is left with a file at path (on this
    // file system), as another program filling the disk would.
    void fillLeaving(const std::string& path, std::uint64_t leave) const;

private:
    std::string folder_;
    std::string path_;
    bool mounted_ = false;
    std::string whyNot_;
};

// A large file system for the price of a small one: ext4 in a sparse image of
// `bytes`, loop-mounted under a fresh temporary folder, unmounted and removed
// at the end. Needs root, mkfs.ext4 and a loop device; where one is missing,
// mounted() is false and whyNot() says why, for GTEST_SKIP().
class LargeFileSystem {
public:
    explicit LargeFileSystem(std::uint64_t bytes);
    ~LargeFileSystem();
    LargeFileSystem(const LargeFileSystem&) = delete;
    LargeFileSystem& operator=(const LargeFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return whyNot_; }
    const std::string& path() const { return path_; }  // ends in "/"

    // Takes all but about `leave` bytes of what an ordinary user may write
    // with a file at path whose blocks are allocated but never written, so
    // the image stays sparse.
    void fillLeaving(const std::string& path, std::uint64_t leave) const;

private:
    std::string folder_;
    std::string image_;
    std::string path_;
    bool mounted_ = false;
    std::string whyNot_;
};

// While it lives, a write past `bytes` into any file of this process fails
// with EFBIG ("File too large"), as an I/O error does, half-way through.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace quill::testing
