// A demo application folder as the organizer's setup leaves it: db.ini,
// upg_info.txt pointing at a site's update folder, quillary.exe (a Windows
// program file of version 1.0.0.0), readme.txt, and the empty folders db/ and
// data/. The program under test is then copied in beside them.
#pragma once

#include <string>
#include <vector>

namespace quill::vendorkit {

// What readme.txt holds in a fresh demo folder (the demo update replaces it).
extern const std::string kDemoReadme;

// Creates the folder (with missing parents), or empties one that an earlier
// call made; any other non-empty folder is refused, so a real organizer folder
// is never overwritten. The update address is on host ("127.0.0.1:8765").
// Returns the files written, relative to the folder. Raises AppError.
std::vector<std::string> createDemoApp(const std::string& appFolder, const std::string& host);

}  // namespace quill::vendorkit
