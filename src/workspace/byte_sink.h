// Where a download's bytes go: memory or an open file. One fetch, many sinks.
#pragma once

#include "workspace/file_ops.h"

#include <cstddef>
#include <cstdint>
#include <exception>
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
};

class MemorySink : public ByteSink {
public:
    // A body in memory is held once: room for the announced length up front, no doubling.
    void begin(std::int64_t total) override {
        if (total <= 0) return;
        try {
            bytes.reserve(bytes.size() + static_cast<std::size_t>(total));
        } catch (const std::exception&) {
            // A length beyond memory: let the body grow as it arrives and fail then, if it must.
        }
    }
    void write(const char* data, std::size_t size) override { bytes.append(data, size); }
    std::string bytes;
};

class FileSink : public ByteSink {
public:
    explicit FileSink(OutputFile& file) : file_(file) {}
    void write(const char* data, std::size_t size) override { file_.write(data, size); }

private:
    OutputFile& file_;
};

}  // namespace quill
