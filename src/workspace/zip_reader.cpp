#include "workspace/zip_reader.h"

#include "platform/error.h"
#include "platform/files.h"
#include "workspace/file_ops.h"
#include "workspace/path_rules.h"
#include "workspace/zip_names.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace quill {

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kMaxCommentSize = 65535;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kChunkSize = 256 * 1024;
constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;

const char* const kStreamReadError = "Stream read error";
const char* const kErrorReadingZip = "Error reading zip file";

std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool hasSignature(const unsigned char* p, unsigned char third, unsigned char fourth) {
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

// Reads forward from an offset in pieces, so a large directory never sits in memory twice.
class ForwardReader {
public:
    ForwardReader(int fd, std::uint64_t offset) : fd_(fd), offset_(offset) {}

    // False when the file ends first.
    bool read(unsigned char* out, std::size_t size) {
        while (size > 0) {
            if (pos_ == buffer_.size()) {
                buffer_.resize(64 * 1024);
                ssize_t n = pread(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(offset_));
                if (n <= 0) {
                    buffer_.clear();
                    pos_ = 0;
                    return false;
                }
                buffer_.resize(static_cast<std::size_t>(n));
                offset_ += static_cast<std::uint64_t>(n);
                pos_ = 0;
            }
            std::size_t take = std::min(size, buffer_.size() - pos_);
            std::copy_n(buffer_.data() + pos_, take, out);
            pos_ += take;
            out += take;
            size -= take;
        }
        return true;
    }

private:
    int fd_;
    std::uint64_t offset_;
    std::vector<unsigned char> buffer_;
    std::size_t pos_ = 0;
};

bool readAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t size) {
    while (size > 0) {
        ssize_t n = pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Every missing level, each one made noted in `made`; failures are left for
// the file creation to report.
void createFolders(const std::string& folder, std::vector<std::string>& made) {
    if (folder.empty() || platform::folderExists(folder)) return;
    const auto create = [&](const std::string& level) {
        if (!platform::folderExists(level) && platform::createFolder(level)) made.push_back(level);
    };
    std::size_t pos = 1;
    while ((pos = folder.find(platform::kSeparator, pos)) != std::string::npos) {
        create(folder.substr(0, pos));
        ++pos;
    }
    if (folder.back() != platform::kSeparator) create(folder);
}

std::string sizeErrorText(const ZipEntry& entry) { return "Size error in " + entry.name; }

}  // namespace

// What one unpacking made, so that it can take it away again.
struct ZipReader::Made {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

struct ZipReader::Impl {
    int fd = -1;
    std::string path;
    std::vector<ZipEntry> entries;
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;
    z_stream inflater{};
    bool inflaterReady = false;
    // The entry being written stopped because the disk refused a write or the
    // entry is not the size it declares, rather than because the archive is damaged.
    bool refused = false;

    ~Impl() {
        if (inflaterReady) inflateEnd(&inflater);
        if (fd >= 0) ::close(fd);
    }

    void readDirectory(const std::string& path);
    void decodeInto(const ZipEntry& entry, std::uint64_t dataStart, OutputFile& file);
    [[noreturn]] void refuse(const std::string& text) {
        refused = true;
        throw AppError(text);
    }
};

void ZipReader::Impl::readDirectory(const std::string& path) {
    struct stat st {};
    if (fstat(fd, &st) != 0) throw AppError(cannotOpenFileText(path, errno));
    if (!S_ISREG(st.st_mode)) throw AppError(cannotOpenFileText(path, EACCES));
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize == 0) throw AppError(kStreamReadError);

    // The end record sits at the very end, after a comment of at most 65,535 bytes.
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kMaxCommentSize + kEndRecordSize));
    std::vector<unsigned char> tail(tailSize);
    if (!readAt(fd, fileSize - tailSize, tail.data(), tailSize)) throw AppError(kStreamReadError);
    if (tailSize < kEndRecordSize) throw AppError(kErrorReadingZip);
    const unsigned char* end = nullptr;
    for (std::size_t i = tailSize - kEndRecordSize + 1; i-- > 0;) {
        if (hasSignature(&tail[i], 5, 6)) {
            end = &tail[i];
            break;
        }
    }
    if (!end) throw AppError(kErrorReadingZip);
    const std::uint16_t total = get16(end + 10);
    const std::uint32_t directoryOffset = get32(end + 16);

    entries.clear();
    entries.reserve(total);
    ForwardReader reader(fd, directoryOffset);
    unsigned char header[kCentralHeaderSize];
    std::string name;
    std::vector<unsigned char> skip;
    for (std::uint16_t i = 0; i < total; ++i) {
        if (!reader.read(header, 4)) throw AppError(kErrorReadingZip);
        if (!hasSignature(header, 1, 2)) throw AppError("Invalid Zip Central Header signature");
        if (!reader.read(header + 4, kCentralHeaderSize - 4)) throw AppError(kErrorReadingZip);
        ZipEntry e;
        e.flags = get16(header + 8);
        e.method = get16(header + 10);
        e.crc32 = get32(header + 16);
        e.compressedSize = get32(header + 20);
        e.uncompressedSize = get32(header + 24);
        const std::uint16_t nameLength = get16(header + 28);
        const std::size_t otherLength = std::size_t{get16(header + 30)} + get16(header + 32);
        e.localHeaderOffset = get32(header + 42);
        name.resize(nameLength);
        skip.resize(otherLength);
        if (!reader.read(reinterpret_cast<unsigned char*>(name.data()), nameLength) ||
            !reader.read(skip.data(), otherLength))
            throw AppError(kErrorReadingZip);
        e.name = (e.flags & kUtf8NameFlag) ? name : cp437ToUtf8(name);
        // Checked before anything is written, so a hostile archive leaves no trace.
        entryPath(e.name);  // raises "Unsafe entry name: ..."
        entries.push_back(std::move(e));
    }
    // Beyond 4 GiB the sizes live in extra fields this reader does not read;
    // taken as they stand they would be wrong.
    for (const ZipEntry& e : entries) {
        if (e.compressedSize == kZip64Marker || e.uncompressedSize == kZip64Marker ||
            e.localHeaderOffset == kZip64Marker)
            throw AppError("Unsupported Zip64 entry: " + e.name);
    }
}

void ZipReader::Impl::decodeInto(const ZipEntry& entry, std::uint64_t dataStart, OutputFile& file) {
    if (input.empty()) input.resize(kChunkSize);
    if (output.empty()) output.resize(kChunkSize);
    std::uint64_t readOffset = dataStart;
    std::uint32_t inputLeft = entry.compressedSize;
    std::uint32_t outputLeft = entry.uncompressedSize;
    uLong crc = crc32_z(0, nullptr, 0);

    // A failed write is the disk's refusal, not damage in the archive.
    auto writeOut = [&](const unsigned char* data, std::size_t size) {
        try {
            file.write(reinterpret_cast<const char*>(data), size);
        } catch (const AppError&) {
            refused = true;
            throw;
        }
    };

    auto readPiece = [&](std::size_t want) -> std::size_t {
        if (inputLeft == 0 || want == 0) throw AppError(kStreamReadError);
        std::size_t size = std::min<std::size_t>({want, inputLeft, input.size()});
        ssize_t n;
        do n = pread(fd, input.data(), size, static_cast<off_t>(readOffset));
        while (n < 0 && errno == EINTR);
        if (n <= 0) throw AppError(kStreamReadError);
        readOffset += static_cast<std::uint64_t>(n);
        inputLeft -= static_cast<std::uint32_t>(n);
        return static_cast<std::size_t>(n);
    };

    if (entry.method == 0) {
        if (entry.compressedSize != entry.uncompressedSize) refuse(sizeErrorText(entry));
        while (outputLeft > 0) {
            std::size_t n = readPiece(outputLeft);
            crc = crc32_z(crc, input.data(), n);
            writeOut(input.data(), n);
            outputLeft -= static_cast<std::uint32_t>(n);
        }
    } else {
        if (!inflaterReady) {
            int rc = inflateInit2(&inflater, -MAX_WBITS);
            if (rc != Z_OK) throw AppError(zError(rc));
            inflaterReady = true;
        } else {
            inflateReset(&inflater);
        }
        inflater.avail_in = 0;
        // One call of the inflater into out, with input whenever the entry has
        // more; rc is Z_BUF_ERROR only when the entry's data has run out.
        int rc = Z_OK;
        auto inflateInto = [&](unsigned char* out, std::size_t room) -> std::size_t {
            if (inflater.avail_in == 0 && inputLeft > 0) {
                inflater.next_in = input.data();
                inflater.avail_in = static_cast<uInt>(readPiece(input.size()));
            }
            inflater.next_out = out;
            inflater.avail_out = static_cast<uInt>(room);
            rc = inflate(&inflater, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && inflater.avail_in == 0))
                throw AppError(zError(rc));
            return static_cast<std::size_t>(inflater.next_out - out);
        };
        while (outputLeft > 0) {
            const std::size_t produced =
                inflateInto(output.data(), std::min<std::size_t>(output.size(), outputLeft));
            if (produced > 0) {
                crc = crc32_z(crc, output.data(), produced);
                writeOut(output.data(), produced);
                outputLeft -= static_cast<std::uint32_t>(produced);
            }
            if (outputLeft > 0 && rc != Z_OK) throw AppError(kStreamReadError);
        }
        // All the declared bytes are out: a stream that would give one more
        // lies about its size, as a bomb does to pass the free space check.
        while (rc == Z_OK) {
            unsigned char beyond;
            if (inflateInto(&beyond, 1) > 0) refuse(sizeErrorText(entry));
        }
    }
    // Damaged data must never be installed as if it were whole.
    if (crc != entry.crc32) throw AppError("CRC error in " + entry.name);
}

ZipReader::ZipReader() : impl_(std::make_unique<Impl>()) {}
ZipReader::~ZipReader() = default;

void ZipReader::open(const std::string& path) {
    close();
    // Non-blocking, so that a pipe given as the archive fails instead of waiting for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw AppError(cannotOpenFileText(path, errno));
    adopt(fd, path);
}

void ZipReader::open(int fd, const std::string& displayPath) {
    close();
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) throw AppError(cannotOpenFileText(displayPath, errno));
    adopt(own, displayPath);
}

void ZipReader::adopt(int fd, const std::string& path) {
    impl_->fd = fd;
    impl_->path = path;
    try {
        impl_->readDirectory(path);
    } catch (...) {
        close();
        throw;
    }
}

void ZipReader::close() {
    if (impl_->fd >= 0) ::close(impl_->fd);
    impl_->fd = -1;
    impl_->entries.clear();
}

bool ZipReader::isOpen() const { return impl_->fd >= 0; }
std::size_t ZipReader::count() const { return impl_->entries.size(); }
const std::vector<ZipEntry>& ZipReader::entries() const { return impl_->entries; }

const ZipEntry& ZipReader::entry(std::size_t index) const {
    if (index >= impl_->entries.size()) throw AppError("List index out of bounds (" + std::to_string(index) + ")");
    return impl_->entries[index];
}

void ZipReader::extract(std::size_t index, const std::string& folder) {
    Made made;
    extractEntry(index, folder, made);
}

void ZipReader::extractEntry(std::size_t index, const std::string& folder, Made& made) {
    const ZipEntry& e = entry(index);
    impl_->refused = false;
    unsigned char local[kLocalHeaderSize];
    if (!readAt(impl_->fd, e.localHeaderOffset, local, 4)) throw AppError(kStreamReadError);
    if (!hasSignature(local, 3, 4)) throw AppError("Invalid Zip Local Header signature");
    if (!readAt(impl_->fd, e.localHeaderOffset + 4, local + 4, kLocalHeaderSize - 4)) throw AppError(kStreamReadError);
    // The sizes the free space check counted are the ones the data must keep to;
    // with a data descriptor the local header leaves them out.
    if ((get16(local + 6) & kDataDescriptorFlag) == 0 &&
        (get32(local + 18) != e.compressedSize || get32(local + 22) != e.uncompressedSize))
        impl_->refuse(sizeErrorText(e));
    const std::uint64_t dataStart =
        std::uint64_t{e.localHeaderOffset} + kLocalHeaderSize + get16(local + 26) + get16(local + 28);
    if (e.method != 0 && e.method != 8) throw AppError("Item not found");

    const std::string targetPath = targetPathFor(folder, e.name);
    createFolders(folderPartOf(targetPath), made.folders);
    if (!targetPath.empty() && targetPath.back() == platform::kSeparator) return;

    const bool existed = platform::pathExists(targetPath);
    std::optional<OutputFile> file;
    try {
        file.emplace(targetPath, Overwrite::cutAtClose);
    } catch (const AppError&) {
        impl_->refused = true;
        throw;
    }
    if (!existed) made.files.push_back(targetPath);
    try {
        impl_->decodeInto(e, dataStart, *file);
        try {
            file->close();
        } catch (const AppError&) {
            impl_->refused = true;
            throw;
        }
    } catch (const AppError&) {
        // Cut short by the disk or by a lying size, the file is no file of
        // the archive's; whatever it held before is written over already.
        if (impl_->refused) {
            file.reset();
            platform::deleteFile(targetPath);
        }
        throw;
    }
}

std::uint64_t ZipReader::declaredSize() const {
    std::uint64_t total = 0;
    for (const ZipEntry& e : impl_->entries) total += e.uncompressedSize;
    return total;
}

void ZipReader::extractAll(const std::string& folder) {
    checkFreeSpace({{folder, declaredSize(), count()}}, impl_->path);
    Made made;
    try {
        for (std::size_t i = 0; i < count(); ++i) extractEntry(i, folder, made);
    } catch (const AppError&) {
        // A damaged archive keeps what came before the damage, as it always
        // has; the disk's refusal or a lying size leaves nothing behind.
        if (impl_->refused) {
            for (auto it = made.files.rbegin(); it != made.files.rend(); ++it) platform::deleteFile(*it);
            for (auto it = made.folders.rbegin(); it != made.folders.rend(); ++it) platform::removeFolder(*it);
        }
        throw;
    }
}

std::string ZipReader::targetPathFor(const std::string& folder, const std::string& entryName) {
    const std::string path = folder + entryPath(entryName);
    checkPathCharacters(path);
    checkPathLength(folderPartOf(path));
    return path;
}

void unpackArchive(const std::string& archivePath, const std::string& folder) {
    ZipReader reader;
    reader.open(archivePath);
    reader.extractAll(folder);
}

void unpackArchive(int fd, const std::string& displayPath, const std::string& folder) {
    ZipReader reader;
    reader.open(fd, displayPath);
    reader.extractAll(folder);
}

}  // namespace quill
