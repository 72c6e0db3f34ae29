#include "workspace/trust/signed_download.h"

#include "platform/error.h"

namespace quill {

SignedDownloadSink::SignedDownloadSink(ByteSink& target, std::optional<SignedArchive> expected, std::string name)
    : target_(target), expected_(std::move(expected)), name_(std::move(name)) {}

void SignedDownloadSink::begin(std::int64_t total) {
    if (expected_ && total >= 0 && static_cast<std::uint64_t>(total) > expected_->size) refuseLarger();
    target_.begin(total);
}

void SignedDownloadSink::write(const char* data, std::size_t size) {
    if (expected_) {
        if (size > expected_->size - received_) refuseLarger();
        received_ += size;
        hash_.add(data, size);
    }
    target_.write(data, size);
}

void SignedDownloadSink::checkComplete() {
    if (expected_ && (received_ != expected_->size || hash_.hex() != expected_->sha256)) {
        throw AppError("The archive \"" + name_ + "\" is not the one the vendor signed.");
    }
}

void SignedDownloadSink::refuseLarger() const {
    throw AppError("The archive \"" + name_ + "\" is larger than the vendor signed it.");
}

}  // namespace quill
