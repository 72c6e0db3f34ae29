// The text of a failed Firebird call, as the database words it.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

// `status` is the call's ISC_STATUS vector (20 entries); lines joined with "\n".
std::string firebirdMessage(const std::intptr_t* status);

// Raises AppError with that text when the vector holds an error.
void checkFirebird(const std::intptr_t* status);

}  // namespace quill
