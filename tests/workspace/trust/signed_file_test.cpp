#include "workspace/trust/signed_file.h"

#include "platform/error.h"
#include "support/error_of.h"
#include "support/temp_folder.h"

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
};

TEST_F(SignedFileCheck, AMissingFileCannotBeOpened) {
    EXPECT_EQ(testing::errorOf([&] { SignedFile(folder_ / "none.zip"); }),
              "Cannot open file \"" + folder_ / "none.zip" + "\". No such file or directory");
}

TEST_F(SignedFileCheck, AFilePutInPlaceAfterItIsOpenedIsNotWhatIsRead) {
    testing::writeFile(folder_ / "template.zip", "signed archive");
    testing::writeFile(folder_ / "planted.zip", "planted archive");
    SignedFile file(folder_ / "template.zip");
    ASSERT_EQ(std::rename((folder_ / "planted.zip").c_str(), (folder_ / "template.zip").c_str()), 0);
    EXPECT_EQ(readThrough(file), "signed archive");
}

}  // namespace
}  // namespace quill
