// TForm4: "Finalizing Setup", the program's first window. Its one button runs
// the main window and ends the program when that closes.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TForm4;
}

namespace quill {

class TForm3;

class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

public slots:
    void BitBtn1Click();

protected:
    // The program's main window: closing it ends the program, and nothing else does.
    void closeEvent(QCloseEvent* event) override;

private:
    // Narrower than designed only when the screen is: the close button stays on it.
    void fitScreenWidth();

    std::unique_ptr<Ui::TForm4> ui;
};

extern TForm4* Form4;
extern TForm3* Form3;

}  // namespace quill
