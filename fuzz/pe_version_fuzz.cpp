// The version reader over arbitrary bytes, and over a valid program file with
// the input's bytes written into it, so the fuzzer reaches the resource tree.
// The libraries are built without coverage instrumentation, which would leave
// the fuzzer blind; the units under test come in as source so they get it.
#include "../src/platform/pe_version.cpp"
// The test PE builder is not part of the libraries the fuzz targets link.
#include "../tools/vendorkit/pe_writer.cpp"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)quill::platform::parseFileVersion(data, size);
    if (size < 3) return 0;
    static const std::string pe32 = quill::vendorkit::buildPeWithVersion(1, 2, 3, 4, false);
    static const std::string pe32plus = quill::vendorkit::buildPeWithVersion(1, 2, 3, 4, true);
    std::string image = (data[0] & 1) ? pe32plus : pe32;
    // Pairs of (offset, byte) overwrite the image; a final odd byte cuts it.
    std::size_t i = 1;
    for (; i + 2 < size; i += 3) {
        const std::size_t at = (static_cast<std::size_t>(data[i]) << 8 | data[i + 1]) % image.size();
        image[at] = static_cast<char>(data[i + 2]);
    }
    if (i < size) image.resize(image.size() * data[i] / 256);
    (void)quill::platform::parseFileVersion(reinterpret_cast<const unsigned char*>(image.data()), image.size());
    return 0;
}
