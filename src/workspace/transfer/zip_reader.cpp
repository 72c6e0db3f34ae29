#include "workspace/transfer/zip_reader.h"

#include "platform/error.h"
#include "platform/file_reading.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/path_rules.h"
#include "workspace/transfer/zip_names.h"

#include <algorithm>
#include <cerrno>
#include <optional>
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
constexpr std::uint16_t kEncryptedFlag = 0x0001;
constexpr std::uint16_t kAesMethod = 99;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr std::uint16_t kZip64Marker16 = 0xFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::uint64_t kLargestOffset = static_cast<std::uint64_t>(INT64_MAX);

const char* const kStreamReadError = "Stream read error";
const char* const kErrorReadingZip = "Error reading zip file";

std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t get64(const unsigned char* p) { return get32(p) | (std::uint64_t{get32(p + 4)} << 32); }

// The data of the first extra field with this id, or nothing.
std::optional<std::pair<const unsigned char*, std::size_t>> findExtra(const unsigned char* extra, std::size_t size,
                                                                       std::uint16_t id) {
    std::size_t at = 0;
    while (size - at >= 4) {
        const std::uint16_t fieldId = get16(extra + at);
        const std::size_t length = get16(extra + at + 2);
        if (length > size - at - 4) break;
        if (fieldId == id) return std::make_pair(extra + at + 4, length);
        at += 4 + length;
    }
    return std::nullopt;
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
                const std::int64_t n = platform::readFileAt(fd_, offset_, buffer_.data(), buffer_.size());
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
    return platform::readWholeRange(fd, offset, out, size);
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

constexpr unsigned kMadeOnUnix = 3;
// The file type in the Unix mode an archive made on Unix carries, whatever system reads it.
constexpr unsigned kTypeBits = 0170000;
constexpr unsigned kTypeLink = 0120000;
constexpr unsigned kTypeFolder = 0040000;

// The bits an unpacked file is given, or none to leave it as it was made:
// a new file made with the default, or a file written over with its own.
// Read and write for the owner always: the program replaces its files later,
// and the organizer writes to its database.
std::optional<unsigned> permissionsFor(const ZipEntry& entry, bool existed, const std::string& replaced) {
    platform::FileStatus old;
    const bool replacing =
        !replaced.empty() && platform::statusOf(replaced, old) && old.kind == platform::FileKind::file;
    std::optional<unsigned> mode;
    if (const auto own = entry.unixMode()) {
        mode = (*own | 0600) & ~platform::creationMask();
    } else if (!existed && replacing) {
        mode = (old.mode & 0777) | 0600;
    }
    // The program that runs this very code must start again after its update.
    if (replacing && platform::isRunningProgram(replaced)) {
        const unsigned made = mode.value_or(0666 & ~platform::creationMask());
        if ((made & old.mode & 0111) != (old.mode & 0111)) mode = made | (old.mode & 0111);
    }
    return mode;
}

}  // namespace

std::optional<unsigned> ZipEntry::unixMode() const {
    const unsigned mode = externalAttributes >> 16;
    // A link is unpacked as a file holding its target, and a folder gets the default.
    if ((versionMadeBy >> 8) != kMadeOnUnix || (mode & 0777) == 0 || (mode & kTypeBits) == kTypeLink ||
        (mode & kTypeBits) == kTypeFolder) {
        return std::nullopt;
    }
    return mode & 0777;
}

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
        platform::closeFileForReading(fd);
    }

    void readDirectory(const std::string& path);
    void decodeInto(const ZipEntry& entry, std::uint64_t dataStart, OutputFile& file);
    [[noreturn]] void refuse(const std::string& text) {
        refused = true;
        throw AppError(text);
    }
};

void ZipReader::Impl::readDirectory(const std::string& path) {
    platform::FileStatus status;
    if (!platform::openFileStatus(fd, status)) throw AppError(cannotOpenFileText(path, platform::lastError()));
    if (status.kind != platform::FileKind::file) throw AppError(cannotOpenFileText(path, EACCES));
    const std::uint64_t fileSize = status.size;
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
    std::uint64_t total = get16(end + 10);
    std::uint64_t directoryOffset = get32(end + 16);
    // A marker sends the reader to the Zip64 end record for that value, when
    // a locator right before the end record finds one; without one the
    // values are taken as they stand, as they always were.
    const std::uint64_t endOffset = fileSize - tailSize + static_cast<std::uint64_t>(end - tail.data());
    if ((total == kZip64Marker16 || directoryOffset == kZip64Marker) && endOffset >= kZip64LocatorSize) {
        unsigned char locator[kZip64LocatorSize];
        if (readAt(fd, endOffset - kZip64LocatorSize, locator, sizeof locator) && hasSignature(locator, 6, 7)) {
            unsigned char record[kZip64EndRecordSize];
            const std::uint64_t recordOffset = get64(locator + 8);
            if (recordOffset > kLargestOffset || !readAt(fd, recordOffset, record, sizeof record) ||
                !hasSignature(record, 6, 6))
                throw AppError(kErrorReadingZip);
            if (total == kZip64Marker16) total = get64(record + 32);
            if (directoryOffset == kZip64Marker) directoryOffset = get64(record + 48);
        }
    }
    // Each entry takes at least a header's bytes: a count beyond that is a lie
    // that must not size the list.
    if (total > fileSize / kCentralHeaderSize || directoryOffset > kLargestOffset) throw AppError(kErrorReadingZip);

    entries.clear();
    entries.reserve(static_cast<std::size_t>(total));
    ForwardReader reader(fd, directoryOffset);
    unsigned char header[kCentralHeaderSize];
    std::string name;
    std::vector<unsigned char> skip;
    for (std::uint64_t i = 0; i < total; ++i) {
        if (!reader.read(header, 4)) throw AppError(kErrorReadingZip);
        if (!hasSignature(header, 1, 2)) throw AppError("Invalid Zip Central Header signature");
        if (!reader.read(header + 4, kCentralHeaderSize - 4)) throw AppError(kErrorReadingZip);
        ZipEntry e;
        e.versionMadeBy = get16(header + 4);
        e.flags = get16(header + 8);
        e.method = get16(header + 10);
        e.crc32 = get32(header + 16);
        e.compressedSize = get32(header + 20);
        e.uncompressedSize = get32(header + 24);
        const std::uint16_t nameLength = get16(header + 28);
        const std::size_t extraLength = get16(header + 30);
        const std::size_t otherLength = extraLength + get16(header + 32);
        e.externalAttributes = get32(header + 38);
        e.localHeaderOffset = get32(header + 42);
        name.resize(nameLength);
        skip.resize(otherLength);
        if (!reader.read(reinterpret_cast<unsigned char*>(name.data()), nameLength) ||
            !reader.read(skip.data(), otherLength))
            throw AppError(kErrorReadingZip);
        e.name = (e.flags & kUtf8NameFlag) ? name : cp437ToUtf8(name);
        // Checked before anything is written, so a hostile archive leaves no trace.
        entryPath(e.name);  // raises "Unsafe entry name: ..."
        // Without the password its data is noise; better said now than as damage half-way.
        if ((e.flags & kEncryptedFlag) || e.method == kAesMethod) throw AppError("Encrypted entry: " + e.name);
        std::vector<std::uint64_t*> marked;
        if (e.uncompressedSize == kZip64Marker) marked.push_back(&e.uncompressedSize);
        if (e.compressedSize == kZip64Marker) marked.push_back(&e.compressedSize);
        if (e.localHeaderOffset == kZip64Marker) marked.push_back(&e.localHeaderOffset);
        bool taken = true;
        if (!marked.empty()) {
            const auto field = findExtra(skip.data(), extraLength, kZip64ExtraId);
            taken = field && field->second >= 8 * marked.size();
            for (std::size_t k = 0; taken && k < marked.size(); ++k) *marked[k] = get64(field->first + 8 * k);
        }
        // A marker without its value, or a value no file of ours reaches, cannot be read.
        if (!taken || e.compressedSize > kLargestOffset || e.uncompressedSize > kLargestOffset ||
            e.localHeaderOffset > kLargestOffset)
            throw AppError("Unsupported Zip64 entry: " + e.name);
        entries.push_back(std::move(e));
    }
}

void ZipReader::Impl::decodeInto(const ZipEntry& entry, std::uint64_t dataStart, OutputFile& file) {
    if (input.empty()) input.resize(kChunkSize);
    if (output.empty()) output.resize(kChunkSize);
    std::uint64_t readOffset = dataStart;
    std::uint64_t inputLeft = entry.compressedSize;
    std::uint64_t outputLeft = entry.uncompressedSize;
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
        std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>({want, inputLeft, input.size()}));
        const std::int64_t n = platform::readFileAt(fd, readOffset, input.data(), size);
        if (n <= 0) throw AppError(kStreamReadError);
        readOffset += static_cast<std::uint64_t>(n);
        inputLeft -= static_cast<std::uint64_t>(n);
        return static_cast<std::size_t>(n);
    };

    if (entry.method == 0) {
        if (entry.compressedSize != entry.uncompressedSize) refuse(sizeErrorText(entry));
        while (outputLeft > 0) {
            std::size_t n = readPiece(static_cast<std::size_t>(std::min<std::uint64_t>(outputLeft, input.size())));
            crc = crc32_z(crc, input.data(), n);
            writeOut(input.data(), n);
            outputLeft -= n;
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
            const std::size_t produced = inflateInto(
                output.data(), static_cast<std::size_t>(std::min<std::uint64_t>(output.size(), outputLeft)));
            if (produced > 0) {
                crc = crc32_z(crc, output.data(), produced);
                writeOut(output.data(), produced);
                outputLeft -= produced;
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
    const int fd = platform::openFileForReading(path);
    if (fd < 0) throw AppError(cannotOpenFileText(path, platform::lastError()));
    adopt(fd, path);
}

void ZipReader::open(int fd, const std::string& displayPath) {
    close();
    const int own = platform::duplicateFile(fd);
    if (own < 0) throw AppError(cannotOpenFileText(displayPath, platform::lastError()));
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
    platform::closeFileForReading(impl_->fd);
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

void ZipReader::extract(std::size_t index, const std::string& folder, const ReplacedFile& replaced) {
    Made made;
    extractEntry(index, folder, made, replaced);
}

void ZipReader::extractEntry(std::size_t index, const std::string& folder, Made& made, const ReplacedFile& replaced) {
    const ZipEntry& e = entry(index);
    impl_->refused = false;
    unsigned char local[kLocalHeaderSize];
    if (!readAt(impl_->fd, e.localHeaderOffset, local, 4)) throw AppError(kStreamReadError);
    if (!hasSignature(local, 3, 4)) throw AppError("Invalid Zip Local Header signature");
    if (!readAt(impl_->fd, e.localHeaderOffset + 4, local + 4, kLocalHeaderSize - 4)) throw AppError(kStreamReadError);
    // The sizes the free space check counted are the ones the data must keep to;
    // with a data descriptor the local header leaves them out.
    const std::uint16_t nameLength = get16(local + 26);
    const std::uint16_t extraLength = get16(local + 28);
    if ((get16(local + 6) & kDataDescriptorFlag) == 0) {
        std::uint64_t compressed = get32(local + 18);
        std::uint64_t uncompressed = get32(local + 22);
        if (compressed == kZip64Marker || uncompressed == kZip64Marker) {
            // As a writer that cannot seek back leaves them: the real sizes
            // follow in the Zip64 extra field, both of them, uncompressed first.
            std::vector<unsigned char> extra(extraLength);
            if (!readAt(impl_->fd, e.localHeaderOffset + kLocalHeaderSize + nameLength, extra.data(), extraLength))
                throw AppError(kStreamReadError);
            const auto field = findExtra(extra.data(), extra.size(), kZip64ExtraId);
            if (field && field->second >= 16) {
                if (uncompressed == kZip64Marker) uncompressed = get64(field->first);
                if (compressed == kZip64Marker) compressed = get64(field->first + 8);
            } else if (field && field->second >= 8) {
                (uncompressed == kZip64Marker ? uncompressed : compressed) = get64(field->first);
            }
        }
        if (compressed != e.compressedSize || uncompressed != e.uncompressedSize) impl_->refuse(sizeErrorText(e));
    }
    const std::uint64_t dataStart = e.localHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
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
        // Set while the file is still empty: bytes meant for the owner alone are never readable by others.
        if (const auto mode = permissionsFor(e, existed, replaced ? replaced(e) : std::string());
            mode && !platform::setPermissions(targetPath, *mode))
            impl_->refuse(cannotWriteFileText(targetPath, platform::lastError()));
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
    // Held below what a sum with the other needs could wrap round: Zip64
    // sizes that add up past it are more than any disk has anyway.
    constexpr std::uint64_t kCeiling = kLargestOffset / 4;
    std::uint64_t total = 0;
    for (const ZipEntry& e : impl_->entries) total = std::min(kCeiling, total + std::min(kCeiling, e.uncompressedSize));
    return total;
}

void ZipReader::extractAll(const std::string& folder, const ReplacedFile& replaced) {
    checkFreeSpace({{folder, declaredSize(), count()}}, impl_->path);
    Made made;
    try {
        for (std::size_t i = 0; i < count(); ++i) extractEntry(i, folder, made, replaced);
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
