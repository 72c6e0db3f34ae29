#include "shell/message_boxes.h"

#include "termination.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace quill {

namespace {

// Centres itself on the work area of the screen, wherever the main window is.
class CentredBox : public QMessageBox {
protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
};

int run(const QString& caption, QMessageBox::Icon icon, const std::string& text, bool yesNo) {
    // Nobody is left to answer once the program is ending: OK, or No.
    if (endRequested()) return 0;
    CentredBox box;
    box.setWindowTitle(caption);
    box.setIcon(icon);
    // Template names and server texts are shown as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setWindowModality(Qt::ApplicationModal);
    // Above the progress window, which stays on top while the update runs.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (!yesNo) {
        QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        return 0;
    }
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);  // Escape and the title-bar close both mean No
    box.exec();
    return box.clickedButton() == yes ? 1 : 0;
}

MessageBoxes* current = nullptr;

}  // namespace

void QtMessageBoxes::error(const std::string& text) { run(QStringLiteral("Error"), QMessageBox::Critical, text, false); }

void QtMessageBoxes::information(const std::string& text) {
    run(QStringLiteral("Information"), QMessageBox::Information, text, false);
}

bool QtMessageBoxes::confirm(const std::string& text) {
    return run(QStringLiteral("Confirm"), QMessageBox::Question, text, true) == 1;
}

void QtMessageBoxes::systemError(const std::string& caption, const std::string& text) {
    run(QString::fromStdString(caption), QMessageBox::Critical, text, false);
}

MessageBoxes& messageBoxes() {
    static QtMessageBoxes real;
    return current ? *current : real;
}

void setMessageBoxes(MessageBoxes* boxes) { current = boxes; }

}  // namespace quill
