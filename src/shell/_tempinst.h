// TTemplateWaitForm: the small always-on-top window that says a long step runs.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TTemplateWaitForm;
}

namespace quill {

class TransferDisplay;

class TTemplateWaitForm : public QWidget {
    Q_OBJECT
public:
    explicit TTemplateWaitForm(QWidget* owner = nullptr);
    ~TTemplateWaitForm() override;

    void setLabelText(const QString& text);  // keeps the label's left and top edges
    void setBarVisible(bool visible);
    void setPosition(int percent);

    QString labelText() const;
    bool barVisible() const;
    int position() const;

    // A download that runs under this window shows its amounts and Cancel
    // here, above the window's own bar.
    TransferDisplay* transferDisplay() const { return transfer_; }

protected:
    // Nothing but the step that showed it closes it.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::TTemplateWaitForm> ui;
    TransferDisplay* transfer_;
};

// The live progress window, or nullptr; one slot for the whole program.
extern TTemplateWaitForm* TemplateWaitForm;

// The pictures and the icon live in the shell library; every window calls this first.
void initShellResources();

// Puts a window's centre on the centre of its screen's work area.
void centreOnScreen(QWidget* window);

}  // namespace quill
