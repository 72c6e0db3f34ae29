// Text in a Windows code page (1252, 1251, 28592 for ISO 8859-2, ...), to and
// from the program's UTF-8, as MultiByteToWideChar and WideCharToMultiByte
// convert it: on Windows through those, on Debian through the C library's iconv.
#pragma once

#include <string>
#include <string_view>

namespace quill::platform {

// Whether this machine can convert that code page.
bool codePageAvailable(unsigned codePage);

class CodePageConverter {
public:
    // Raises AppError when the code page cannot be converted here.
    explicit CodePageConverter(unsigned codePage);
    ~CodePageConverter();
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    unsigned codePage() const { return codePage_; }

    // The code page's bytes as UTF-8; a byte that is no character of the code
    // page (or an incomplete one at the end) becomes U+FFFD. Raises nothing.
    std::string toUtf8(std::string_view bytes) const;
    // UTF-8 text as the code page's bytes; every character the code page lacks,
    // and every byte that is not UTF-8, becomes `substitute`. Raises nothing.
    std::string fromUtf8(std::string_view text, char substitute) const;

private:
    unsigned codePage_;
    // The system's converters, when it needs any (iconv's on Debian).
    void* toUtf8_ = nullptr;
    void* fromUtf8_ = nullptr;
};

}  // namespace quill::platform
