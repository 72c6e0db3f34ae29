// Our ZIP archive reader over zlib's raw inflate: listing, and unpacking into a folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quill {

struct ZipEntry {
    std::string name;          // as stored; entryPath() gives the relative path it stands for
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t localHeaderOffset = 0;
    // A name that ends in a separator ("/" or "\") stands for a folder.
    bool isFolder() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
};

class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Reads the central directory. Raises "Cannot open file ...", "Stream read error",
    // "Error reading zip file", "Invalid Zip Central Header signature",
    // "Unsafe entry name: <name>", "Unsupported Zip64 entry: <name>".
    void open(const std::string& path);
    // The same for a file already open as fd, which the reader duplicates and
    // reads with pread, so the bytes unpacked are the bytes the caller checked
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
    void extract(std::size_t index, const std::string& folder);

    // The sum of the entries' declared (uncompressed) sizes.
    std::uint64_t declaredSize() const;

    // Every entry in directory order, as extract, once checkFreeSpace has found
    // room for the declared size (its text names the archive). When a write
    // fails or an entry is not its declared size, deletes every file and folder
    // this call made before it raises; folders and files that were there before
    // stay, those written over with the new bytes. Damaged data ends the
    // unpacking at that entry with the entries before it written.
    void extractAll(const std::string& folder);

    // The target path of an entry under `folder` (which ends in a separator);
    // raises "Invalid characters in path" / "The specified path is too long".
    static std::string targetPathFor(const std::string& folder, const std::string& entryName);

private:
    struct Made;
    void adopt(int fd, const std::string& path);
    void extractEntry(std::size_t index, const std::string& folder, Made& made);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Unpacks every entry of the archive into folder, as ZipReader::extractAll.
void unpackArchive(const std::string& archivePath, const std::string& folder);
// The same for an archive already open as fd (see ZipReader::open).
void unpackArchive(int fd, const std::string& displayPath, const std::string& folder);

}  // namespace quill
