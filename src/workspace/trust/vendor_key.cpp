#include "workspace/trust/vendor_key.h"

#include "platform/error.h"

namespace quill {

std::optional<PublicKey> keyFromBuildSetting(std::string_view text) {
    if (text.empty()) return std::nullopt;
    auto key = publicKeyFromBase64(text);
    if (!key) throw AppError("The built-in update key is not a valid public key.");
    return key;
}

namespace {

std::optional<std::optional<PublicKey>> g_testKey;

}  // namespace

const std::optional<PublicKey>& vendorPublicKey() {
    if (g_testKey) return *g_testKey;
    static const std::optional<PublicKey> key = keyFromBuildSetting(QUILL_UPDATE_PUBLIC_KEY);
    return key;
}

bool archivesAreSigned() { return vendorPublicKey().has_value(); }

void useVendorKeyForTests(std::optional<PublicKey> key) { g_testKey = key; }
void useBuiltInVendorKey() { g_testKey.reset(); }

}  // namespace quill
