// TForm3: "Download Template and Update Program Files", the main window. It owns
// the HTTP client, the catalogue and the update state; its handlers are thin and
// hand the work to the catalogue, install and update sequences, which reach the
// screen through the Screen and CatalogueView this window implements.
#pragma once

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_view.h"
#include "update/program_update.h"
#include "workspace/app/app_files.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/screen.h"

#include <QDialog>
#include <QUrl>

#include <chrono>

#include <memory>
#include <string>

class QAbstractEventDispatcher;
class QLabel;
class QScrollArea;
class QWebEngineLoadingInfo;
class QWebEnginePage;

namespace Ui {
class TForm3;
}

namespace quill {

class DetailKeyFilter;
class InputBlocker;
class SwallowEnterFilter;
class TransferDisplay;
class TransferWindow;

class TForm3 : public QDialog, public Screen, public CatalogueView {
    Q_OBJECT
public:
    explicit TForm3(QWidget* owner = nullptr);
    ~TForm3() override;

    // FormShow, then the modal run, shown maximised, until the window closes.
    void runModal();

    // Screen
    void setStatus(const std::string& text) override;
    void showError(const std::string& text) override;
    void showInformation(const std::string& text) override;
    bool confirm(const std::string& text) override;
    void processMessages() override;
    void waitForEvents(std::chrono::milliseconds upTo) override;
    void wakeWaiting() override;
    bool endRequested() const override;
    void setBusyPointer(bool busy) override;
    void showProgress() override;
    void setProgressLabel(const std::string& text) override;
    void setProgressBarVisible(bool visible) override;
    void setProgressPosition(int percent) override;
    void freeProgress() override;
    void setInputBlocked(bool blocked) override;
    void closeMainWindow() override;
    void beginTransfer(bool shown) override;
    void showTransfer(std::int64_t received, std::int64_t total) override;
    bool transferCancelled() override;
    void endTransfer() override;

    // CatalogueView
    void setTemplates(const std::vector<TemplateItem>& templates) override;
    int templateCount() const override;
    int selectedTemplate() const override;
    void selectTemplate(int index) override;
    std::string templateText(int index) const override;
    std::int32_t templateId(int index) const override;
    int categoryCount() const override;
    std::string categoryText(int index) const override;
    void addCategory(const std::string& text) override;
    int selectedCategory() const override;
    void selectCategory(int index) override;
    std::string searchWords() const override;
    void setSearchWords(const std::string& text) override;
    void showName(const std::string& text) override;
    void showLicense(const std::string& text) override;
    void showPrice(const std::string& text) override;
    void showKeywords(const std::string& text) override;
    void showDescription(const std::string& text) override;
    void showNumber(const std::string& text) override;
    void showPreview(const std::string& url) override;

    bool inputBlocked() const;

    // The preview's page, made now at the latest (it is made once the window
    // is first painted); the view shows from then on.
    QWebEnginePage* previewPage();

public slots:
    void FormShow();
    void ListBox1Click();
    void Button1Click();
    void Button2Click();
    void BitBtn1Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void dismissProgress();
    void FormCreate();
    void FormDestroy();
    // Hands the download of the selected template what it needs of this window.
    void downloadSelected();
    void keepMaximised(int triesLeft);
    // The left column on a short screen: the list, then the description give
    // up height; below their least, the column scrolls.
    void fitLeftColumn();
    // The pane shows the page, or instead a notice (loading, not loaded).
    void showPreviewNotice(const QString& notice);
    void previewLoading(const QWebEngineLoadingInfo& info);
    void previewViewMade();

    std::unique_ptr<Ui::TForm3> ui;
    HttpClient IdHTTP1;
    std::unique_ptr<Catalogue> catalogue;
    ProgramUpdate update;
    std::string TempDir;
    TemplateRecord TemplateLst;

    DetailKeyFilter* detailKeys = nullptr;
    SwallowEnterFilter* memoEnter = nullptr;
    InputBlocker* blocker = nullptr;
    TransferDisplay* transfer = nullptr;
    // Before the window is up, a shown download has a window of its own.
    std::unique_ptr<TransferWindow> transferWindow;
    TransferDisplay* runningTransfer = nullptr;  // the one in use from beginTransfer to endTransfer
    QAbstractEventDispatcher* dispatcher = nullptr;
    int busyDepth = 0;
    bool painted = false;  // the first paint is marked for the start-up benchmark
    bool previewMade = false;
    QUrl pendingPreview;  // asked for before the page was made
    QUrl requestedPreview;  // the selected template's page, while it loads
    QLabel* previewNotice = nullptr;
    QScrollArea* leftColumn = nullptr;
    bool shownMaximised = false;
    bool previewLoaded = false;  // marked for the start-up benchmark
    int blockDepth = 0;  // a transfer blocks input inside a step that already does
};

}  // namespace quill
