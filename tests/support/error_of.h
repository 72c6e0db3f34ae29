// The text of the AppError that work raises, or "<no error>", so a test can
// compare the message the user would see in one line.
#pragma once

#include <functional>
#include <string>

namespace quill::testing {

std::string errorOf(const std::function<void()>& work);

}  // namespace quill::testing
