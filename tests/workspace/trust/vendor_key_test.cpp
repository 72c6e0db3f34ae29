#include "workspace/trust/vendor_key.h"

#include "platform/error.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(VendorKey, TheBuildSettingGivesTheKeyOrNoneAndNothingHalfRead) {
    EXPECT_FALSE(keyFromBuildSetting("").has_value());
    const auto key = keyFromBuildSetting("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->bytes[0], 0);
    EXPECT_EQ(key->bytes[31], 31);
    // Unreadable must not mean unchecked.
    for (const char* bad : {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gIQ==",
                            "not a key", " "})
        EXPECT_THROW(keyFromBuildSetting(bad), AppError) << bad;
}

TEST(VendorKey, TheProgramHoldsTheKeyItWasBuiltWith) {
    const std::string setting = QUILL_UPDATE_PUBLIC_KEY;
    ASSERT_EQ(vendorPublicKey().has_value(), !setting.empty());
    if (vendorPublicKey()) {
        EXPECT_EQ(vendorPublicKey()->bytes, keyFromBuildSetting(setting)->bytes);
    }
}

}  // namespace
}  // namespace quill
