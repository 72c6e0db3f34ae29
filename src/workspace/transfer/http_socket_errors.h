// The Windows Sockets error codes and texts our fetch errors show, and the
// mapping from this system's errno values to them.
#pragma once

#include <string>

namespace quill {

// "Socket Error # <code>\r\n<fixed text>"; the second line is empty for a code without a text.
std::string socketErrorText(int wsaCode);

// The Windows Sockets code for an errno value (ECONNREFUSED gives 10061); 0 when none fits.
int wsaCodeForErrno(int error);

}  // namespace quill
