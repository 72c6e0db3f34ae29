// The Windows Sockets error codes and texts our fetch errors show, on every system.
#pragma once

#include <string>

namespace quill {

// "Socket Error # <code>\r\n<fixed text>"; the second line is empty for a code without a text.
std::string socketErrorText(int wsaCode);

}  // namespace quill
