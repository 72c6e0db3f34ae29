// Any file bytes decode to lines without a NUL or line break in them, valid UTF-8
// but for lone UTF-16 surrogates, and a UTF-16 line goes back to the same units.
// The libraries are built without coverage instrumentation, which would leave
// the fuzzer blind; the units under test come in as source so they get it.
#include "../src/platform/codepage.cpp"
#include "../src/workspace/app/line_list.cpp"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    quill::TextEncoding encoding = quill::TextEncoding::None;
    const auto lines = quill::decodeLines(bytes, encoding);
    if (encoding == quill::TextEncoding::None) std::abort();
    for (const auto& line : lines) {
        if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) std::abort();
        if (!quill::platform::decodeUtf8(quill::platform::utf8ForFile(line))) std::abort();
        const bool wide = encoding == quill::TextEncoding::Utf16LE || encoding == quill::TextEncoding::Utf16BE;
        const bool big = encoding == quill::TextEncoding::Utf16BE;
        if (wide && quill::platform::utf16ToUtf8(quill::platform::utf8ToUtf16(line, big), big) != line) std::abort();
    }
    return 0;
}
