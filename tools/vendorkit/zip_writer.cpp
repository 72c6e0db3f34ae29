#include "vendorkit/zip_writer.h"

#include "platform/error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <zlib.h>

namespace quill::vendorkit {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
constexpr std::uint16_t kDosTime = (12 << 11);                         // 12:00:00
constexpr std::uint16_t kDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;  // 2024-01-01

void put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::uint32_t fits32(std::uint64_t v) {
    if (v > std::numeric_limits<std::uint32_t>::max()) throw AppError("ZipWriter: entries and archives over 4 GiB are not written");
    return static_cast<std::uint32_t>(v);
}

z_stream* asZ(void* p) { return static_cast<z_stream*>(p); }

}  // namespace

ZipWriter::ZipWriter(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) throw AppError("ZipWriter: cannot create " + path + ": " + std::strerror(errno));
    buffer_.reserve(kBufferSize);
}

ZipWriter::~ZipWriter() {
    try {
        if (!finished_) finish();
    } catch (...) {
    }
    if (zstream_) {
        deflateEnd(asZ(zstream_));
        delete asZ(zstream_);
    }
    if (fd_ >= 0) ::close(fd_);
}

void ZipWriter::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw AppError("ZipWriter: cannot write " + path_ + ": " + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void ZipWriter::emit(const char* data, std::size_t size) {
    offset_ += size;
    if (buffer_.size() + size > kBufferSize) flush();
    if (size >= kBufferSize) {
        buffer_.assign(data, data + size);
        flush();
        return;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

void ZipWriter::emitCompressed(const char* data, std::size_t size) {
    if (size == 0) return;
    Entry& e = entries_.back();
    e.compressedSize += size;
    if (firstCompressedByte_ && e.options.damageDeflate) {
        // BFINAL set, block type 3: a type no inflater accepts.
        char first = static_cast<char>(0xFF);
        emit(&first, 1);
        firstCompressedByte_ = false;
        emit(data + 1, size - 1);
        return;
    }
    firstCompressedByte_ = false;
    emit(data, size);
}

void ZipWriter::beginFile(const std::string& name, const ZipEntryOptions& options) {
    if (finished_) throw AppError("ZipWriter: archive already finished");
    if (inEntry_) endFile();
    Entry e;
    e.name = name;
    e.options = options;
    e.method = options.deflate ? 8 : 0;
    e.flags = static_cast<std::uint16_t>((options.utf8Flag ? 0x0800 : 0) | (options.dataDescriptor ? 0x0008 : 0) |
                                         options.extraFlags);
    e.localOffset = offset_;
    entries_.push_back(e);
    inEntry_ = true;
    firstCompressedByte_ = true;

    // Sizes and CRC are patched in once the data is written (or follow in the descriptor).
    std::string head;
    put32(head, options.badLocalSignature ? 0x04034b51 : 0x04034b50);
    put16(head, 20);
    put16(head, e.flags);
    put16(head, options.recordedMethod.value_or(e.method));
    put16(head, kDosTime);
    put16(head, kDosDate);
    put32(head, 0);
    put32(head, 0);
    put32(head, 0);
    put16(head, static_cast<std::uint32_t>(name.size()));
    put16(head, 0);
    head += name;
    emit(head.data(), head.size());

    if (options.deflate) {
        if (!zstream_) zstream_ = new z_stream{};
        else deflateEnd(asZ(zstream_));
        *asZ(zstream_) = z_stream{};
        if (deflateInit2(asZ(zstream_), options.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw AppError("ZipWriter: deflateInit2 failed");
    }
}

void ZipWriter::deflateInput(const char* data, std::size_t size, int flushMode) {
    z_stream* z = asZ(zstream_);
    char out[64 * 1024];
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z->avail_in = static_cast<uInt>(size);
    int rc;
    do {
        z->next_out = reinterpret_cast<Bytef*>(out);
        z->avail_out = sizeof out;
        rc = deflate(z, flushMode);
        if (rc == Z_STREAM_ERROR) throw AppError("ZipWriter: deflate failed");
        emitCompressed(out, sizeof out - z->avail_out);
    } while (z->avail_out == 0 || (flushMode == Z_FINISH && rc != Z_STREAM_END));
}

void ZipWriter::write(const char* data, std::size_t size) {
    if (!inEntry_) throw AppError("ZipWriter: write outside an entry");
    Entry& e = entries_.back();
    e.crc = static_cast<std::uint32_t>(crc32_z(e.crc, reinterpret_cast<const Bytef*>(data), size));
    e.uncompressedSize += size;
    if (!e.options.deflate) {
        emitCompressed(data, size);
        return;
    }
    // zlib counts in uInt; feed big pieces in slices.
    while (size > 0) {
        std::size_t piece = std::min<std::size_t>(size, 1u << 30);
        deflateInput(data, piece, Z_NO_FLUSH);
        data += piece;
        size -= piece;
    }
}

void ZipWriter::endFile() {
    if (!inEntry_) return;
    Entry& e = entries_.back();
    if (e.options.deflate) deflateInput(nullptr, 0, Z_FINISH);
    inEntry_ = false;
    std::uint32_t crc = e.options.recordedCrc.value_or(e.crc);
    std::uint32_t usize = e.options.recordedUncompressedSize.value_or(fits32(e.uncompressedSize));
    std::uint32_t csize = fits32(e.compressedSize);
    if (e.options.dataDescriptor) {
        std::string d;
        put32(d, 0x08074b50);
        put32(d, crc);
        put32(d, csize);
        put32(d, usize);
        emit(d.data(), d.size());
        return;
    }
    std::string sizes;
    put32(sizes, crc);
    put32(sizes, csize);
    put32(sizes, usize);
    flush();
    if (pwrite(fd_, sizes.data(), sizes.size(), static_cast<off_t>(e.localOffset + 14)) != 12)
        throw AppError("ZipWriter: cannot write " + path_);
}

void ZipWriter::addFile(const std::string& name, std::string_view data, const ZipEntryOptions& options) {
    beginFile(name, options);
    write(data.data(), data.size());
    endFile();
}

void ZipWriter::addFolder(const std::string& name, std::optional<unsigned> unixMode) {
    ZipEntryOptions stored;
    stored.deflate = false;
    stored.unixMode = unixMode;
    addFile(name, {}, stored);
}

void ZipWriter::setComment(std::string comment) { comment_ = std::move(comment); }

void ZipWriter::finish() {
    if (finished_) return;
    if (inEntry_) endFile();
    finished_ = true;
    std::uint64_t directoryOffset = offset_;
    for (const Entry& e : entries_) {
        std::string c;
        put32(c, e.options.badCentralSignature ? 0x02014b51 : 0x02014b50);
        const bool folder = !e.name.empty() && e.name.back() == '/';
        put16(c, e.options.unixMode ? (3 << 8) | 30 : 20);
        put16(c, 20);
        put16(c, e.flags);
        put16(c, e.options.recordedMethod.value_or(e.method));
        put16(c, kDosTime);
        put16(c, kDosDate);
        put32(c, e.options.recordedCrc.value_or(e.crc));
        put32(c, fits32(e.compressedSize));
        put32(c, e.options.recordedUncompressedSize.value_or(fits32(e.uncompressedSize)));
        put16(c, static_cast<std::uint32_t>(e.name.size()));
        put16(c, 0);
        put16(c, 0);
        put16(c, 0);
        put16(c, 0);
        // The file type beside the permission bits, as zip writes them, unless the mode names its own.
        const std::uint32_t mode = e.options.unixMode.value_or(0);
        const std::uint32_t type = (mode & 0170000) ? (mode & 0170000) : folder ? 040000 : 0100000;
        put32(c, (e.options.unixMode ? (type | (mode & 07777)) << 16 : 0) | (folder ? 0x10 : 0));
        put32(c, fits32(e.localOffset));
        c += e.name;
        emit(c.data(), c.size());
    }
    std::string end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<std::uint32_t>(entries_.size()));
    put16(end, static_cast<std::uint32_t>(entries_.size()));
    put32(end, fits32(offset_ - directoryOffset));
    put32(end, fits32(directoryOffset));
    put16(end, static_cast<std::uint32_t>(comment_.size()));
    end += comment_;
    emit(end.data(), end.size());
    flush();
    if (::close(fd_) != 0) {
        fd_ = -1;
        throw AppError("ZipWriter: cannot write " + path_);
    }
    fd_ = -1;
}

}  // namespace quill::vendorkit
