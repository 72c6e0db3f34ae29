#include "support/resident_memory.h"

#include <fstream>
#include <unistd.h>

namespace quill::testing {

std::int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace quill::testing
