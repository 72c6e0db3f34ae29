// Any file bytes decode to valid UTF-8 lines without a NUL or line break in them.
// The libraries are built without coverage instrumentation, which would leave
// the fuzzer blind; the units under test come in as source so they get it.
#include "../src/platform/codepage.cpp"
#include "../src/workspace/line_list.cpp"

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
        if (!quill::platform::decodeUtf8(line)) std::abort();
    }
    return 0;
}
