#include "workspace/transfer/byte_sink.h"

#include "platform/error.h"

namespace quill {

namespace {

std::string limitText(std::size_t limit) {
    if (limit >= 1024 && limit % 1024 == 0) return std::to_string(limit / 1024) + " KB";
    return std::to_string(limit) + " bytes";
}

}  // namespace

MemorySink::MemorySink(std::size_t limit) : limit_(limit) {}

void MemorySink::begin(std::int64_t total) {
    if (total < 0) return;
    if (static_cast<std::uint64_t>(total) > limit_ - bytes.size()) refuse();
    // Held once: room for the announced length up front, no doubling.
    bytes.reserve(bytes.size() + static_cast<std::size_t>(total));
}

void MemorySink::write(const char* data, std::size_t size) {
    if (size > limit_ - bytes.size()) refuse();
    bytes.append(data, size);
}

void MemorySink::refuse() const {
    throw AppError("The server sent more than " + limitText(limit_) + "; the download was stopped.");
}

}  // namespace quill
