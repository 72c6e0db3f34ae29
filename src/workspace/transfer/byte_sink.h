// Where a download's bytes go: memory or an open file. One fetch, many sinks.
#pragma once

#include "workspace/change/file_ops.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>

namespace quill {

class ByteSink {
public:
    virtual ~ByteSink() = default;

    // The body that will be written begins; total is its announced length, -1
    // when the server announced none. Called at most once per fetch, before
    // the first write, and not at all for a fetch that ends without a body.
    virtual void begin(std::int64_t total) { (void)total; }

    virtual void write(const char* data, std::size_t size) = 0;

    // Called about ten times a second for as long as a fetch runs, whether
    // bytes arrive or not. Whatever it raises ends the fetch, as a failed write does.
    virtual void pulse() {}

    // The transfer runs on a thread of its own; begin, write and pulse are
    // called on the fetching thread only. While nothing has arrived, the fetch
    // calls awaitEvents: a sink that keeps windows alive lets their events run
    // as they come for up to `upTo` and returns true; false lets the fetch wait
    // on its own. wakeEvents is called from the transfer's thread, when
    // something arrives, to end that wait early; it must be safe from any thread.
    virtual bool awaitEvents(std::chrono::milliseconds upTo) {
        (void)upTo;
        return false;
    }
    virtual void wakeEvents() {}
};

// A body held in memory, which a server may not make larger than `limit`:
// past it, or when it announces more, the fetch fails with a text that says so.
// The program always names a limit; the default is for tests and tools.
class MemorySink : public ByteSink {
public:
    explicit MemorySink(std::size_t limit = std::numeric_limits<std::size_t>::max());

    void begin(std::int64_t total) override;
    void write(const char* data, std::size_t size) override;
    std::string bytes;

private:
    [[noreturn]] void refuse() const;
    std::size_t limit_;
};

// A download into an open file, which never takes the disk's reserve (see
// checkFreeSpace): a body announced larger than the room left is refused
// before a byte is written, and one that grows without end is stopped while
// the reserve is still free; either raises "Not enough free disk space to
// download <name>: ...".
class FileSink : public ByteSink {
public:
    explicit FileSink(OutputFile& file) : file_(file) {}
    void begin(std::int64_t total) override;
    void write(const char* data, std::size_t size) override;

private:
    OutputFile& file_;
    std::uint64_t sinceSpaceChecked_ = 0;
};

}  // namespace quill
