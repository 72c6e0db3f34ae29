#include "catalogue/catalogue.h"

#include "catalogue/connection_params.h"
#include "catalogue/search_statement.h"
#include "platform/codepage.h"
#include "catalogue/uField.h"
#include "platform/files.h"
#include "workspace/byte_sink.h"
#include "workspace/failures.h"
#include "workspace/file_ops.h"
#include "workspace/format_settings.h"
#include "workspace/names.h"
#include "workspace/zip_reader.h"

#include <string>
#include <unordered_set>

namespace quill {

namespace {
const std::string kConnectionName = "temp.fdb";
const std::string kFirstQuery = "SELECT * FROM TEMPLATES ORDER BY NAME";
}  // namespace

Catalogue::Catalogue(Screen& screen, CatalogueView& view, HttpClient& IdHTTP1)
    : screen_(screen), view_(view), IdHTTP1_(IdHTTP1), SQLDataSet4(SQLConnection4) {
    SQLConnection4.beforeConnect = [this] { SQLConnection4BeforeConnect(); };
}

Catalogue::~Catalogue() {
    ignoringErrors([&] { FormDestroy(); });
}

void Catalogue::FormShow(std::string& TempDir, TemplateRecord& TemplateLst) {
    DataDir = AppDir + "data" + platform::kSeparator;
    TempDir = AppDir + "temp" + platform::kSeparator;
    ignoringErrors([&] { createFolderOrRaise(TempDir); });

    TemplateLst = TemplateRecord{};
    prepareTemplatesIni(TemplateLst);

    if (!platform::fileExists(TempDir + "temp.ini"))
        platform::copyFile(AppDir + "db.ini", TempDir + "temp.ini", true);

    const std::string catalogueZip = changeFileExt(CatalogueFileName, ".zip");
    const std::string archivePath = TempDir + catalogueZip;
    platform::deleteFile(archivePath);
    OutputFile archive(archivePath);  // left to the general display when it cannot be created

    screen_.setStatus("Downloading Template List...");
    const bool fetched = reportingErrors(screen_, "Could not download the template!", [&] {
        FileSink sink(archive);
        IdHTTP1_.fetch(TemplatesUrl + catalogueZip, sink);
    });
    archive.close();
    if (!fetched) return;

    bool catalogueThere = false;
    const bool unpacked = reportingOwnErrors(screen_, [&] {
        unpackArchive(archivePath, TempDir);
        screen_.processMessages();
        catalogueThere = platform::fileExists(TempDir + CatalogueFileName);
    });
    if (!unpacked || !catalogueThere) return;

    PrepareCatalogueIni();
    runQuerySequence(kFirstQuery);

    view_.addCategory(kAllCategories);
    for (int i = 0; i < view_.categoryCount(); ++i)
        if (view_.categoryText(i) == kAllCategories) view_.selectCategory(i);
    FillTemplateList();
}

void Catalogue::SQLConnection4BeforeConnect() {
    reportingErrors(screen_, "Could not load file : temp.ini", [&] {
        if (SQLConnection4.connectionName() != kConnectionName) SQLConnection4.setConnectionName(kConnectionName);
        if (!SQLConnection4.paramsLoaded()) {
            SQLConnection4.params = readIniSection(AppDir + "temp" + platform::kSeparator + "temp.ini",
                                                   SQLConnection4.connectionName());
            SQLConnection4.setParamsLoaded(true);
        }
        SQLConnection4.setParam("user_name", CatalogueUser);
        SQLConnection4.setParam("password", CataloguePassword);
    });
}

void Catalogue::runQuerySequence(const std::string& S) {
    ClientDataSet4.close();
    SQLDataSet4.close();
    ClientDataSet4.indexFieldNames.clear();
    SQLDataSet4.commandText = S;
    // DataSetProvider4: fetch every row, rework the long text, hand the batch over.
    RowBatch rows = SQLDataSet4.open();
    SQLDataSet4.close();
    DataSetProvider4GetData(rows);
    ClientDataSet4.open(std::move(rows));
}

void Catalogue::FillTemplateList() {
    view_.clearTemplates();
    std::unordered_set<std::string> known;
    for (int i = 0; i < view_.categoryCount(); ++i) known.insert(platform::foldCase(view_.categoryText(i)));

    ClientDataSet4.first();
    while (!ClientDataSet4.eof()) {
        const std::int32_t id = ClientDataSet4.fieldInt("ID");
        view_.addTemplate(ClientDataSet4.fieldText("NAME"), id);
        const std::string category = ClientDataSet4.fieldText("CATEGORY");
        if (known.insert(platform::foldCase(category)).second) view_.addCategory(category);
        ClientDataSet4.next();
    }
    if (view_.templateCount() > 0) view_.selectTemplate(0);
    ListBox1Click();
}

void Catalogue::ListBox1Click() {
    const int index = view_.selectedTemplate();
    if (index < 0) return;
    const std::string text = view_.templateText(index);
    const std::int32_t id = view_.templateId(index);
    ClientDataSet4.locate("ID", std::to_string(id));

    view_.setName(text);
    view_.setLicense(ClientDataSet4.fieldText("LICENSE"));
    view_.setPrice(formatCurrency(ClientDataSet4.fieldAmount("PRICE")));
    view_.setKeywordsDetail(ClientDataSet4.fieldText("KEYWORDS"));
    view_.setDescription(ClientDataSet4.fieldText("DESCRIPTION"));
    view_.setNumber(ClientDataSet4.fieldText("NUMBER"));
    const std::string url = ClientDataSet4.fieldText("URL");
    view_.navigate(url.empty() ? "about:blank" : url);
    screen_.setStatus("Click on Download button to download the template.");
}

void Catalogue::Button1Click() {
    const int index = view_.selectedCategory();
    const std::string category = index >= 0 ? view_.categoryText(index) : std::string();
    runQuerySequence(buildSearchStatement(index, category, view_.keywords()));
    FillTemplateList();
}

void Catalogue::Button2Click() {
    view_.setKeywords("");
    // By text: the empty category sorts ahead of " All Categories". Without it
    // (the show step stopped early) nothing is chosen, which filters nothing either.
    int all = -1;
    for (int i = 0; i < view_.categoryCount(); ++i)
        if (view_.categoryText(i) == kAllCategories) {
            all = i;
            break;
        }
    view_.selectCategory(all);
    Button1Click();
}

std::string Catalogue::currentText(const std::string& field) const {
    return ClientDataSet4.fieldText(field);
}

void Catalogue::FormDestroy() {
    ClientDataSet4.close();
    SQLDataSet4.close();
    SQLConnection4.close();
}

}  // namespace quill
