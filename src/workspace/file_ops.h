// File and folder operations that raise AppError with the texts the user sees.
#pragma once

#include <cstddef>
#include <string>

namespace quill {

// "Cannot create file "<path>". <system text>" / "Cannot open file "<path>". <system text>"
std::string cannotCreateFileText(const std::string& path, int error);
std::string cannotOpenFileText(const std::string& path, int error);

// A file created (replacing any file of that name) for writing as data arrives.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);  // raises "Cannot create file ..."
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const char* data, std::size_t size);  // raises on a failed write
    void close();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Creates or replaces the file with exactly these bytes.
void saveBytesToFile(const std::string& bytes, const std::string& path);

// One folder level; raises with the system's text when it fails (also when it exists).
void createFolderOrRaise(const std::string& path);

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
