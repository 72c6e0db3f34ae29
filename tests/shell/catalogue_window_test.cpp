// The main window's browsing controls against a real catalogue served on the
// built-in vendor host: the category box with Search and Clear, and the
// template list's picks.
#include "recording_boxes.h"
#include "shell/Unit3.h"
#include "shell/single_choice_list.h"
#include "support/temp_folder.h"
#include "support/vendor_host.h"
#include "vendorkit/catalogue_builder.h"
#include "window_controls.h"
#include "workspace/app/names.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

using namespace quill;
using testing::control;

namespace {

const std::string kCatalogueUrlPath = "/quillary-web-templates/temp.zip";
const QString kPickedStatus = "Click on Download button to download the template.";

vendorkit::TemplateRow row(std::int32_t id, const std::string& name, const std::string& category) {
    vendorkit::TemplateRow r = vendorkit::sampleTemplate(id, name, category);
    r.url = "http://" + vendorHost() + "/preview/" + std::to_string(id) + ".html";
    return r;
}

std::vector<vendorkit::TemplateRow> catalogueRows() {
    vendorkit::TemplateRow blank = row(4, "Blank Page", "");
    vendorkit::TemplateRow none = row(5, "No Category", "");
    none.category.reset();  // NULL
    return {row(1, "Cash Book", "Business"), row(2, "Bob's Garage", "Auto"), row(3, "Recipes", "Home"), blank, none};
}

// The main window's browsing controls, found by the names the window gives them.
struct BrowsingControls {
    explicit BrowsingControls(const QWidget& form)
        : ComboBox1(control<QComboBox>(form, "ComboBox1")),
          Button1(control<QPushButton>(form, "Button1")),
          Button2(control<QPushButton>(form, "Button2")),
          ListBox1(control<SingleChoiceList>(form, "ListBox1")),
          Edit1(control<QLineEdit>(form, "Edit1")),
          Memo1(control<QPlainTextEdit>(form, "Memo1")),
          WebBrowser1(control<QWebEngineView>(form, "WebBrowser1")),
          StatusBar1(control<QStatusBar>(form, "StatusBar1")) {}

    QComboBox* ComboBox1;
    QPushButton* Button1;
    QPushButton* Button2;
    SingleChoiceList* ListBox1;
    QLineEdit* Edit1;
    QPlainTextEdit* Memo1;
    QWebEngineView* WebBrowser1;
    QStatusBar* StatusBar1;
};

QStringList names(const SingleChoiceList* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->text(i);
    return out;
}

QList<int> selectedRows(const SingleChoiceList* list) {
    QList<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedIndexes()) rows << index.row();
    return rows;
}

QPoint centreOf(const SingleChoiceList* list, int row) { return list->visualRect(list->model()->index(row, 0)).center(); }

}  // namespace

class CatalogueWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        app = std::make_unique<testing::TempFolder>();
        vendor = std::make_unique<testing::TempFolder>();
        resetBuiltInNames();
        AppDir = app->path();
        testing::writeFile(AppDir + "db.ini", "[Quillary]\r\nServerCharSet=UTF8\r\nSQLDialect=3\r\n");
        server = &testing::vendorHostServer();
        server->route(kCatalogueUrlPath, vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
        for (int id = 1; id <= 5; ++id)
            server->serveBytes("/preview/" + std::to_string(id) + ".html",
                               "<html><body>Template " + std::to_string(id) + "</body></html>");
        boxes.shown.clear();
        scope = std::make_unique<testing::BoxesScope>(boxes);
    }

    void cleanup() {
        controls.reset();
        form.reset();  // detaches from the catalogue before its folder goes
        scope.reset();
        vendor.reset();
        app.reset();
    }

    void aFilledCategoryBoxChoosesNothingByItself() {
        // An earlier run's catalogue is still in temp, and this run's download fails.
        testing::makeFolders(AppDir + "temp");
        vendorkit::createCatalogueDatabase(AppDir + "temp/temp.fdb", catalogueRows());
        testing::writeFile(AppDir + "temp/temp.ini", "[temp.fdb]\r\nDatabase=" + AppDir + "temp/temp.fdb\r\n");
        const BrowsingControls* ui = showForm();
        QCOMPARE(boxes.shown, std::vector<std::string>{"error:Could not download the template!"});
        QCOMPARE(ui->ComboBox1->count(), 0);

        QTest::mouseClick(ui->Button1, Qt::LeftButton);
        QCOMPARE(ui->ListBox1->count(), 5);
        QCOMPARE(ui->ComboBox1->count(), 4);  // "", Auto, Business, Home
        QCOMPARE(ui->ComboBox1->currentIndex(), -1);
        QTest::mouseClick(ui->Button1, Qt::LeftButton);
        QCOMPARE(ui->ListBox1->count(), 5);

        ui->ComboBox1->setCurrentIndex(ui->ComboBox1->findText("Business"));
        QTest::mouseClick(ui->Button1, Qt::LeftButton);
        QCOMPARE(names(ui->ListBox1), QStringList{"Cash Book"});
        // Clear without " All Categories" in the box: nothing chosen, everything listed.
        QTest::mouseClick(ui->Button2, Qt::LeftButton);
        QCOMPARE(ui->ComboBox1->currentIndex(), -1);
        QCOMPARE(ui->ListBox1->count(), 5);
        QCOMPARE(boxes.shown.size(), size_t(1));
    }

    void theEmptyCategoryListsTemplatesWithoutOne() {
        publish(catalogueRows());
        const BrowsingControls* ui = showForm();
        QCOMPARE(ui->ComboBox1->currentText(), QString(" All Categories"));
        QCOMPARE(ui->ComboBox1->itemText(0), QString());

        ui->ComboBox1->setCurrentIndex(0);
        QTest::mouseClick(ui->Button1, Qt::LeftButton);
        QCOMPARE(names(ui->ListBox1), (QStringList{"Blank Page", "No Category"}));
        QTest::mouseClick(ui->Button2, Qt::LeftButton);
        QCOMPARE(ui->ComboBox1->currentText(), QString(" All Categories"));
        QCOMPARE(ui->ListBox1->count(), 5);
        QVERIFY(boxes.shown.empty());
    }

    void everyPickOfATemplateRunsTheSelectionStepOnce() {
        publish(catalogueRows());
        const BrowsingControls* ui = showForm();
        SingleChoiceList* list = ui->ListBox1;
        QCOMPARE(list->currentRow(), 0);  // Blank Page
        // Each run of the step fills the description once.
        QSignalSpy steps(ui->Memo1, &QPlainTextEdit::textChanged);

        // The user followed a link in the preview; a click on the chosen template brings it back.
        leavePreview(ui);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, 0));
        QCOMPARE(steps.count(), 1);
        QCOMPARE(ui->StatusBar1->currentMessage(), kPickedStatus);
        QCOMPARE(ui->Edit1->text(), QString("Blank Page"));
        QTRY_COMPARE(ui->WebBrowser1->url(), previewOf(4));

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, 2));
        QCOMPARE(steps.count(), 2);
        QCOMPARE(ui->Edit1->text(), QString("Cash Book"));

        leavePreview(ui);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(steps.count(), 3);
        QCOMPARE(ui->Edit1->text(), QString("No Category"));
        QCOMPARE(ui->StatusBar1->currentMessage(), kPickedStatus);
        QTRY_COMPARE(ui->WebBrowser1->url(), previewOf(5));
    }

    void theListKeepsOneTemplateSelected() {
        publish(catalogueRows());
        const BrowsingControls* ui = showForm();
        SingleChoiceList* list = ui->ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, 1));
        QCOMPARE(selectedRows(list), QList<int>{1});

        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          centreOf(list, 1));
        QCOMPARE(selectedRows(list), QList<int>{1});
        const QRect last = list->visualRect(list->model()->index(list->count() - 1, 0));
        QVERIFY(last.bottom() + 10 < list->viewport()->height());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 10));
        QCOMPARE(selectedRows(list), QList<int>{1});
        QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(selectedRows(list), QList<int>{1});
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(ui->Edit1->text(), QString("Bob's Garage"));

        // A Ctrl+click on another template picks that one alone.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          centreOf(list, 4));
        QCOMPARE(selectedRows(list), QList<int>{4});
        QCOMPARE(ui->Edit1->text(), QString("Recipes"));
    }

    void thePreviewShowsWebPagesOnly() {
        auto rows = catalogueRows();
        rows[0].url = "file:///etc/hostname";  // Cash Book
        rows[1].url = "data:text/html,<p>not from the web</p>";  // Bob's Garage
        rows[2].url = "javascript:alert(1)";  // Recipes
        publish(rows);
        const BrowsingControls* ui = showForm();
        SingleChoiceList* list = ui->ListBox1;
        for (int row : {1, 2, 4}) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, row));
            QTRY_COMPARE(ui->WebBrowser1->url(), QUrl("about:blank"));
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, 3));
        QTRY_COMPARE(ui->WebBrowser1->url(), previewOf(5));

        // A page cannot lead the pane to a local file either.
        QSignalSpy loads(ui->WebBrowser1, &QWebEngineView::loadFinished);
        ui->WebBrowser1->setUrl(QUrl("file:///etc/hostname"));
        QVERIFY(loads.wait(5000));
        QCOMPARE(loads.takeFirst().at(0).toBool(), false);

        // These tests run the engine without its sandbox, as the program does as root.
        const QWebEngineSettings* settings = ui->WebBrowser1->page()->settings();
        QVERIFY(!settings->testAttribute(QWebEngineSettings::JavascriptEnabled));
        QVERIFY(!settings->testAttribute(QWebEngineSettings::PluginsEnabled));
        QVERIFY(!settings->testAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls));
    }

    void thePreviewNeverShowsAnotherTemplatesPage() {
        auto rows = catalogueRows();
        rows[1].url = "http://" + vendorHost() + "/preview/stalls.html";  // Bob's Garage: never answers
        rows[2].url = "http://127.0.0.1:1/preview.html";                   // Recipes: nobody listens
        vendorkit::HttpResponse stalls = vendorkit::HttpResponse::ok("<html><body>late</body></html>");
        stalls.stallAfterHeaders = true;
        server->route("/preview/stalls.html", stalls);
        publish(rows);
        const BrowsingControls* ui = showForm();
        SingleChoiceList* list = ui->ListBox1;
        auto* notice = control<QLabel>(*form, "PreviewNotice");
        const auto pick = [&](int row) { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, row)); };

        pick(2);  // Cash Book
        QTRY_VERIFY(ui->WebBrowser1->isVisible() && !notice->isVisible());
        QCOMPARE(ui->WebBrowser1->url(), previewOf(1));

        // The moment another template is picked, its page is not there yet, and the last one is gone.
        pick(1);  // Bob's Garage
        QVERIFY(!ui->WebBrowser1->isVisible());
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), QString("Loading the preview..."));
        QTest::qWait(1000);
        QVERIFY(!ui->WebBrowser1->isVisible() && notice->isVisible());

        pick(4);  // Recipes
        QTRY_COMPARE(notice->text(), QString("The preview of this template could not be loaded."));
        QVERIFY(notice->isVisible() && !ui->WebBrowser1->isVisible());
        QVERIFY(notice->geometry() == ui->WebBrowser1->geometry());

        pick(2);
        QTRY_VERIFY(ui->WebBrowser1->isVisible() && !notice->isVisible());
        QCOMPARE(ui->WebBrowser1->url(), previewOf(1));
        QVERIFY(boxes.shown.empty());
    }

private:
    void publish(const std::vector<vendorkit::TemplateRow>& rows) {
        vendorkit::buildCatalogueArchive((*vendor) / "temp.fdb", (*vendor) / "temp.zip", rows);
        server->serveFile(kCatalogueUrlPath, (*vendor) / "temp.zip");
    }

    // FormShow, then the window on the screen at its designed size.
    const BrowsingControls* showForm() {
        form = std::make_unique<TForm3>();
        form->FormShow();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) qFatal("the main window never showed");
        controls = std::make_unique<BrowsingControls>(*form);
        return controls.get();
    }

    void leavePreview(const BrowsingControls* ui) {
        ui->WebBrowser1->setUrl(QUrl("about:blank"));
        ui->StatusBar1->showMessage("Done");
        ui->Edit1->clear();
    }

    static QUrl previewOf(int id) {
        return QUrl(QString::fromStdString("http://" + vendorHost() + "/preview/" + std::to_string(id) + ".html"));
    }

    std::unique_ptr<testing::TempFolder> app;
    std::unique_ptr<testing::TempFolder> vendor;
    vendorkit::HttpServer* server = nullptr;
    testing::RecordingBoxes boxes;
    std::unique_ptr<testing::BoxesScope> scope;
    std::unique_ptr<TForm3> form;
    std::unique_ptr<BrowsingControls> controls;
};

QTEST_MAIN(CatalogueWindowTest)
#include "catalogue_window_test.moc"
