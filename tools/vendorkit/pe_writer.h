// Builds small Windows program files with a version resource, for the tests
// of the version reader and for the demo site's quillary.exe.
#pragma once

#include <cstdint>
#include <string>

namespace quill::vendorkit {

// A minimal valid PE32 (or PE32+) image with one ".rsrc" section holding a
// VS_VERSIONINFO (file and product version major.minor.build.revision, a
// StringFileInfo and a VarFileInfo) and a small manifest.
std::string buildPeWithVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                               std::uint16_t revision, bool pe32plus);

// The same image without any resources.
std::string buildPeWithoutResources(bool pe32plus);

}  // namespace quill::vendorkit
