// How platform's primitives leave their failure for lastError(): one value
// per thread, shared by every primitive of both systems. Platform's own.
#pragma once

namespace quill::platform::detail {

bool fail(int code);  // keeps code for lastError(); false
bool succeed();       // clears it; true

}  // namespace quill::platform::detail
