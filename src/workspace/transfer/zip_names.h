// How stored ZIP entry names become ours: code page 437 to UTF-8, and the
// relative path a name stands for.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// Every byte maps; 0x00-0x7F are ASCII.
std::string cp437ToUtf8(std::string_view bytes);

// The one rule for entry names, which every step that reads one goes through:
// the plain relative path a stored name stands for (plainRelativePath), "/"
// and "\" both separating levels, as archives made on Windows use either.
// "./b.txt" (as bsdtar writes it) and "sub//b.txt" are "b.txt" and
// "sub/b.txt"; a folder entry "./" is the folder unpacked into. Raises
// "Unsafe entry name: <name>" for a name that leaves its folder, and for a
// file's name that comes to nothing or ends in a "." level.
std::string entryPath(std::string_view name);

}  // namespace quill
