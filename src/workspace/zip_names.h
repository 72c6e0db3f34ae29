// How stored ZIP entry names become ours: code page 437 to UTF-8, the relative
// path a name stands for, and which names could write outside the folder they
// are unpacked into.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// Every byte maps; 0x00-0x7F are ASCII.
std::string cp437ToUtf8(std::string_view bytes);

// The relative path a stored name stands for, native separators between levels.
// "/" and "\" both separate levels, as archives made on Windows use either;
// every step that reads an entry name goes through here.
std::string entryPath(std::string_view name);

// True for a name that is absolute ("/x", "\x", "C:x") or has a ".." level,
// with "/" and "\" both taken as separators.
bool isUnsafeEntryName(std::string_view name);

}  // namespace quill
