// Where a download's bytes go: memory or an open file. One fetch, many sinks.
#pragma once

#include "workspace/file_ops.h"

#include <cstddef>
#include <string>

namespace quill {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char* data, std::size_t size) = 0;
};

class MemorySink : public ByteSink {
public:
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
