// UTF-8 and the system's UTF-16 at the boundary, and its error codes as the
// errno values that platform's callers compare; Windows side only.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

namespace quill::platform::windows {

// Lone surrogates go through both ways, so every name the system gives back
// can be handed to it again.
std::wstring toWide(std::string_view text);
std::string fromWide(std::wstring_view text);

// The errno value that stands for a Windows error code.
int errnoFromSystemError(DWORD error);

}  // namespace quill::platform::windows
