#include "shell/_tempinst.h"

#include "shell/accessibility.h"
#include "shell/transfer_display.h"
#include "ui__tempinst.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include <QGuiApplication>
#include <QScreen>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void registerShellResources() { Q_INIT_RESOURCE(shell); }

namespace quill {

TTemplateWaitForm* TemplateWaitForm = nullptr;

void initShellResources() {
    static const bool done = (registerShellResources(), installAccessibleRoles(), true);
    (void)done;
}

void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

TTemplateWaitForm::TTemplateWaitForm(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TTemplateWaitForm>()) {
    initShellResources();
    ui->setupUi(this);
    ui->ProgressBar1->setAccessibleName("Progress");
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    QFont labelFont = ui->Label1->font();
    labelFont.setPixelSize(16);
    ui->Label1->setFont(labelFont);
    ui->Label1->adjustSize();
    setFixedSize(440, 69);
    // Between the label and the bar, at the right: the label keeps its room.
    transfer_ = new TransferDisplay(this);
    transfer_->setBarShown(false);
    // Here Cancel is the window's own button: the focus may rest on it.
    transfer_->cancelButton()->setFocusPolicy(Qt::StrongFocus);
    transfer_->setGeometry(440 - 8 - 200, 36, 200, 15);
    centreOnScreen(this);
}

void TTemplateWaitForm::closeEvent(QCloseEvent* event) { event->ignore(); }

void TTemplateWaitForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        transfer_->cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

TTemplateWaitForm::~TTemplateWaitForm() = default;

void TTemplateWaitForm::setLabelText(const QString& text) {
    ui->Label1->setText(text);
    ui->Label1->adjustSize();  // the label sizes itself to its text from its left and top edges
}

void TTemplateWaitForm::setBarVisible(bool visible) { ui->ProgressBar1->setVisible(visible); }
void TTemplateWaitForm::setPosition(int percent) { ui->ProgressBar1->setValue(percent); }
QString TTemplateWaitForm::labelText() const { return ui->Label1->text(); }
bool TTemplateWaitForm::barVisible() const { return ui->ProgressBar1->isVisible(); }
int TTemplateWaitForm::position() const { return ui->ProgressBar1->value(); }

}  // namespace quill
