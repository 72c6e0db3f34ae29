// final_inst: finishes the Quillary setup. Fixes the application folder (or
// refuses to start, with exit code 1, when it has none), puts right a change
// that a killed run left unfinished, shows "Finalizing Setup" and runs the
// message loop until that window closes or a termination signal comes.
#include "shell/_tempinst.h"
#include "shell/Unit4.h"

#include "platform/error.h"
#include "platform/files.h"
#include "shell/message_boxes.h"
#include "shell/startup_recovery.h"
#include "shell/termination.h"
#include "workspace/app/app_dir.h"
#include "workspace/app/format_settings.h"
#include "workspace/app/names.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QQuickWindow>

#include <unistd.h>

namespace {

// The windows are designed for Tahoma; Debian ships it with Wine's fonts, outside
// fontconfig's folders.
void addDesignFont() {
    for (const char* path : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        if (QFile::exists(QString::fromLatin1(path))) QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    // The preview's browser engine refuses to run as root with its sandbox on.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The preview draws in software. Drawn with OpenGL, it would make Qt
    // recreate the main window's native window when the view first shows,
    // blanking the window a user already reads; a template's page needs no GPU.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    // The Firebird client is loaded with the program but takes the signals
    // only at its first attachment, when the catalogue takes them back.
    quill::endOnTerminationSignals();
    // Boxes may close while no window of ours is visible (between "Next >>" and
    // the main window); only closing "Finalizing Setup" ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    quill::initShellResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/quill.png")));
    addDesignFont();
    quill::loadFormatSettingsFromLocale();

    // Without a sure application folder nothing may start: the program would make
    // its folders and unpack updates wherever the guess pointed.
    try {
        quill::AppDir = quill::applicationFolder(quill::platform::modulePath());
    } catch (const quill::AppError& e) {
        quill::messageBoxes().error(e.what());
        return 1;
    }

    quill::putRightAnUnfinishedChange(quill::AppDir, quill::messageBoxes());
    // A signal that came while a box waited ended that box's loop only.
    if (quill::endRequested()) return 0;

    quill::TForm4 form4;
    quill::Form4 = &form4;
    form4.show();
    app.exec();
    return 0;
}
