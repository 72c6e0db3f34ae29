#include "support/wrong_signatures.h"

namespace quill::testing {

std::vector<WrongSignature> wrongSignatures(const std::string& good, const std::string& anotherKeys) {
    return {{"one bit flipped", withBitFlipped(good, 8 * 17 + 2)},
            {"one byte short", good.substr(0, good.size() - 1)},
            {"twice as long", good + good},
            {"another key's", anotherKeys}};
}

std::string withBitFlipped(std::string bytes, std::size_t bit) {
    bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
    return bytes;
}

}  // namespace quill::testing
