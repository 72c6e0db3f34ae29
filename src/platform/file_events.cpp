#include "platform/file_event_reports.h"

namespace quill::platform {

namespace {
FileObserver* g_observer = nullptr;
}

void setFileObserver(FileObserver* observer) { g_observer = observer; }

namespace detail {

bool observed() { return g_observer != nullptr; }

void report(FileEvent::Kind kind, const std::string& path, const std::string& to, std::uint64_t offset) {
    if (!g_observer) return;
    FileEvent event;
    event.kind = kind;
    event.path = path;
    event.to = to;
    event.offset = offset;
    g_observer->observe(event);
}

void reportOnFile(FileEvent::Kind kind, int fd, std::uint64_t offset, std::string_view data, const std::string& path) {
    if (!g_observer) return;
    FileEvent event;
    event.kind = kind;
    event.fd = fd;
    event.offset = offset;
    event.data = data;
    event.path = path;
    g_observer->observe(event);
}

}  // namespace detail

}  // namespace quill::platform
