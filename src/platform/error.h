// The program's one error type: a failure that carries the text the user may see.
#pragma once

#include <stdexcept>
#include <string>

namespace quill {

class AppError : public std::runtime_error {
public:
    explicit AppError(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
};

}  // namespace quill
