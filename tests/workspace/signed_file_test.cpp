#include "workspace/signed_file.h"

#include "platform/error.h"
#include "support/error_of.h"
#include "support/temp_folder.h"
#include "vendorkit/signing.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quill {
namespace {

// What the unpacking would read through the descriptor, from the start.
std::string readThrough(const SignedFile& file) {
    std::string bytes;
    char buffer[4096];
    for (off_t offset = 0;;) {
        const ssize_t n = pread(file.descriptor(), buffer, sizeof buffer, offset);
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

class SignedFileCheck : public ::testing::Test {
protected:
    testing::TempFolder folder_;
    PublicKey key_ = *publicKeyFromBase64(vendorkit::generateSigningKey(folder_ / "vendor.pem"));
    vendorkit::SigningKey signer_{folder_ / "vendor.pem"};
};

TEST_F(SignedFileCheck, MatchesTheWholeFileAndNothingElse) {
    const std::string archive = "PK\x03\x04" + std::string(70000, 'z') + "PK\x05\x06";
    testing::writeFile(folder_ / "update.zip", archive);
    const std::string signature = signer_.sign(archive);
    EXPECT_TRUE(SignedFile(folder_ / "update.zip").signatureMatches(key_, signature));

    testing::writeFile(folder_ / "cut.zip", archive.substr(0, archive.size() - 1));
    EXPECT_FALSE(SignedFile(folder_ / "cut.zip").signatureMatches(key_, signature));
    testing::writeFile(folder_ / "empty.zip", "");
    EXPECT_FALSE(SignedFile(folder_ / "empty.zip").signatureMatches(key_, signature));
    EXPECT_TRUE(SignedFile(folder_ / "empty.zip").signatureMatches(key_, signer_.sign("")));
    EXPECT_FALSE(SignedFile(folder_.path()).signatureMatches(key_, signature)) << "a folder";
}

TEST_F(SignedFileCheck, AMissingFileCannotBeOpened) {
    EXPECT_EQ(testing::errorOf([&] { SignedFile(folder_ / "none.zip"); }),
              "Cannot open file \"" + folder_ / "none.zip" + "\". No such file or directory");
}

TEST_F(SignedFileCheck, AFilePutInPlaceAfterTheCheckIsNotWhatIsRead) {
    testing::writeFile(folder_ / "template.zip", "signed archive");
    testing::writeFile(folder_ / "planted.zip", "planted archive");
    SignedFile file(folder_ / "template.zip");
    ASSERT_TRUE(file.signatureMatches(key_, signer_.sign("signed archive")));
    ASSERT_EQ(std::rename((folder_ / "planted.zip").c_str(), (folder_ / "template.zip").c_str()), 0);
    EXPECT_EQ(readThrough(file), "signed archive");
    EXPECT_TRUE(file.signatureMatches(key_, signer_.sign("signed archive")));
}

}  // namespace
}  // namespace quill
