// The preview pane's page. Its addresses come from a downloaded catalogue, so
// it shows web pages only (http and https), opens no windows, and without the
// browser's sandbox also runs no scripts or plugins and reads no local files.
#pragma once

#include <QUrl>
#include <QWebEnginePage>

namespace quill {

class PreviewPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit PreviewPage(QObject* parent);

    // What the pane shows for a catalogue's address: the page itself when it is
    // http or https, about:blank for anything else (file:, data:, javascript:, ...).
    static QUrl shownUrl(const QString& address);

    // Whether the browser engine runs without its sandbox: as root, or when the
    // user's environment switches it off.
    static bool sandboxOff();

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
};

}  // namespace quill
