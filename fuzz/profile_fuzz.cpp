// The INI reader over arbitrary file bytes: the first byte picks the key asked for.
// The libraries are built without coverage instrumentation, which would leave
// the fuzzer blind; the units under test come in as source so they get it.
#include "../src/platform/codepage.cpp"
#include "../src/platform/ini_text.cpp"
#include "../src/platform/profile.cpp"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kKeys[] = {"version", "file", "", "Version"};
    const std::string key = kKeys[data[0] % 4];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string value = quill::platform::profileStringFromBytes(bytes, "Quillary", key, "default");
    if (quill::platform::toUtf16(value).size() > 2047) std::abort();
    return 0;
}
