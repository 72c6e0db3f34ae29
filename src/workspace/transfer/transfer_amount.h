// How much of a download has arrived, as the status bar shows it beside its bar.
#pragma once

#include "workspace/app/format_settings.h"

#include <cstdint>
#include <string>

namespace quill {

// "12.4 of 255.0 MB", "312 of 800 KB", "512 of 800 bytes"; "12.4 MB" while the
// total is unknown (-1). The unit is the total's, so the two read alike; the
// received part never rounds up to look complete before it is.
std::string transferAmountText(std::int64_t received, std::int64_t total,
                               const FormatSettings& settings = formatSettings());

}  // namespace quill
