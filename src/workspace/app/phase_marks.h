// Where the time of a step goes, for the start-up benchmark: with the
// environment variable QUILL_PHASES set, each mark prints "phase <ms> <name>"
// to standard error, the milliseconds counted from the first mark. Without it
// a mark costs a test of one flag.
#pragma once

#include <string_view>

namespace quill {

void markPhase(std::string_view name);

}  // namespace quill
