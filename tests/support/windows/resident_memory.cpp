#include "support/resident_memory.h"

#include <windows.h>
#include <psapi.h>

namespace quill::testing {

std::int64_t residentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<std::int64_t>(counters.WorkingSetSize);
}

}  // namespace quill::testing
