// Which system the tests run on, for the few facts that only one of them has;
// a test that cannot hold on the other skips there and says why.
#pragma once

namespace quill::testing {

#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

}  // namespace quill::testing
