// How stored ZIP entry names become ours: code page 437 to UTF-8, and the
// relative path a name stands for.
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

}  // namespace quill
