#include "workspace/app/phase_marks.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace quill {

void markPhase(std::string_view name) {
    static const bool on = std::getenv("QUILL_PHASES") != nullptr;
    if (!on) return;
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point first = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - first).count();
    std::fprintf(stderr, "phase %.1f %.*s\n", ms, static_cast<int>(name.size()), name.data());
    std::fflush(stderr);
}

}  // namespace quill
