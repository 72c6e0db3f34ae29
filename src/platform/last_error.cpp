#include "platform/last_error.h"

#include "platform/files.h"

namespace quill::platform {

namespace {
thread_local int g_lastError = 0;
}

namespace detail {

bool fail(int code) {
    g_lastError = code;
    return false;
}

bool succeed() {
    g_lastError = 0;
    return true;
}

}  // namespace detail

int lastError() { return g_lastError; }

}  // namespace quill::platform
