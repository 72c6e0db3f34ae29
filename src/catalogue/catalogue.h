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
#include "workspace/app_files.h"
#include "workspace/http_client.h"
#include "workspace/screen.h"

#include <string>

namespace quill {

class Catalogue {
public:
    Catalogue(Screen& screen, CatalogueView& view, HttpClient& IdHTTP1);
    ~Catalogue();  // closes everything quietly when FormDestroy did not run
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // Sets DataDir and TempDir, loads TemplateLst, downloads and unpacks the
    // catalogue, opens it and fills the list. Failures of the download and the
    // unpacking are shown here; others (temp.zip not creatable, the connection,
    // the statement) propagate to the caller's general error display.
    void FormShow(std::string& TempDir, TemplateRecord& TemplateLst);

    // Refills the template list and the category box from ClientDataSet4 and
    // selects the first template. Raises on a closed result set or a missing column.
    void FillTemplateList();
    // Shows the selected template's details and preview; raises like FillTemplateList.
    void ListBox1Click();
    // Search: runs the statement built from the category box and the keywords.
    // Raises the database's error when it rejects it or cannot be reached.
    void Button1Click();
    // Clear: empties the keywords, selects " All Categories" (nothing when the box
    // lacks it) and searches, which lists every template.
    void Button2Click();

    // A column of ClientDataSet4's current row as text; raises when the result
    // set is closed or lacks the column.
    std::string currentText(const std::string& field) const;

    // Closes ClientDataSet4, SQLDataSet4 and SQLConnection4, in that order.
    void FormDestroy();

    // Runs before each attachment of SQLConnection4: loads its parameters once from
    // temp.ini's section "temp.fdb" and forces the login. Shows "Could not load
    // file : temp.ini" when that fails; raises nothing.
    void SQLConnection4BeforeConnect();

    // Runs statement S and loads all its rows into ClientDataSet4, long text
    // decoded as UTF-8. Raises the database's error; ClientDataSet4 is then closed.
    void runQuerySequence(const std::string& S);

    const ClientDataSet& clientDataSet() const { return ClientDataSet4; }
    const FirebirdConnection& connection() const { return SQLConnection4; }

private:
    Screen& screen_;
    CatalogueView& view_;
    HttpClient& IdHTTP1_;
    FirebirdConnection SQLConnection4;
    SqlDataSet SQLDataSet4;
    ClientDataSet ClientDataSet4;
};

}  // namespace quill
