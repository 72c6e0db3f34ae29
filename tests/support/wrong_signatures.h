// Signatures that must not let an archive in, for the tests of every signed
// download: each is the vendor's own one spoiled a different way.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quill::testing {

struct WrongSignature {
    std::string what;  // names the case in a failure message
    std::string bytes;
};

// From the vendor's good signature of an archive and that same archive signed
// by another key: one bit flipped, one byte short, twice as long, another key's.
std::vector<WrongSignature> wrongSignatures(const std::string& good, const std::string& anotherKeys);

// The bytes with bit `bit` (counted from the first byte's lowest) inverted.
std::string withBitFlipped(std::string bytes, std::size_t bit);

}  // namespace quill::testing
