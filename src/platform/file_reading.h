// Files read by descriptor at an offset each time: a descriptor keeps no
// position its readers rely on, so the bytes a check read and the bytes the
// unpacking reads come from one open file even if its name is given to
// another meanwhile. Reading changes no file, so none of it is reported to
// the file observer. Failures leave their errno value for lastError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quill::platform {

// -1 on failure. Never waits: a pipe of that name fails or reads as empty.
int openFileForReading(const std::string& path);
// Up to size bytes at offset; how many were read, 0 at the end, -1 on failure.
// Works on a descriptor from openFileForWriting too.
std::int64_t readFileAt(int fd, std::uint64_t offset, void* out, std::size_t size);
// All size bytes at offset, or false (also when the file ends first).
bool readWholeRange(int fd, std::uint64_t offset, void* out, std::size_t size);
// A descriptor of its own on the same open file; -1 on failure.
int duplicateFile(int fd);
void closeFileForReading(int fd);

}  // namespace quill::platform
