#include "workspace/transfer/unix/socket_errno.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(SocketErrno, TheSystemsErrorsBecomeTheirWindowsSocketsCodes) {
    EXPECT_EQ(wsaCodeForErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(wsaCodeForErrno(EPIPE), 10053);
    EXPECT_EQ(wsaCodeForErrno(ENOENT), 0);
}

}  // namespace
}  // namespace quill
