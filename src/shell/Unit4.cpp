#include "shell/Unit4.h"

#include "workspace/app/phase_marks.h"
#include "shell/_tempinst.h"
#include "shell/error_display.h"
#include "shell/focus_ring.h"
#include "shell/Unit3.h"
#include "ui_Unit4.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

namespace quill {

TForm4* Form4 = nullptr;
TForm3* Form3 = nullptr;

TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm4>()) {
    initShellResources();
    ui->setupUi(this);
    QFont font = this->font();
    font.setPixelSize(16);
    setFont(font);
    setFixedSize(645, 136);
    fitScreenWidth();
    keepFocusShown(this);
    ui->BitBtn1->setFocus();
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TForm4::BitBtn1Click);
    centreOnScreen(this);
}

TForm4::~TForm4() = default;

void TForm4::fitScreenWidth() {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown) return;
    // Room for the title bar's frame on either side.
    const int room = shown->availableGeometry().width() - 16;
    if (room >= width()) return;
    setFixedSize(room, height());
    ui->Label1->setGeometry(24, 24, room - 48, 49);
    ui->BitBtn1->move((room - ui->BitBtn1->width()) / 2, ui->BitBtn1->y());
}

void TForm4::BitBtn1Click() {
    markPhase("\"Next >>\" clicked");
    hide();
    // Whatever creating or running the main window raises is shown, and the
    // program ends: there is no window left to go back to.
    guarded([this] {
        Form3 = new TForm3(this);
        Form3->runModal();
    });
    delete Form3;
    Form3 = nullptr;
    close();
}

void TForm4::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) QCoreApplication::quit();
}

}  // namespace quill
