// The template catalogue behind the main window: downloading and opening it when
// the window shows, the template list, the details of the selected template and
// the search. One object, owned by the main window, holding the connection, the
// query and the in-memory result set.
#pragma once

#include "catalogue/catalogue_view.h"
#include "catalogue/client_data_set.h"
#include "catalogue/firebird_connection.h"
#include "catalogue/search_statement.h"
#include "catalogue/sql_data_set.h"
#include "workspace/app/app_files.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/screen.h"

#include <optional>
#include <string>

namespace quill {

class Catalogue {
public:
    Catalogue(Screen& screen, CatalogueView& view, HttpClient& http);
    ~Catalogue();  // closes everything quietly when close() did not run
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // Sets DataDir and tempFolder, loads templateRecord, downloads and unpacks the
    // catalogue, opens it and lists its templates. Failures of the download and the
    // unpacking are shown here; others (temp.zip not creatable, the connection,
    // the statement) propagate to the caller's general error display.
    void open(std::string& tempFolder, TemplateRecord& templateRecord);

    // Refills the template list and the category box from the result set and
    // shows the first template. Raises on a closed result set or a missing column.
    void listTemplates();
    // Shows the selected template's details and preview; raises like listTemplates.
    void showSelected();
    // Runs the statement built from the chosen category and the keywords, and
    // lists what it finds. Raises the database's error when it rejects it or
    // cannot be reached.
    void search();
    // Empties the keywords, chooses " All Categories" (nothing when the box
    // lacks it) and searches, which lists every template.
    void clearSearch();

    // A column of the result set's current row as text; raises when the result
    // set is closed or lacks the column.
    std::string currentText(const std::string& field) const;

    // Closes the result set, the query and the connection, in that order.
    void close();

    // Runs the statement and loads all its rows into the result set, long text
    // read when asked for and decoded as UTF-8. Raises the database's error; the
    // result set is then closed.
    void runQuery(const std::string& statement);

    const ClientDataSet& rows() const { return rows_; }
    const FirebirdConnection& connection() const { return connection_; }

private:
    // Runs before each attachment: loads the connection's parameters once from
    // temp.ini's section "temp.fdb" and forces the login and, when the section
    // names a database, the catalogue's own file as that database. Shows "Could not load
    // file : temp.ini" when that fails; raises nothing.
    void loadConnectionParams();
    // unpackArchive, with temp.ini as it was before, whatever the archive holds.
    void unpackKeepingSettings(int archive, const std::string& archivePath, const std::string& tempFolder);

    Screen& screen_;
    CatalogueView& view_;
    HttpClient& http_;
    std::optional<EngineStart> engineStart_;  // while the catalogue downloads
    FirebirdConnection connection_;
    SqlDataSet query_;
    ClientDataSet rows_;
};

}  // namespace quill
