#include "shell/Unit3.h"

#include "workspace/app/phase_marks.h"
#include "install/template_download.h"
#include "platform/files.h"
#include "shell/_tempinst.h"
#include "shell/accessibility.h"
#include "shell/error_display.h"
#include "shell/focus_ring.h"
#include "shell/input_blocker.h"
#include "shell/key_filter.h"
#include "shell/message_boxes.h"
#include "shell/preview_page.h"
#include "shell/single_choice_list.h"
#include "shell/termination.h"
#include "shell/transfer_display.h"
#include "shell/transfer_window.h"
#include "ui_Unit3.h"

#include <QAbstractItemView>
#include "workspace/app/names.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

#include <algorithm>

namespace quill {

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// The sorted list control's order: case-insensitive, in the locale's collation.
bool sortsBefore(const QString& a, const QString& b) {
    return QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded()) < 0;
}

// The designed heights of the left column, and the least the list and the
// description keep on a short screen.
constexpr int kColumnWidth = 401;
constexpr int kAboveList = 2 + 111 + 16;  // the column's frame, the search panel, "Template List :"
constexpr int kDetailsHeight = 272;
constexpr int kDescriptionTop = 151;
constexpr int kBelowDescription = 7;
constexpr int kLeastListHeight = 50;         // three names
constexpr int kLeastDescriptionHeight = 40;  // two lines
constexpr int kDownloadLeft = 473;
constexpr int kDownloadWidth = 105;

const QString kPreviewLoading = QStringLiteral("Loading the preview...");
const QString kPreviewFailed = QStringLiteral("The preview of this template could not be loaded.");

// Shows the start of a text, as a field that has just been filled should.
void setShownFromStart(QLineEdit* field, const QString& text) {
    field->setText(text);
    field->setCursorPosition(0);
}

}  // namespace

TForm3::TForm3(QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                         Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm3>()) {
    initShellResources();
    ui->setupUi(this);
    markPhase("main window laid out, its web view made");
    QFont font = this->font();
    font.setPixelSize(13);
    setFont(font);
    resize(838, 574);
    keepFocusShown(this);
    // Where the style draws the focus faintly, or as it draws the default
    // button anyway, a ring shows it.
    for (QWidget* ringed : {static_cast<QWidget*>(ui->ListBox1), static_cast<QWidget*>(ui->Memo1),
                            static_cast<QWidget*>(ui->WebBrowser1), static_cast<QWidget*>(ui->BitBtn1)})
        new FocusRing(ringed);

    // What a screen reader calls the controls the layout leaves unnamed.
    ui->ListBox1->setAccessibleName("Template List");
    ui->WebBrowser1->setAccessibleName("Template preview");
    ui->Panel2->setAccessibleName("Browse");
    ui->Panel3->setAccessibleName("Search");
    ui->Panel5->setAccessibleName("Template details");
    ui->Panel4->setAccessibleName("Preview");
    ui->Panel6->setAccessibleName("Download template");
    ui->StatusBar1->setAccessibleName("Status");
    // The category box's open list is a control of its own to a screen reader.
    ui->ComboBox1->view()->setAccessibleName("Template Category");

    // The left column scrolls only when the screen is too short for it.
    leftColumn = ui->LeftColumn;
    leftColumn->setAccessibleName("Templates");
    ui->ListBox1->setMinimumHeight(kLeastListHeight);
    ui->Panel5->setMinimumHeight(0);
    leftColumn->viewport()->installEventFilter(this);
    ui->Panel6->installEventFilter(this);

    previewNotice = new QLabel(ui->Panel4);
    previewNotice->setObjectName("PreviewNotice");
    previewNotice->setAlignment(Qt::AlignCenter);
    previewNotice->setWordWrap(true);
    previewNotice->setMargin(16);
    previewNotice->setAutoFillBackground(true);
    previewNotice->setBackgroundRole(QPalette::Base);
    previewNotice->hide();
    ui->WebBrowser1->installEventFilter(this);

    detailKeys = new DetailKeyFilter(this);
    for (QLineEdit* field : {ui->Edit1, ui->Edit3, ui->Edit4, ui->Edit5, ui->Edit6}) field->installEventFilter(detailKeys);
    memoEnter = new SwallowEnterFilter(this);
    ui->Memo1->installEventFilter(memoEnter);
    blocker = new InputBlocker(this);
    // The preview's engine takes a tenth of a second to start: it starts once
    // the window is on the screen. Until its page is made the view stays
    // hidden, its place kept, or it would make a default page of its own.
    QSizePolicy keepsPlace = ui->WebBrowser1->sizePolicy();
    keepsPlace.setRetainSizeWhenHidden(true);
    ui->WebBrowser1->setSizePolicy(keepsPlace);
    ui->WebBrowser1->hide();
    ui->StatusBar1->setSizeGripEnabled(true);
    transfer = new TransferDisplay(ui->StatusBar1);
    ui->StatusBar1->addPermanentWidget(transfer);
    transfer->hide();
    // A running download can always be stopped, blocked input or not.
    blocker->letThrough(transfer->cancelButton());
    connect(blocker, &InputBlocker::escapePressed, this, [this] {
        if (runningTransfer) runningTransfer->cancel();
    });
    dispatcher = QAbstractEventDispatcher::instance();

    catalogue = std::make_unique<Catalogue>(*this, *this, IdHTTP1);

    connect(ui->ListBox1, &SingleChoiceList::picked, this, &TForm3::ListBox1Click);
    connect(ui->Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TForm3::BitBtn1Click);

    guarded([this] { FormCreate(); });
    markPhase("main window made");
}

TForm3::~TForm3() {
    guarded([this] { FormDestroy(); });
    if (busyDepth > 0) QApplication::restoreOverrideCursor();
}

void TForm3::FormCreate() {
    // One level only, and whatever happens is fine: the folder usually exists.
    platform::createFolder(AppDir + "temp");
}

void TForm3::FormDestroy() { catalogue->close(); }

void TForm3::runModal() {
    guarded([this] { FormShow(); });
    markPhase("show step done");
    // A signal taken while the show step pumped events has ended the loops
    // there were; the window's own loop would not hear of it.
    if (endRequested()) return;
    shownMaximised = true;
    // Where nothing maximises it (no window manager), it still fits the screen.
    if (const QScreen* shown = screen()) resize(size().boundedTo(shown->availableGeometry().size()));
    showMaximized();
    // A preview drawn with OpenGL (QT_QUICK_BACKEND) makes Qt recreate the
    // native window as the view maps, and the window manager never hears of
    // the maximised state; ask again once the window is on the screen.
    QTimer::singleShot(0, this, [this] { keepMaximised(40); });
    exec();
}

void TForm3::FormShow() { catalogue->open(TempDir, TemplateLst); }

void TForm3::ListBox1Click() {
    guarded([this] { catalogue->showSelected(); });
}

void TForm3::Button1Click() {
    guarded([this] { catalogue->search(); });
}

void TForm3::Button2Click() {
    guarded([this] { catalogue->clearSearch(); });
}

void TForm3::BitBtn1Click() {
    guarded([this] { downloadSelected(); });
}

void TForm3::downloadSelected() {
    const int index = ui->ListBox1->currentRow();
    DownloadContext context{*this,
                            IdHTTP1,
                            TempDir,
                            TemplateLst,
                            index,
                            index >= 0 ? templateText(index) : std::string(),
                            [this] { return catalogue->currentText("FILE"); },
                            [this] { update.checkForUpdate(*this, IdHTTP1); }};
    quill::downloadSelectedTemplate(context);
}

void TForm3::keepMaximised(int triesLeft) {
    QWindow* native = windowHandle();
    if (!native || !isVisible()) return;
    if (!native->isExposed()) {
        if (triesLeft > 0) QTimer::singleShot(25, this, [this, triesLeft] { keepMaximised(triesLeft - 1); });
        return;
    }
    if (!(windowState() & Qt::WindowMaximized)) showMaximized();
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == leftColumn->viewport()) fitLeftColumn();
        if (watched == ui->Panel6)  // on a narrow screen "Download" moves in from the right
            ui->BitBtn1->move(std::min(kDownloadLeft, std::max(0, ui->Panel6->width() - kDownloadWidth - 8)),
                              ui->BitBtn1->y());
    }
    if (watched == ui->WebBrowser1 && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        previewNotice->setGeometry(ui->WebBrowser1->geometry());
    // Once the view has made it its focus proxy, which comes after the polish.
    if (watched == ui->WebBrowser1 && event->type() == QEvent::ChildPolished)
        QTimer::singleShot(0, this, &TForm3::previewViewMade);
    return QDialog::eventFilter(watched, event);
}

// The engine makes the widget that renders a page, with a hidden window of its
// own, for each view of a page, and adds it at the end of the focus chain.
void TForm3::previewViewMade() {
    hideUnshownRenderWindows();
    // The view itself takes no focus; its renderer goes back between the
    // details and "Download", as the window's tab order has the preview.
    if (QWidget* renderer = ui->WebBrowser1->focusProxy()) QWidget::setTabOrder(renderer, ui->BitBtn1);
}

void TForm3::fitLeftColumn() {
    const int height = leftColumn->viewport()->height();
    const int least = kDescriptionTop + kLeastDescriptionHeight + kBelowDescription;
    const int details = std::clamp(height - kAboveList - kLeastListHeight, least, kDetailsHeight);
    ui->Panel5->setFixedHeight(details);
    ui->Memo1->resize(ui->Memo1->width(), details - kDescriptionTop - kBelowDescription);
    // A scroll bar takes its room beside the column, not from it.
    const bool scrolls = height < kAboveList + kLeastListHeight + details;
    const int width = kColumnWidth + (scrolls ? leftColumn->verticalScrollBar()->sizeHint().width() : 0);
    if (leftColumn->width() != width) leftColumn->setFixedWidth(width);
}

void TForm3::paintEvent(QPaintEvent* event) {
    if (!painted) {
        painted = true;
        markPhase("main window painted");
        QTimer::singleShot(0, this, [this] { previewPage(); });
    }
    QDialog::paintEvent(event);
}

// The preview's renderer may have been made since the last Tab.
bool TForm3::focusNextPrevChild(bool next) {
    previewViewMade();
    return QDialog::focusNextPrevChild(next);
}

void TForm3::keyPressEvent(QKeyEvent* event) {
    // A main window, not a dialog: Escape closes nothing.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm3::closeEvent(QCloseEvent* event) {
    if (inputBlocked()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool TForm3::inputBlocked() const { return blocker->blocked(); }

// --- Screen ---

void TForm3::setStatus(const std::string& text) {
    ui->StatusBar1->showMessage(q(text));
    // A screen reader hears each new status as the bar's new name.
    ui->StatusBar1->setAccessibleName(text.empty() ? QStringLiteral("Status") : q(text));
}
void TForm3::showError(const std::string& text) { messageBoxes().error(text); }
void TForm3::showInformation(const std::string& text) { messageBoxes().information(text); }
bool TForm3::confirm(const std::string& text) { return messageBoxes().confirm(text); }
void TForm3::processMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TForm3::waitForEvents(std::chrono::milliseconds upTo) {
    QTimer limit;  // its firing ends the wait when nothing else does
    limit.setSingleShot(true);
    limit.start(upTo);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TForm3::wakeWaiting() {
    if (dispatcher) dispatcher->wakeUp();
}
bool TForm3::endRequested() const { return quill::endRequested(); }

void TForm3::setBusyPointer(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth;
    } else if (busyDepth > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth;
    }
}

void TForm3::showProgress() {
    dismissProgress();
    TemplateWaitForm = new TTemplateWaitForm(nullptr);
    TemplateWaitForm->show();
    // Taking the focus is how the start of the step reaches a screen reader,
    // and it puts Escape and Cancel of a download under it at hand.
    TemplateWaitForm->raise();
    TemplateWaitForm->activateWindow();
    announce(TemplateWaitForm);
}

void TForm3::dismissProgress() {
    if (!TemplateWaitForm) return;
    // Hidden first: a window deleted while active never tells a screen reader it went away.
    TemplateWaitForm->hide();
    delete TemplateWaitForm;
    TemplateWaitForm = nullptr;
}

void TForm3::setProgressLabel(const std::string& text) {
    if (TemplateWaitForm) TemplateWaitForm->setLabelText(q(text));
}
void TForm3::setProgressBarVisible(bool visible) {
    if (TemplateWaitForm) TemplateWaitForm->setBarVisible(visible);
}
void TForm3::setProgressPosition(int percent) {
    if (TemplateWaitForm) TemplateWaitForm->setPosition(percent);
}
void TForm3::freeProgress() {
    if (!TemplateWaitForm) return;
    dismissProgress();
    // The focus comes back, and with it the end of the step is heard.
    if (isVisible()) activateWindow();
    announce(ui->StatusBar1);
}

void TForm3::setInputBlocked(bool blocked) {
    blockDepth = std::max(0, blockDepth + (blocked ? 1 : -1));
    blocker->setBlocked(blockDepth > 0);
}

void TForm3::closeMainWindow() { done(QDialog::Accepted); }

// Events are pumped while a download runs: a click must not start a second step inside it.
void TForm3::beginTransfer(bool shown) {
    setInputBlocked(true);
    runningTransfer = transfer;
    // Under the progress window, the download shows in it: one bar, one Cancel.
    if (shown && TemplateWaitForm && TemplateWaitForm->isVisible()) runningTransfer = TemplateWaitForm->transferDisplay();
    else if (shown && !isVisible()) {
        transferWindow = std::make_unique<TransferWindow>(windowTitle(), ui->StatusBar1->currentMessage());
        runningTransfer = transferWindow->display();
    }
    runningTransfer->begin(shown);
}

void TForm3::showTransfer(std::int64_t received, std::int64_t total) {
    if (transferWindow) {
        transferWindow->showProgress(received, total);
    } else if (runningTransfer) {
        runningTransfer->showProgress(received, total);
    }
}

// A program told to end does not wait for a download first.
bool TForm3::transferCancelled() { return (runningTransfer && runningTransfer->cancelled()) || endRequested(); }

void TForm3::endTransfer() {
    if (runningTransfer) runningTransfer->end();
    runningTransfer = nullptr;
    transferWindow.reset();
    setInputBlocked(false);
}

// --- CatalogueView ---

void TForm3::setTemplates(const std::vector<TemplateItem>& templates) {
    std::vector<SingleChoiceList::Item> items;
    items.reserve(templates.size());
    for (const auto& t : templates) items.push_back({q(t.name), t.id});
    const QSignalBlocker quiet(ui->ListBox1);
    ui->ListBox1->setItems(std::move(items));
}

int TForm3::templateCount() const { return ui->ListBox1->count(); }
int TForm3::selectedTemplate() const { return ui->ListBox1->currentRow(); }

void TForm3::selectTemplate(int index) {
    const QSignalBlocker quiet(ui->ListBox1);
    ui->ListBox1->setCurrentRow(index);
}

std::string TForm3::templateText(int index) const { return ui->ListBox1->text(index).toStdString(); }
std::int32_t TForm3::templateId(int index) const { return ui->ListBox1->value(index); }

int TForm3::categoryCount() const { return ui->ComboBox1->count(); }
std::string TForm3::categoryText(int index) const { return ui->ComboBox1->itemText(index).toStdString(); }

void TForm3::addCategory(const std::string& text) {
    const QString item = q(text);
    int at = 0;
    while (at < ui->ComboBox1->count() && !sortsBefore(item, ui->ComboBox1->itemText(at))) ++at;
    // An empty QComboBox makes its first item current: a category nobody chose.
    const bool noneChosen = ui->ComboBox1->currentIndex() < 0;
    ui->ComboBox1->insertItem(at, item);
    if (noneChosen) ui->ComboBox1->setCurrentIndex(-1);
}

int TForm3::selectedCategory() const { return ui->ComboBox1->currentIndex(); }
void TForm3::selectCategory(int index) { ui->ComboBox1->setCurrentIndex(index); }
std::string TForm3::searchWords() const { return ui->Edit2->text().toStdString(); }
void TForm3::setSearchWords(const std::string& text) { ui->Edit2->setText(q(text)); }
void TForm3::showName(const std::string& text) { setShownFromStart(ui->Edit1, q(text)); }
void TForm3::showLicense(const std::string& text) { setShownFromStart(ui->Edit3, q(text)); }
void TForm3::showPrice(const std::string& text) { setShownFromStart(ui->Edit4, q(text)); }
void TForm3::showKeywords(const std::string& text) { setShownFromStart(ui->Edit5, q(text)); }
void TForm3::showDescription(const std::string& text) { ui->Memo1->setPlainText(q(text)); }
void TForm3::showNumber(const std::string& text) { setShownFromStart(ui->Edit6, q(text)); }
void TForm3::showPreview(const std::string& url) {
    const QUrl shown = PreviewPage::shownUrl(q(url));
    // The last template's page goes at once: the pane never shows it for another.
    requestedPreview = shown.scheme() == QLatin1String("about") ? QUrl() : shown;
    showPreviewNotice(requestedPreview.isEmpty() ? QString() : kPreviewLoading);
    if (previewMade)
        previewPage()->setUrl(shown);
    else
        pendingPreview = shown;
}

void TForm3::showPreviewNotice(const QString& notice) {
    previewNotice->setText(notice);
    previewNotice->setVisible(!notice.isEmpty());
    ui->WebBrowser1->setVisible(notice.isEmpty() && previewMade);
    if (!notice.isEmpty()) previewNotice->raise();
}

void TForm3::previewLoading(const QWebEngineLoadingInfo& info) {
    // Only the selected template's page counts; an earlier one ends unheeded.
    if (requestedPreview.isEmpty() || previewPage()->requestedUrl() != requestedPreview) return;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
        requestedPreview = QUrl();
        showPreviewNotice(QString());
    } else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
        requestedPreview = QUrl();
        showPreviewNotice(kPreviewFailed);
    }
}

QWebEnginePage* TForm3::previewPage() {
    if (!previewMade) {
        previewMade = true;
        auto* page = new PreviewPage(ui->WebBrowser1);
        ui->WebBrowser1->setPage(page);
        markPhase("preview page and its profile made");
        connect(page, &QWebEnginePage::loadFinished, this, [this] {
            if (!previewLoaded) markPhase("first preview loaded");
            previewLoaded = true;
            previewViewMade();
        });
        connect(page, &QWebEnginePage::loadingChanged, this, &TForm3::previewLoading);
        if (!pendingPreview.isEmpty()) ui->WebBrowser1->setUrl(pendingPreview);
        previewViewMade();
        if (requestedPreview.isEmpty()) ui->WebBrowser1->show();
        // The view maps now, perhaps recreating the native window.
        if (shownMaximised) QTimer::singleShot(0, this, [this] { keepMaximised(40); });
    }
    return ui->WebBrowser1->page();
}

}  // namespace quill
