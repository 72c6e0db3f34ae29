// The process's resident memory as the system counts it, not as the code under test would report it.
#pragma once

#include <cstdint>

namespace quill::testing {

std::int64_t residentBytes();

}  // namespace quill::testing
