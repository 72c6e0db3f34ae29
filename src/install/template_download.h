// The "Download" button: confirms, fetches the chosen template's archive into
// TempDir, installs it under the progress window and records it in templates.ini.
#pragma once

#include "workspace/app_files.h"
#include "workspace/http_client.h"
#include "workspace/screen.h"

#include <functional>
#include <string>

namespace quill {

// What the main window hands over to a download.
struct DownloadContext {
    Screen& screen;
    HttpClient& IdHTTP1;
    std::string TempDir;               // AppDir + "temp/"
    TemplateRecord& TemplateLst;
    int selectedIndex = -1;            // ListBox1's selected item, -1 for none
    std::string selectedText;          // that item's text
    std::function<std::string()> readFile;     // FILE of the catalogue's current row
    std::function<void()> CheckForUpdate;      // the last step of every confirmed download
};

// Does nothing without a selection or without Yes. Once confirmed, CheckForUpdate
// always runs last; a failed fetch or save of the archive then raises AppError
// (left to the general error display). Installation failures are shown here.
void BitBtn1Click(DownloadContext& context);

}  // namespace quill
