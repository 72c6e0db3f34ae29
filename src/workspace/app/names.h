// The application folder's paths and the program's built-in names. Folder paths
// end in the native separator; a file path is a folder path joined to a name.
#pragma once

#include <string>

namespace quill {

extern std::string AppDir;    // the program file's folder, set once at start
extern std::string DataDir;   // AppDir + "data/", set each time the main window shows
extern std::string AppDbDir;  // AppDir + "db/", set at each installation

extern const std::string TemplatesUrl;
extern const std::string CatalogueFileName;
extern const std::string CatalogueUser;
extern const std::string CataloguePassword;
extern const std::string UpdateInfoFileName;
extern std::string ProgramExeName;   // line 1 of upg_info.txt may replace it
extern std::string UpdateUrl;        // line 2
extern const std::string VersionFileName;
extern std::string ProductSection;   // line 3
extern std::string CurrentVersion;   // from the organizer's version resource

// The vendor host the program was built for, such as "127.0.0.1:8765".
const std::string& vendorHost();

// Puts every name back to its built-in value (for tests; the program never needs it).
void resetBuiltInNames();

// "temp.fdb" with ".zip" gives "temp.zip"; a name without extension gets one.
std::string changeFileExt(const std::string& name, const std::string& ext);

}  // namespace quill
