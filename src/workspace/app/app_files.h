// The small files of the application folder and the steps that keep them:
// templates.ini, temp.ini, upg_info.txt and version.ini. Each is written as
// a whole (replaceFileWith), so a power cut never leaves half of one.
#pragma once

#include "workspace/app/line_list.h"
#include "workspace/trust/signed_metadata.h"

#include <cstddef>
#include <optional>
#include <string>

namespace quill {

class HttpClient;
class Screen;

// TemplateLst with whether its file was read (a record is then safe to save over it).
struct TemplateRecord {
    LineList lines;
    bool fileUnreadable = false;  // the file exists but could not be loaded
};

// Creates DataDir + "templates.ini" holding "Main=db" when missing, then loads it.
// Every failure is ignored.
void prepareTemplatesIni(TemplateRecord& record);

// Sets Main to result and saves the list; ignores failures, and never writes over
// a templates.ini that exists but could not be read.
void recordInstalledTemplate(TemplateRecord& record, const std::string& result);

// Copies AppDir + "db.ini" to AppDir + "temp/temp.ini" unless temp.ini is there
// already. Ignores every failure.
void seedCatalogueIni();

// Rewrites AppDir + "temp/temp.ini", seeded from db.ini: "[temp.fdb]" first, Database
// pointing at the catalogue. Ignores every failure.
void prepareCatalogueIni();

// Lines 1 to 3 of upg_info.txt replace ProgramExeName, UpdateUrl and
// ProductSection when it has three or more lines.
void readUpdateInfo();

// The most version.txt may hold: a few lines, not a body that fills memory and disk.
constexpr std::size_t kVersionFileLimit = 64 * 1024;

// What version.ini offers: "version", "file", and, when the vendor's key is
// built in, the archive as version.txt signs it ("size" and "sha256").
struct VersionOffer {
    std::string version;
    std::string fileName;
    std::optional<SignedArchive> archive;
};

// Fetches UpdateUrl + version.txt as a shown download on screen, replaces AppDir +
// version.ini with it and reads the offer of ProductSection, each part empty
// when missing. With the vendor's key built in, version.txt is taken only as
// signed metadata of kind "update" (vendor_metadata.h) that describes its
// archive; a refusal's text goes to `refused` as well. Raises on a failed or
// cancelled fetch or save, for more than kVersionFileLimit bytes, and for a
// refusal, leaving version.ini as it was.
VersionOffer keepVersionIni(Screen& screen, HttpClient& http, std::string* refused = nullptr);

}  // namespace quill
