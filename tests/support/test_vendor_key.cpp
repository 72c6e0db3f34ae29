#include "support/test_vendor_key.h"

#include "workspace/trust/vendor_key.h"

namespace quill::testing {

namespace {

std::string newKeyFile(const TempFolder& folder, const std::string& name) {
    vendorkit::generateSigningKey(folder / name);
    return folder / name;
}

}  // namespace

TestVendorKey::TestVendorKey()
    : vendor_(newKeyFile(folder_, "vendor.pem")),
      another_(newKeyFile(folder_, "another.pem")),
      second_(newKeyFile(folder_, "second.pem")),
      third_(newKeyFile(folder_, "third.pem")) {
    useVendorKeyForTests(publicKeyFromBase64(vendor_.publicKeyBase64()));
}

TestVendorKey::~TestVendorKey() { useBuiltInVendorKey(); }

std::string TestVendorKey::sign(std::string_view bytes) const { return vendor_.sign(bytes); }

std::vector<WrongSignature> TestVendorKey::wrongSignatures(std::string_view bytes) const {
    const std::string good = sign(bytes);
    return {{"one bit flipped", withBitFlipped(good, 8 * 17 + 2)},
            {"one byte short", good.substr(0, good.size() - 1)},
            {"twice as long", good + good},
            {"another key's", another_.sign(bytes)}};
}

const vendorkit::SigningKey& TestVendorKey::key(int number) const {
    return number == 3 ? third_ : number == 2 ? second_ : vendor_;
}

std::string withBitFlipped(std::string bytes, std::size_t bit) {
    bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
    return bytes;
}

}  // namespace quill::testing
