// Our ZIP archive reader over zlib's raw inflate: listing, and unpacking into a folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quill {

struct ZipEntry {
    std::string name;          // as stored; entryPath() gives the relative path it stands for
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc32 = 0;
    // From the Zip64 extra field where the 32-bit field holds its marker.
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint16_t versionMadeBy = 0;       // its high byte names the system the entry was made on
    std::uint32_t externalAttributes = 0;  // made on Unix: the file's mode in the high 16 bits
    // The permission bits (rwx only) of an entry made on Unix that records a
    // file's mode; none for other systems, links and folders.
    std::optional<unsigned> unixMode() const;
    // A name that ends in a separator ("/" or "\") stands for a folder.
    bool isFolder() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
};

class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Reads the central directory, Zip64 records included. Raises "Cannot open
    // file ...", "Stream read error", "Error reading zip file", "Invalid Zip
    // Central Header signature", and for the first entry that cannot be taken:
    // "Unsafe entry name: <name>", "Encrypted entry: <name>", "Unsupported
    // Zip64 entry: <name>" (a marker without its value, or a value beyond a
    // file's size).
    void open(const std::string& path);
    // The same for a file already open as fd, which the reader duplicates and
    // reads at offsets of its own, so the bytes unpacked are the bytes the caller checked
    // through fd; displayPath names the file in the texts.
    void open(int fd, const std::string& displayPath);
    void close();
    bool isOpen() const;

    std::size_t count() const;
    const ZipEntry& entry(std::size_t index) const;  // raises "List index out of bounds (<index>)"
    const std::vector<ZipEntry>& entries() const;

    // Writes one entry under `folder` (which ends in a separator) at the path its
    // name stands for, creating missing parent folders. Checks in this order and
    // raises at the first failure: the local header ("Invalid Zip Local Header
    // signature", and "Size error in <name>" when its sizes are not the central
    // directory's), the method ("Item not found"), the target path (as
    // targetPathFor), then the writing ("Cannot create file ...", "Stream read
    // error", zlib's texts, "Cannot write file ...", "CRC error in <name>"). Never
    // writes more than the declared size: data that holds more raises "Size
    // error in <name>". When a write fails or the size is wrong, the entry's
    // file is deleted; damaged data leaves what was written.
    //
    // The file's permission bits: the entry's Unix mode, as the umask allows;
    // else, for a file written over, what it had; else those of the file
    // `replaced` names for the entry (the one the unpacked file will take the
    // place of), when there is one; else the default for new files. The
    // first two always with read and write for the owner. A file that replaces the running program keeps
    // the right to run it had.
    using ReplacedFile = std::function<std::string(const ZipEntry&)>;
    void extract(std::size_t index, const std::string& folder, const ReplacedFile& replaced = {});

    // The sum of the entries' declared (uncompressed) sizes, at most 2^61.
    std::uint64_t declaredSize() const;

    // Every entry in directory order, as extract, once checkFreeSpace has found
    // room for the declared size (its text names the archive). When a write
    // fails or an entry is not its declared size, deletes every file and folder
    // this call made before it raises; folders and files that were there before
    // stay, those written over with the new bytes. Damaged data ends the
    // unpacking at that entry with the entries before it written.
    void extractAll(const std::string& folder, const ReplacedFile& replaced = {});

    // The target path of an entry under `folder` (which ends in a separator);
    // raises "Invalid characters in path" / "The specified path is too long".
    static std::string targetPathFor(const std::string& folder, const std::string& entryName);

private:
    struct Made;
    void adopt(int fd, const std::string& path);
    void extractEntry(std::size_t index, const std::string& folder, Made& made, const ReplacedFile& replaced);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Unpacks every entry of the archive into folder, as ZipReader::extractAll.
void unpackArchive(const std::string& archivePath, const std::string& folder);
// The same for an archive already open as fd (see ZipReader::open).
void unpackArchive(int fd, const std::string& displayPath, const std::string& folder);

}  // namespace quill
