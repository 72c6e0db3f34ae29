// A fresh application folder under the system's temporary folder (or a folder
// of the test's choice) for one test, removed afterwards.
#pragma once

#include <string>

namespace quill::testing {

class TempFolder {
public:
    // Under `base` when given, else the system's temporary folder.
    explicit TempFolder(const std::string& base = "");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, ending in the system's separator.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Small file helpers for assertions and set-up.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
void makeFolders(const std::string& path);  // every missing level
// Removes path and everything under it, read-only or not; ignores failures.
void removeForcibly(const std::string& path);
// An immutable file cannot be renamed or deleted, not even by root. False where
// the file system or the process cannot set the flag.
bool setImmutable(const std::string& path, bool on);

}  // namespace quill::testing
