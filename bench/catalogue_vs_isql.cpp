// Opening a 20,000-template catalogue (the window's FormShow: from the first
// byte of the download to a filled list) and a 5,000-row search, against isql-fb
// running the same SELECT over the same database with its output thrown away.
#include "bench_support.h"
#include "catalogue/catalogue.h"
#include "catalogue/search_statement.h"
#include "platform/error.h"
#include "vendorkit/catalogue_builder.h"
#include "vendorkit/http_server.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/names.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace quill::bench;

using namespace quill;
using Clock = std::chrono::steady_clock;

constexpr int kTemplates = 20000;
constexpr int kCategories = 4;  // 5,000 templates each
constexpr int kRuns = 3;

// Keeps only what the handlers read back.
class NullView : public CatalogueView {
public:
    std::vector<std::int32_t> ids;
    std::vector<std::string> categories;
    int selected = -1;
    int category = -1;
    std::string words;

    void setTemplates(const std::vector<TemplateItem>& items) override {
        ids.clear();
        for (const auto& item : items) ids.push_back(item.id);
        selected = -1;
    }
    int templateCount() const override { return static_cast<int>(ids.size()); }
    int selectedTemplate() const override { return selected; }
    void selectTemplate(int index) override { selected = index; }
    std::string templateText(int) const override { return {}; }
    std::int32_t templateId(int index) const override { return ids[index]; }
    int categoryCount() const override { return static_cast<int>(categories.size()); }
    std::string categoryText(int index) const override { return categories[index]; }
    void addCategory(const std::string& text) override {
        categories.insert(std::upper_bound(categories.begin(), categories.end(), text), text);
    }
    int selectedCategory() const override { return category; }
    void selectCategory(int index) override { category = index; }
    std::string searchWords() const override { return words; }
    void setSearchWords(const std::string& text) override { words = text; }
    void showName(const std::string&) override {}
    void showLicense(const std::string&) override {}
    void showPrice(const std::string&) override {}
    void showKeywords(const std::string&) override {}
    void showDescription(const std::string&) override {}
    void showNumber(const std::string&) override {}
    void showPreview(const std::string&) override {}
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double bestOf(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

int vendorPort() {
    const std::string& host = vendorHost();
    const auto colon = host.rfind(':');
    return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

double timeIsql(const std::string& database, const std::string& folder, const std::string& sql) {
    const std::string script = folder + "bench.sql";
    writeText(script, sql + ";\n");
    const std::string command = "isql-fb -q -ch UTF8 -user SYSDBA -password quietbird '" + database + "' -i '" +
                                script + "' -o /dev/null >/dev/null 2>&1";
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const double t = seconds(Clock::now() - start);
    if (rc != 0) throw std::runtime_error("isql-fb failed: " + command);
    return t;
}

void report(const char* what, double ours, double peer) {
    std::printf("%-34s ours %8.3f s   isql-fb %8.3f s   ratio %.2f (bound 1.50)\n", what, ours, peer, ours / peer);
}

}  // namespace

int main() {
    try {
        char pattern[] = "/tmp/quill-bench-catalogue-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        const std::string root = std::string(pattern) + "/";
        const std::string vendorDir = root + "vendor/";
        const std::string appDir = root + "app/";
        std::system(("mkdir -p '" + vendorDir + "' '" + appDir + "data'").c_str());

        std::printf("building %d templates with 1 KiB descriptions...\n", kTemplates);
        std::vector<vendorkit::TemplateRow> rows;
        rows.reserve(kTemplates);
        std::string paragraph;
        while (paragraph.size() < 1024) paragraph += "A template for keeping records tidy, with caf\xC3\xA9 forms. ";
        paragraph.resize(1024);
        for (int i = 0; i < kTemplates; ++i) {
            auto row = vendorkit::sampleTemplate(i + 1, "Template " + std::to_string(100000 + (i * 7919) % kTemplates),
                                                 "Category " + std::to_string(i % kCategories));
            row.description = paragraph;
            rows.push_back(std::move(row));
        }
        vendorkit::buildCatalogueArchive(vendorDir + "temp.fdb", vendorDir + "temp.zip", rows);

        std::unique_ptr<vendorkit::HttpServer> server;
        for (int attempt = 0;; ++attempt) {
            try {
                server = std::make_unique<vendorkit::HttpServer>(vendorPort());
                break;
            } catch (const AppError&) {
                if (attempt > 1800) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        server->serveFile("/quillary-web-templates/temp.zip", vendorDir + "temp.zip");

        AppDir = appDir;
        writeText(appDir + "db.ini", "[Quillary]\r\nDatabase=x\r\nServerCharSet=UTF8\r\n");
        const std::string database = appDir + "temp/temp.fdb";
        const std::string all = "SELECT * FROM TEMPLATES ORDER BY NAME";
        const std::string search = buildSearchStatement(1, "Category 1", "");

        std::vector<double> showOurs, showPeer, searchOurs, searchPeer;
        std::size_t listed = 0, found = 0;
        for (int run = 0; run <= kRuns; ++run) {  // run 0 warms the caches
            SilentScreen screen;
            NullView view;
            HttpClient http;
            std::string tempFolder;
            TemplateRecord templateRecord;
            Catalogue catalogue(screen, view, http);

            const auto start = Clock::now();
            catalogue.open(tempFolder, templateRecord);
            const double show = seconds(Clock::now() - start);
            listed = view.ids.size();

            view.category = static_cast<int>(
                std::find(view.categories.begin(), view.categories.end(), "Category 1") - view.categories.begin());
            const auto searchStart = Clock::now();
            catalogue.search();
            const double searched = seconds(Clock::now() - searchStart);
            found = view.ids.size();
            catalogue.close();  // the embedded engine keeps a file to one process at a time

            const double peerShow = timeIsql(database, root, all);
            const double peerSearch = timeIsql(database, root, search);
            if (run == 0) continue;
            showOurs.push_back(show);
            searchOurs.push_back(searched);
            showPeer.push_back(peerShow);
            searchPeer.push_back(peerSearch);
        }
        if (listed != static_cast<std::size_t>(kTemplates) || found != static_cast<std::size_t>(kTemplates / kCategories))
            throw std::runtime_error("unexpected row counts: " + std::to_string(listed) + ", " + std::to_string(found));

        std::printf("best of %d runs, %zu templates listed, %zu found by the search\n", kRuns, listed, found);
        report("FormShow to a filled list", bestOf(showOurs), bestOf(showPeer));
        report("search returning 5,000 rows", bestOf(searchOurs), bestOf(searchPeer));
        server.reset();
        std::system(("rm -rf '" + root + "'").c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_catalogue_vs_isql: %s\n", e.what());
        return 1;
    }
}
