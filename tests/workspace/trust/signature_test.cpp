#include "workspace/trust/signature.h"

#include "support/temp_folder.h"
#include "support/test_vendor_key.h"
#include "vendorkit/signing.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

PublicKey keyOf(const std::string& bytes) {
    PublicKey key;
    std::copy(bytes.begin(), bytes.end(), key.bytes.begin());
    return key;
}

// Keys made here, as the vendor makes them.
class Ed25519Check : public ::testing::Test {
protected:
    static PublicKey keyIn(const testing::TempFolder& folder, const std::string& name) {
        return *publicKeyFromBase64(vendorkit::generateSigningKey(folder / name));
    }

    testing::TempFolder folder_;
    PublicKey key_ = keyIn(folder_, "vendor.pem");
    vendorkit::SigningKey signer_{folder_ / "vendor.pem"};
    std::string archive_ = [] {
        std::string bytes(100000, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 253);
        return bytes;
    }();
    std::string signature_ = signer_.sign(archive_);
};

TEST(Ed25519Vector, ThePublishedExampleChecksAndNothingNextToIt) {
    // RFC 8032, section 7.1, test 2.
    const PublicKey key = keyOf(fromHex("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c"));
    const std::string signature = fromHex(
        "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
        "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00");
    EXPECT_TRUE(signatureMatches(key, "\x72", signature));
    EXPECT_FALSE(signatureMatches(key, "\x73", signature));
    EXPECT_FALSE(signatureMatches(key, "", signature));
}

TEST_F(Ed25519Check, TheVendorsSignatureOverTheExactBytesPasses) {
    EXPECT_TRUE(signatureMatches(key_, archive_, signature_));
    EXPECT_TRUE(signatureMatches(key_, "", signer_.sign("")));
}

TEST_F(Ed25519Check, AMissingShortLongOrForeignSignatureFails) {
    EXPECT_FALSE(signatureMatches(key_, archive_, ""));
    EXPECT_FALSE(signatureMatches(key_, archive_, signature_.substr(0, 63)));
    EXPECT_FALSE(signatureMatches(key_, archive_, signature_ + '\0'));
    EXPECT_FALSE(signatureMatches(key_, archive_, std::string(64, '\0')));
    EXPECT_FALSE(signatureMatches(keyIn(folder_, "other.pem"), archive_, signature_));
    EXPECT_FALSE(signatureMatches(PublicKey{}, archive_, signature_));
}

TEST_F(Ed25519Check, EveryFlippedBitOfTheSignatureFails) {
    for (std::size_t bit = 0; bit < kSignatureSize * 8; ++bit)
        EXPECT_FALSE(signatureMatches(key_, archive_, testing::withBitFlipped(signature_, bit))) << "bit " << bit;
}

TEST_F(Ed25519Check, AnArchiveFlippedCutOrGrownByABitOrAByteFails) {
    for (std::size_t bit : {std::size_t{0}, archive_.size() * 4 + 3, archive_.size() * 8 - 1})
        EXPECT_FALSE(signatureMatches(key_, testing::withBitFlipped(archive_, bit), signature_)) << "bit " << bit;
    EXPECT_FALSE(signatureMatches(key_, archive_.substr(0, archive_.size() - 1), signature_));
    EXPECT_FALSE(signatureMatches(key_, archive_ + '\0', signature_));
}

TEST(Base64, DecodesWhatItEncodesAtEveryPaddingLength) {
    std::string bytes;
    for (int size = 0; size <= 66; ++size) {
        const std::string text = encodeBase64(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(decodeBase64(text), bytes) << text;
        bytes += static_cast<char>(size * 97 + 200);
    }
    EXPECT_EQ(encodeBase64("\xfb\xff"), "+/8=");
    EXPECT_EQ(decodeBase64("TWFu"), "Man");
}

TEST(Base64, RefusesTextThatIsNotPlainPaddedBase64) {
    for (const char* bad : {"TWF", "TWFuTQ", "TWFuTQ=", "TW=u", "TWFu====", "=TWF", "TW Fu", "TWFu\n", " TWFu",
                            "-_8=", "TWF\xc3\xa9", "TWFuT===", "TWF=", "TR==", "+/9="})
        EXPECT_FALSE(decodeBase64(bad).has_value()) << bad;
    EXPECT_FALSE(decodeBase64(std::string_view("TW\0u", 4)).has_value());
}

}  // namespace
}  // namespace quill
