// Writes ZIP archives (deflated or stored entries) straight to a file, for the
// vendor site, the tests and the benchmarks. It can also write the odd archives
// a reader must cope with: unknown methods, data descriptors, bad signatures,
// damaged deflate data, wrong CRCs, any name bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::vendorkit {

struct ZipEntryOptions {
    bool deflate = true;  // false: stored
    int level = 6;        // zlib level when deflated
    bool utf8Flag = false;        // flag bit 11: the name bytes are UTF-8
    bool dataDescriptor = false;  // flag bit 3: zeros in the local header, a descriptor after the data
    std::optional<std::uint16_t> recordedMethod;          // method written in both headers, such as 12
    std::optional<std::uint32_t> recordedCrc;             // CRC written in both headers
    std::optional<std::uint32_t> recordedUncompressedSize;
    bool damageDeflate = false;        // the first deflate block gets the reserved block type
    bool badLocalSignature = false;
    bool badCentralSignature = false;
    // Recorded as zip records it on Unix (made by system 3, the mode in the
    // high half of the external attributes, a file's or folder's kind added
    // unless the mode gives one); none: made as on DOS.
    std::optional<unsigned> unixMode;
    std::uint16_t extraFlags = 0;  // more flag bits, such as 1 for an encrypted entry
};

class ZipWriter {
public:
    // Creates or replaces the archive file. Raises AppError when it cannot.
    explicit ZipWriter(const std::string& path);
    // Finishes the archive when finish() was not called (errors are swallowed then).
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // name is written byte for byte ("/" between levels).
    void addFile(const std::string& name, std::string_view data, const ZipEntryOptions& options = {});
    // A stored entry of size 0; name should end in "/". With a mode, recorded as unixMode is.
    void addFolder(const std::string& name, std::optional<unsigned> unixMode = std::nullopt);

    // One entry whose data arrives in pieces, so large archives never sit in memory.
    void beginFile(const std::string& name, const ZipEntryOptions& options = {});
    void write(const char* data, std::size_t size);
    void endFile();

    void setComment(std::string comment);  // the archive comment after the end record
    // Writes the central directory and the end record, and closes the file.
    void finish();

private:
    struct Entry {
        std::string name;
        ZipEntryOptions options;
        std::uint16_t flags = 0;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint64_t localOffset = 0;
    };
    void emit(const char* data, std::size_t size);
    void emitCompressed(const char* data, std::size_t size);
    void flush();
    void deflateInput(const char* data, std::size_t size, int flushMode);

    std::string path_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::uint64_t offset_ = 0;  // bytes of the archive so far, buffered ones included
    std::vector<Entry> entries_;
    bool inEntry_ = false;
    bool firstCompressedByte_ = false;
    void* zstream_ = nullptr;
    std::string comment_;
    bool finished_ = false;
};

}  // namespace quill::vendorkit
