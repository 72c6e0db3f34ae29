#include "workspace/trust/signed_file.h"

#include "platform/error.h"
#include "platform/file_reading.h"
#include "platform/files.h"
#include "support/error_of.h"
#include "support/temp_folder.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace quill {
namespace {

// What the unpacking would read through the descriptor, from the start.
std::string readThrough(const SignedFile& file) {
    std::string bytes;
    char buffer[4096];
    for (std::uint64_t offset = 0;;) {
        const std::int64_t n = platform::readFileAt(file.descriptor(), offset, buffer, sizeof buffer);
        if (n <= 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
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
    // Moved away and another put under its name: Windows replaces no file that is open.
    ASSERT_TRUE(platform::renamePath(folder_ / "template.zip", folder_ / "moved.zip"));
    ASSERT_TRUE(platform::renamePath(folder_ / "planted.zip", folder_ / "template.zip"));
    EXPECT_EQ(readThrough(file), "signed archive");
}

}  // namespace
}  // namespace quill
