#include "catalogue/firebird_error.h"

#include "platform/error.h"

#include <ibase.h>

namespace quill {

std::string firebirdMessage(const std::intptr_t* status) {
    std::string text;
    char line[1024];
    const ISC_STATUS* cursor = reinterpret_cast<const ISC_STATUS*>(status);
    while (fb_interpret(line, sizeof line, &cursor) > 0) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    if (text.empty()) text = "Unknown database error";
    return text;
}

void checkFirebird(const std::intptr_t* status) {
    if (status[0] == 1 && status[1] != 0) throw AppError(firebirdMessage(status));
}

}  // namespace quill
