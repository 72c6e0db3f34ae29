#include "workspace/app/app_files.h"

#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "workspace/trust/vendor_key.h"
#include "workspace/app/failures.h"
#include "workspace/change/file_ops.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/names.h"
#include "workspace/transfer/progress_sink.h"
#include "workspace/trust/vendor_metadata.h"


namespace quill {

namespace {

const std::string kTemplatesIni = "templates.ini";
const std::string kMainName = "Main";

std::string templatesIniPath() { return DataDir + kTemplatesIni; }

std::string tempFolder() { return AppDir + "temp" + platform::kSeparator; }

std::string catalogueIniPath() { return tempFolder() + changeFileExt(CatalogueFileName, ".ini"); }

// A file that loads with no lines yet holds more than its mark could not be
// decoded; saving over it would lose what the organizer wrote.
bool heldUndecodableText(const std::string& path, const LineList& lines) {
    if (lines.count() > 0) return false;
    platform::FileStatus status;
    if (!platform::statusOf(path, status)) return false;
    const std::uint64_t mark = lines.encoding() == TextEncoding::Utf8 ? 3
                       : (lines.encoding() == TextEncoding::Utf16LE || lines.encoding() == TextEncoding::Utf16BE) ? 2
                                                                                                                  : 0;
    return status.size > mark;
}

}  // namespace

void prepareTemplatesIni(TemplateRecord& record) {
    record.lines = LineList();
    record.fileUnreadable = false;
    const std::string path = templatesIniPath();
    if (!platform::fileExists(path)) {
        record.lines.append(kMainName + "=db");
        ignoringErrors([&] { record.lines.saveToFile(path); });
    }
    const bool loaded = ignoringErrors([&] { record.lines.loadFromFile(path); });
    if (platform::fileExists(path)) {
        record.fileUnreadable = !loaded || heldUndecodableText(path, record.lines);
    }
}

void recordInstalledTemplate(TemplateRecord& record, const std::string& result) {
    // An empty value would delete the Main line instead of recording anything.
    if (result.empty()) return;
    record.lines.setValue(kMainName, result);
    if (record.fileUnreadable) return;
    ignoringErrors([&] { record.lines.saveToFile(templatesIniPath()); });
}

void seedCatalogueIni() {
    const std::string tempIni = catalogueIniPath();
    // Whole or not at all: a torn copy would pass for the settings.
    if (!platform::fileExists(tempIni)) ignoringErrors([&] { copyFileWhole(AppDir + "db.ini", tempIni); });
}

void prepareCatalogueIni() {
    const std::string tempIni = catalogueIniPath();
    seedCatalogueIni();
    ignoringErrors([&] {
        LineList lines;
        lines.loadFromFile(tempIni);
        lines.setLine(0, "[" + CatalogueFileName + "]");
        lines.setValue("Database", tempFolder() + CatalogueFileName);
        lines.saveToFile(tempIni);
    });
}

void readUpdateInfo() {
    const std::string path = AppDir + UpdateInfoFileName;
    if (!platform::fileExists(path)) return;
    LineList lines;
    ignoringErrors([&] { lines.loadFromFile(path); });
    if (lines.count() > 2) {
        ProgramExeName = lines.line(0);
        UpdateUrl = lines.line(1);
        ProductSection = lines.line(2);
    }
}

VersionOffer keepVersionIni(Screen& screen, HttpClient& http, std::string* refused) {
    std::string bytes;
    std::optional<SignedArchive> archive;
    if (archivesAreSigned()) {
        const AcceptedMetadata accepted = fetchSignedMetadata(
            screen, http,
            {UpdateUrl, VersionFileName, ProductSection, kUpdateKind, "The update information", kVersionFileLimit},
            refused);
        archive = signedArchiveOf(accepted.text.sections.at(ProductSection));
        if (!archive) {
            const std::string text = "The update information does not describe its archive.";
            if (refused) *refused = text;
            throw AppError(text);
        }
        bytes = accepted.bytes;
    } else {
        bytes = fetchShown(screen, http, UpdateUrl + VersionFileName, kVersionFileLimit);
    }
    const std::string versionIni = AppDir + changeFileExt(VersionFileName, ".ini");
    replaceFileWith(bytes, versionIni);
    VersionOffer offer;
    offer.version = platform::readProfileString(ProductSection, "version", "", versionIni);
    offer.fileName = platform::readProfileString(ProductSection, "file", "", versionIni);
    offer.archive = archive;
    return offer;
}

}  // namespace quill
