// The "Download" button: confirms, fetches the chosen template's archive into
// the temp folder, installs it under the progress window and records it in templates.ini.
#pragma once

#include "workspace/app/app_files.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/screen.h"

#include <functional>
#include <string>

namespace quill {

// What the main window hands over to a download.
struct DownloadContext {
    Screen& screen;
    HttpClient& http;
    std::string tempFolder;            // AppDir + "temp/"
    TemplateRecord& templateRecord;    // templates.ini as the main window holds it
    int selectedIndex = -1;            // the template list's selected item, -1 for none
    std::string selectedText;          // that item's text
    std::function<std::string()> currentFileName;  // FILE of the catalogue's current row
    std::function<void()> updateCheck;             // the last step of every confirmed download
};

// Does nothing without a selection or without Yes. A cancelled download ends
// there, with "Download cancelled." in the status bar, the folder as it was and
// no update check. Otherwise, once confirmed, updateCheck always runs last; a
// failed fetch or save of the archive then raises AppError (left to the
// general error display). Installation failures are shown here.
void downloadSelectedTemplate(DownloadContext& context);

}  // namespace quill
