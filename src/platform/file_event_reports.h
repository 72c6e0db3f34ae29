// How platform's primitives on both systems report what they did to the
// observer of file_events.h. Platform's own.
#pragma once

#include "platform/file_events.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::platform::detail {

bool observed();  // whether anyone listens, so a report's cost is paid only then
void report(FileEvent::Kind kind, const std::string& path, const std::string& to = {}, std::uint64_t offset = 0);
void reportOnFile(FileEvent::Kind kind, int fd, std::uint64_t offset = 0, std::string_view data = {},
                  const std::string& path = {});

}  // namespace quill::platform::detail
