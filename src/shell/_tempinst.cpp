#include "shell/_tempinst.h"

#include "ui__tempinst.h"

#include <QGuiApplication>
#include <QScreen>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void registerShellResources() { Q_INIT_RESOURCE(shell); }

namespace quill {

TTemplateWaitForm* TemplateWaitForm = nullptr;

void initShellResources() {
    static const bool done = (registerShellResources(), true);
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
    ui->setupUi(this);
    QFont font = this->font();
    font.setPixelSize(11);
    setFont(font);
    QFont labelFont = ui->Label1->font();
    labelFont.setPixelSize(16);
    ui->Label1->setFont(labelFont);
    ui->Label1->adjustSize();
    setFixedSize(440, 69);
    centreOnScreen(this);
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
