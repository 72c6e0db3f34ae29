#include "support/error_of.h"

#include "platform/error.h"

namespace quill::testing {

std::string errorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const AppError& e) {
        return e.message();
    }
    return "<no error>";
}

}  // namespace quill::testing
