// The rules a path meets before the program touches the disk with it: a name
// that must stay inside its folder, the characters and length Windows allows
// a path, and the folder a path lies in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quill {

// True for a name that, joined to a folder, could lead outside it: absolute
// ("/x", "\x", "C:x") or with a ".." level, "/" and "\" both separating levels.
bool leavesItsFolder(std::string_view name);

// Raises "Unsafe file name: <name>" for a name that leaves its folder.
void checkStaysInside(const std::string& name);

// The plain relative path a name stands for, levels joined by the native
// separator: "." levels and empty levels are dropped ("./a//b" is "a/b"), as
// the file system reads them anyway. A name ending in a separator keeps one
// (a folder; "" for the folder itself). Nothing for a name that leaves its
// folder, and for a file's name that comes to nothing or ends in a "." level
// ("a/." is a folder on disk, not the file the name says).
std::optional<std::string> plainRelativePath(std::string_view name);

// A file name a server gives, which only forms an address: its plain relative
// path (as plainRelativePath), naming a file, without a backslash or a control
// character. Raises "Unsafe file name: <name>" for any other.
std::string plainAddressName(const std::string& name);

// Raises "The specified path is too long" for 260 UTF-16 characters or more.
void checkPathLength(const std::string& path);

// Raises "Invalid characters in path" for a control character, '"', '<', '>' or '|'.
void checkPathCharacters(const std::string& path);

// The path up to and including its last separator: the folder of a file path,
// a folder path that ends in a separator itself; "" without a separator.
std::string folderPartOf(const std::string& path);

// The folder that holds the file or folder at path, a trailing separator not
// counting; it ends in a separator.
std::string parentFolderOf(const std::string& path);

}  // namespace quill
