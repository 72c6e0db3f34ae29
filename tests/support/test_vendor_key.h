// The vendor's key for a test: a key pair made in the test and built into the
// program for as long as it lives, as if the program had been built with it.
#pragma once

#include "support/temp_folder.h"
#include "vendorkit/signing.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quill::testing {

struct WrongSignature {
    std::string what;  // names the case in a failure message
    std::string bytes;
};

class TestVendorKey {
public:
    TestVendorKey();
    ~TestVendorKey();  // the program's built-in key again
    TestVendorKey(const TestVendorKey&) = delete;
    TestVendorKey& operator=(const TestVendorKey&) = delete;

    // The 64-byte signature the vendor publishes for these bytes.
    std::string sign(std::string_view bytes) const;

    // Signatures of these bytes that must not let them in, each the vendor's
    // own spoiled a different way: one bit flipped, one byte short, twice as
    // long, and another key's.
    std::vector<WrongSignature> wrongSignatures(std::string_view bytes) const;

    // The built-in key (key 1 of the chain), the keys a vendor may rotate to
    // (keys 2 and 3), and a stranger's.
    const vendorkit::SigningKey& key(int number) const;
    const vendorkit::SigningKey& stranger() const { return another_; }

private:
    TempFolder folder_;
    vendorkit::SigningKey vendor_;
    vendorkit::SigningKey another_;
    vendorkit::SigningKey second_;
    vendorkit::SigningKey third_;
};

// The bytes with bit `bit` (counted from the first byte's lowest) inverted.
std::string withBitFlipped(std::string bytes, std::size_t bit);

}  // namespace quill::testing
