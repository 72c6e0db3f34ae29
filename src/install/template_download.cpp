#include "install/template_download.h"

#include "install/template_installation.h"
#include "platform/files.h"
#include "workspace/archive_signature.h"
#include "workspace/byte_sink.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/names.h"
#include "workspace/path_rules.h"
#include "workspace/progress_sink.h"

#include <exception>
#include <optional>

namespace quill {

namespace {

std::string downloadAndInstall(DownloadContext& context) {
    Screen& screen = context.screen;
    const std::string file = context.currentFileName();
    screen.setStatus("Downloading Template File...");
    // FILE comes from the downloaded catalogue; it must not name a place outside the temp folder.
    checkStaysInside(file);
    const std::string localCopy = context.tempFolder + file;
    platform::deleteFile(localCopy);
    {
        // Straight to disk: a template can be hundreds of megabytes.
        OutputFile out(localCopy);
        FileSink target(out);
        try {
            {
                ProgressSink sink(target, screen, ProgressSink::Display::Shown);
                context.http.fetch(TemplatesUrl + file, sink);
            }
            out.close();
        } catch (...) {
            platform::deleteFile(localCopy);  // no partial copy passes for a download
            throw;
        }
    }
    // With the vendor's key built in, the archive that gets unpacked is checked
    // first and then read through the same descriptor.
    std::optional<SignedFile> verified;
    if (archivesAreSigned()) {
        try {
            verified.emplace(templateArchiveName(localCopy));
            checkArchiveSignature(screen, context.http, TemplatesUrl + file, *verified);
        } catch (...) {
            platform::deleteFile(localCopy);  // nothing unverified stays behind
            throw;
        }
    }
    screen.setStatus("Template File Downloaded");

    std::string result;
    {
        ProgressWindowScope progress(screen);
        result = installTemplate(screen, localCopy, verified ? &*verified : nullptr);
    }
    if (!result.empty()) {
        screen.showInformation("Template installed successfully.");
        ignoringErrors([&] { recordInstalledTemplate(context.templateRecord, result); });
    } else {
        screen.showError("Template installation failed!!!");
    }
    return result;
}

}  // namespace

void downloadSelectedTemplate(DownloadContext& context) {
    if (context.selectedIndex < 0) return;
    const std::string question =
        "Are you sure you want to download this Database Template: \r" + context.selectedText + " ?";
    if (!context.screen.confirm(question)) return;

    // The update check runs whatever happened, unless the program is asked to
    // end; a failed fetch or save is shown after it.
    std::exception_ptr failure;
    try {
        downloadAndInstall(context);
    } catch (...) {
        failure = std::current_exception();
    }
    if (context.updateCheck && !context.screen.endRequested()) context.updateCheck();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace quill
