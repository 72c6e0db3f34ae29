#include "catalogue/catalogue.h"

#include "workspace/app/phase_marks.h"
#include "catalogue/connection_params.h"
#include "catalogue/search_statement.h"
#include "catalogue/long_text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "workspace/trust/vendor_key.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/app/failures.h"
#include "workspace/change/file_ops.h"
#include "workspace/app/format_settings.h"
#include "workspace/app/names.h"
#include "workspace/transfer/progress_sink.h"
#include "workspace/trust/signed_download.h"
#include "workspace/trust/signed_file.h"
#include "workspace/trust/template_manifest.h"
#include "workspace/transfer/zip_reader.h"

#include <optional>
#include <string>
#include <unordered_set>

namespace quill {

namespace {
const std::string kConnectionName = "temp.fdb";
const std::string kNotDownloaded = "Could not download the template!";
const std::string kFirstQuery = "SELECT * FROM TEMPLATES ORDER BY NAME";
}  // namespace

Catalogue::Catalogue(Screen& screen, CatalogueView& view, HttpClient& http)
    : screen_(screen), view_(view), http_(http), query_(connection_) {
    connection_.beforeConnect = [this] {
        engineStart_.reset();
        loadConnectionParams();
    };
}

Catalogue::~Catalogue() {
    ignoringErrors([&] { close(); });
}

void Catalogue::open(std::string& tempFolder, TemplateRecord& templateRecord) {
    DataDir = AppDir + "data" + platform::kSeparator;
    tempFolder = AppDir + "temp" + platform::kSeparator;
    ignoringErrors([&] { createFolderOrRaise(tempFolder); });

    templateRecord = TemplateRecord{};
    prepareTemplatesIni(templateRecord);

    seedCatalogueIni();

    const std::string catalogueZip = changeFileExt(CatalogueFileName, ".zip");
    const std::string archivePath = tempFolder + catalogueZip;
    platform::deleteFile(archivePath);
    OutputFile archive(archivePath);  // left to the general display when it cannot be created
    // Opened before a byte arrives: what is unpacked is what came, whatever is
    // put under its name meanwhile.
    const SignedFile download(archivePath);

    if (!connection_.connected()) engineStart_.emplace();
    screen_.setStatus("Downloading Template List...");
    // With the vendor's key built in, only the catalogue its manifest lists is taken.
    std::optional<SignedArchive> signedEntry;
    if (archivesAreSigned()) {
        const bool listed = reportingOwnErrors(screen_, [&] {
            std::string refused;
            try {
                fetchTemplateManifest(screen_, http_, &refused);
            } catch (const AppError& error) {
                // What the site sent and was refused says so itself; a fetch
                // that got nothing is told as a failed download, and why.
                if (!refused.empty()) throw;
                throw AppError(kNotDownloaded + "\r\n" + error.what());
            }
            signedEntry = templateManifestEntry(screen_, http_, catalogueZip);
        });
        if (!listed) {
            archive.close();
            platform::deleteFile(archivePath);
            return;
        }
    }

    FileSink file(archive);
    SignedDownloadSink checked(file, signedEntry, catalogueZip);
    // The build with a key says why, as it does for its manifest just before.
    const bool fetched = reportingOwnErrors(screen_, [&] {
        // The main window is not up yet: the screen shows this one in a window of its own, with Cancel.
        ProgressSink sink(checked, screen_, ProgressSink::Display::Shown);
        try {
            http_.fetch(TemplatesUrl + catalogueZip, sink);
        } catch (const std::exception& error) {
            // Half a catalogue is of no use, and a server may have sent a lot of it: gone before the box.
            platform::deleteFile(archivePath);
            throw AppError(archivesAreSigned() ? kNotDownloaded + "\r\n" + error.what() : kNotDownloaded);
        }
    });
    archive.close();
    if (!fetched) return;
    markPhase("catalogue downloaded");

    const bool trusted = reportingOwnErrors(screen_, [&] {
        checked.checkComplete();
    });
    if (!trusted) {
        platform::deleteFile(archivePath);
        return;
    }

    bool catalogueThere = false;
    const bool unpacked = reportingOwnErrors(screen_, [&] {
        unpackKeepingSettings(download.descriptor(), archivePath, tempFolder);
        screen_.processMessages();
        catalogueThere = platform::fileExists(tempFolder + CatalogueFileName);
    });
    if (!unpacked || !catalogueThere) return;
    markPhase("catalogue unpacked");

    prepareCatalogueIni();
    runQuery(kFirstQuery);
    markPhase("rows and blobs fetched");

    view_.addCategory(kAllCategories);
    for (int i = 0; i < view_.categoryCount(); ++i)
        if (view_.categoryText(i) == kAllCategories) view_.selectCategory(i);
    listTemplates();
    markPhase("list filled, first template shown");
}

void Catalogue::unpackKeepingSettings(int archive, const std::string& archivePath, const std::string& tempFolder) {
    // The archive is the vendor's, the connection's settings are the user's: a
    // temp.ini it brings, whole or cut off by damaged data, never stands.
    const std::string settingsPath = tempFolder + changeFileExt(CatalogueFileName, ".ini");
    std::string settings;
    const bool hadSettings = platform::readWholeFile(settingsPath, settings);
    const auto restore = [&] {
        if (hadSettings) replaceFileWith(settings, settingsPath);
        else platform::deleteFile(settingsPath);
    };
    try {
        unpackArchive(archive, archivePath, tempFolder);
    } catch (...) {
        ignoringErrors(restore);
        throw;
    }
    restore();
}

void Catalogue::loadConnectionParams() {
    reportingErrors(screen_, "Could not load file : temp.ini", [&] {
        if (connection_.connectionName() != kConnectionName) connection_.setConnectionName(kConnectionName);
        if (!connection_.paramsLoaded()) {
            connection_.params = readIniSection(AppDir + "temp" + platform::kSeparator + "temp.ini",
                                                connection_.connectionName());
            connection_.setParamsLoaded(true);
        }
        connection_.setParam("user_name", CatalogueUser);
        connection_.setParam("password", CataloguePassword);
        // Whatever the settings name, the catalogue is the one file unpacked for
        // it: never another file, nor a server. Without a Database line the
        // attachment stays unable to reach anything.
        if (!connection_.param("Database").empty())
            connection_.setParam("Database", AppDir + "temp" + platform::kSeparator + CatalogueFileName);
    });
}

void Catalogue::runQuery(const std::string& statement) {
    rows_.close();
    query_.close();
    query_.commandText = statement;
    RowBatch rows = query_.open();
    query_.close();
    decodeLongText(rows);
    rows_.open(std::move(rows));
}

void Catalogue::listTemplates() {
    std::unordered_set<std::string> known;
    for (int i = 0; i < view_.categoryCount(); ++i) known.insert(platform::foldCase(view_.categoryText(i)));

    std::vector<TemplateItem> templates;
    templates.reserve(rows_.recordCount());
    rows_.first();
    while (!rows_.eof()) {
        templates.push_back({rows_.fieldText("NAME"), rows_.fieldInt("ID")});
        const std::string category = rows_.fieldText("CATEGORY");
        if (known.insert(platform::foldCase(category)).second) view_.addCategory(category);
        rows_.next();
    }
    view_.setTemplates(templates);
    if (view_.templateCount() > 0) view_.selectTemplate(0);
    showSelected();
}

void Catalogue::showSelected() {
    const int index = view_.selectedTemplate();
    if (index < 0) return;
    const std::string text = view_.templateText(index);
    const std::int32_t id = view_.templateId(index);
    rows_.locate("ID", std::to_string(id));

    view_.showName(text);
    view_.showLicense(rows_.fieldText("LICENSE"));
    view_.showPrice(formatCurrency(rows_.fieldAmount("PRICE")));
    view_.showKeywords(rows_.fieldText("KEYWORDS"));
    view_.showDescription(rows_.fieldText("DESCRIPTION"));
    view_.showNumber(rows_.fieldText("NUMBER"));
    const std::string url = rows_.fieldText("URL");
    view_.showPreview(url.empty() ? "about:blank" : url);
    screen_.setStatus("Click on Download button to download the template.");
}

void Catalogue::search() {
    const int index = view_.selectedCategory();
    const std::string category = index >= 0 ? view_.categoryText(index) : std::string();
    runQuery(buildSearchStatement(index, category, view_.searchWords()));
    listTemplates();
}

void Catalogue::clearSearch() {
    view_.setSearchWords("");
    // By text: the empty category sorts ahead of " All Categories". Without it
    // (the show step stopped early) nothing is chosen, which filters nothing either.
    int all = -1;
    for (int i = 0; i < view_.categoryCount(); ++i)
        if (view_.categoryText(i) == kAllCategories) {
            all = i;
            break;
        }
    view_.selectCategory(all);
    search();
}

std::string Catalogue::currentText(const std::string& field) const {
    return rows_.fieldText(field);
}

void Catalogue::close() {
    rows_.close();
    query_.close();
    connection_.close();
}

}  // namespace quill
