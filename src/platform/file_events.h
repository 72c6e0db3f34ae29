// Every change the program makes to files goes through the primitives of
// files.h, and each one that succeeds is reported here. Nothing listens in the
// program itself; the tests record the reports to replay a power cut at any
// point of a change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::platform {

struct FileEvent {
    enum class Kind {
        Open,          // path, fd: a file opened for writing, created when the name was free
        Write,         // fd, offset, data
        Truncate,      // fd, offset: the new size
        SyncData,      // fd: its data and size are on the disk
        Close,         // fd
        Rename,        // path -> to, never over an existing `to`
        Replace,       // path -> to, over `to` when it exists
        Remove,        // path: a file or a link
        MakeFolder,    // path
        RemoveFolder,  // path
        SetMode,       // path, offset: the permission bits
        SyncFolder,    // path: its entries are on the disk
        SyncAll,       // path: everything on its file system is on the disk
    };
    Kind kind = Kind::Open;
    std::string path;
    std::string to;
    int fd = -1;
    std::uint64_t offset = 0;
    std::string_view data;
};

class FileObserver {
public:
    virtual ~FileObserver() = default;
    virtual void observe(const FileEvent& event) = 0;
};

// One observer for the whole process, or none; tests only.
void setFileObserver(FileObserver* observer);

}  // namespace quill::platform
