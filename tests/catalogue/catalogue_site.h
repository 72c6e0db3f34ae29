// One kind of world for the catalogue: a fresh application folder with
// the organizer's db.ini, the vendor site on the built-in host serving temp.zip
// built from real Firebird rows, and the window's recording screen and view.
#pragma once

#include "catalogue/catalogue.h"
#include "catalogue/fake_catalogue_view.h"
#include "support/fake_screen.h"
#include "support/temp_folder.h"
#include "vendorkit/catalogue_builder.h"
#include "vendorkit/http_server.h"
#include "workspace/app/app_files.h"
#include "workspace/transfer/http_client.h"

#include <memory>
#include <string>
#include <vector>

namespace quill::testing {

class CatalogueSite {
public:
    CatalogueSite();
    ~CatalogueSite();

    // Serves temp.zip holding a catalogue of these rows, and of the code that
    // catalogue_builder's createCatalogueDatabase runs after them.
    void publish(const std::vector<vendorkit::TemplateRow>& rows, const std::vector<std::string>& code = {});
    // Serves these bytes as temp.zip.
    void publishBytes(const std::string& bytes);
    // Builds a catalogue database in the vendor folder; returns its path.
    std::string buildDatabase(const std::vector<vendorkit::TemplateRow>& rows, const std::string& name = "cat.fdb");

    void show() { catalogue->open(tempFolder, templateRecord); }

    static const std::string kDbIni;   // the organizer's connection settings
    std::string catalogueUrlPath() const;  // "/quillary-web-templates/temp.zip"

    TempFolder app;
    TempFolder vendor;
    FakeScreen screen;
    FakeCatalogueView view;
    HttpClient http;
    vendorkit::HttpServer* server = nullptr;  // shared by every test of the program
    std::unique_ptr<Catalogue> catalogue;
    std::string tempFolder;
    TemplateRecord templateRecord;
};

}  // namespace quill::testing
