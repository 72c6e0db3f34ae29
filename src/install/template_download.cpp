#include "install/template_download.h"

#include "install/template_installation.h"
#include "platform/files.h"
#include "workspace/trust/vendor_key.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/app/failures.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/names.h"
#include "workspace/app/path_rules.h"
#include "workspace/transfer/progress_sink.h"
#include "workspace/trust/signed_download.h"
#include "workspace/trust/signed_file.h"
#include "workspace/trust/template_manifest.h"

#include <exception>
#include <optional>

namespace quill {

namespace {

// A hidden name beside a download, for the earlier download of that file.
std::string earlierDownloadOf(const std::string& localCopy) {
    const auto cut = localCopy.find_last_of(platform::kSeparator) + 1;
    return localCopy.substr(0, cut) + "." + localCopy.substr(cut) + ".earlier";
}

std::string downloadAndInstall(DownloadContext& context) {
    Screen& screen = context.screen;
    const std::string file = context.currentFileName();
    screen.setStatus("Downloading Template File...");
    // FILE comes from the downloaded catalogue; it must not name a place outside the temp folder.
    checkStaysInside(file);
    const std::string localCopy = context.tempFolder + file;
    // With the vendor's key built in, only an archive its manifest lists is fetched at all.
    std::optional<SignedArchive> signedEntry;
    if (archivesAreSigned()) signedEntry = templateManifestEntry(screen, context.http, file);
    // An earlier download of this file waits aside, for a cancel to put back;
    // one a killed run left there is older still.
    const std::string earlier = earlierDownloadOf(localCopy);
    platform::deleteFile(earlier);
    if (!platform::renamePath(localCopy, earlier)) platform::deleteFile(localCopy);
    std::optional<SignedFile> verified;
    {
        // Straight to disk: a template can be hundreds of megabytes.
        OutputFile out(localCopy);
        try {
            // Opened before a byte arrives: what is unpacked is what came and was hashed.
            if (signedEntry) verified.emplace(localCopy);
            FileSink target(out);
            SignedDownloadSink checked(target, signedEntry, file);
            {
                ProgressSink sink(checked, screen, ProgressSink::Display::Shown);
                context.http.fetch(TemplatesUrl + file, sink);
            }
            out.close();
            checked.checkComplete();
        } catch (const DownloadCancelled&) {
            platform::deleteFile(localCopy);
            platform::renamePath(earlier, localCopy);
            throw;
        } catch (...) {
            platform::deleteFile(localCopy);  // no partial or unverified copy passes for a download
            platform::deleteFile(earlier);
            throw;
        }
    }
    platform::deleteFile(earlier);
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
    } catch (const DownloadCancelled&) {
        // The user said stop: no box, and no update check after it either.
        context.screen.setStatus("Download cancelled.");
        return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (context.updateCheck && !context.screen.endRequested()) context.updateCheck();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace quill
