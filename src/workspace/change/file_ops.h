// File and folder operations that raise AppError with the texts the user sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quill {

// "Cannot create file "<path>". <system text>" / "Cannot open file "<path>". <system text>"
std::string cannotCreateFileText(const std::string& path, int error);
// "Cannot write file "<path>". <system text>", such as "No space left on device".
std::string cannotWriteFileText(const std::string& path, int error);
std::string cannotOpenFileText(const std::string& path, int error);

// Why an existing file cannot be written over, as an errno: a folder or other
// non-file, a read-only file (even for root), a file another program holds
// locked, or the system's reason it cannot be opened for writing; 0 when it can.
int whyNotWritable(const std::string& path);

// How an existing file of the same name gives way to an OutputFile. Either
// way it stays the same file (owner, permissions, other names), both fail
// alike (see whyNotWritable), and a write that stops half-way leaves what was
// written so far.
enum class Overwrite {
    // Emptied first. The file system writes a file emptied so out when it is
    // closed, so the user's own files are on disk soon after a save.
    emptyFirst,
    // Written over from the start and cut where the new bytes end once they
    // are all there: nothing waits for the disk, for what can be unpacked again.
    cutAtClose,
};

// A file created (replacing any file of that name) for writing as data arrives,
// held exclusively while it is written.
class OutputFile {
public:
    // Raises "Cannot create file ...".
    explicit OutputFile(const std::string& path, Overwrite overwrite = Overwrite::emptyFirst);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Raise "Cannot write file ..." when the system refuses the bytes, close()
    // also for a failure it reports late.
    void write(const char* data, std::size_t size);
    void close();
    const std::string& path() const { return path_; }

private:
    bool cutOldBytes();

    std::string path_;
    int fd_ = -1;
    std::uint64_t written_ = 0;
    std::uint64_t oldBytes_ = 0;  // what is left of the old file to cut off, at most
};

// What writing some files takes on the file system of a folder (which need
// not exist yet): their bytes and how many they are.
struct SpaceNeed {
    std::string folder;
    std::uint64_t bytes = 0;
    std::uint64_t files = 0;
};

// The room kept free on a file system of this size: writing the user's disk
// full would fail the organizer's next save, or another program's.
std::uint64_t diskReserve(std::uint64_t fileSystemSize);

// Raises "Not enough free disk space to <verb> <name without folder>: it needs
// <X> MB, <Y> MB are free." unless the needs fit, with diskReserve() left over,
// in what is available on their file systems; needs on one file system add up,
// and X counts the reserve. A file system whose space cannot be learnt is taken
// to have room.
void checkFreeSpace(const std::vector<SpaceNeed>& needs, const std::string& name, const std::string& verb = "unpack");

// Creates or replaces the file with exactly these bytes, in place: the same
// file (owner, permissions, other names) holds them.
void saveBytesToFile(const std::string& bytes, const std::string& path);

// The folder that holds the file at path, to sync after a rename in it: its
// folder part, or "." for a bare name.
std::string folderHolding(const std::string& path);

// A free hidden name beside path, ".<name>.new<n>", for what is to take its place.
std::string draftBeside(const std::string& path);
// True for a name draftBeside gives beside a file of this name.
bool isDraftName(const std::string& entry, const std::string& name);

// Creates or replaces the file with exactly these bytes as a whole: they are
// written and synced under a temporary name beside it, which then replaces
// it, so a power cut leaves the old bytes or the new ones, never half of
// each. The new file takes the old one's permission bits, and a draft an
// interrupted save left beside it goes. Fails as saveBytesToFile does for a
// file that cannot be written over.
void replaceFileWith(const std::string& bytes, const std::string& path);

// Copies a file to a free name as a whole, the same way; raises with the
// system's text when it cannot.
void copyFileWhole(const std::string& from, const std::string& to);

// One folder level; raises with the system's text when it fails (also when it exists).
void createFolderOrRaise(const std::string& path);

// Removes a file, a link or a folder with everything in it, read-only files
// too. Never raises: what cannot be removed stays.
void removeTree(const std::string& path);

// Deletes a folder with everything in it, read-only files too. Raises
// "The specified directory name is invalid", "The specified path is too long",
// "Invalid characters in path" or "The specified path was not found".
void deleteFolderTree(const std::string& path);

// Moves a folder by renaming its files, never copying. Raises
// "The specified path was not found", "The specified directory already exists",
// "The source and destination paths must contain the same root drive",
// "The source directory is the same as the destination directory", or a path check text.
void moveFolder(const std::string& from, const std::string& to);

}  // namespace quill
