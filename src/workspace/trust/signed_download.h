// A download that a signed entry describes: its bytes pass on to the target
// sink only up to the signed size, and are hashed as they arrive, so a site
// that sends more is stopped there and one that sends other bytes is caught
// without reading the file again. Without an entry (a program built without
// the vendor's key) the bytes pass on unchecked.
#pragma once

#include "workspace/transfer/byte_sink.h"
#include "workspace/trust/signed_metadata.h"

#include <optional>
#include <string>

namespace quill {

class SignedDownloadSink : public ByteSink {
public:
    // `name` names the archive in the texts.
    SignedDownloadSink(ByteSink& target, std::optional<SignedArchive> expected, std::string name);

    // Raise AppError "The archive "<name>" is larger than the vendor signed it."
    // as soon as the body is announced or grows past the signed size.
    void begin(std::int64_t total) override;
    void write(const char* data, std::size_t size) override;
    void pulse() override { target_.pulse(); }
    bool awaitEvents(std::chrono::milliseconds upTo) override { return target_.awaitEvents(upTo); }
    void wakeEvents() override { target_.wakeEvents(); }

    // After the fetch: raises AppError "The archive "<name>" is not the one
    // the vendor signed." unless exactly the signed bytes came.
    void checkComplete();

private:
    [[noreturn]] void refuseLarger() const;

    ByteSink& target_;
    const std::optional<SignedArchive> expected_;
    const std::string name_;
    Sha256 hash_;
    std::uint64_t received_ = 0;
};

}  // namespace quill
