#include "shell/preview_page.h"

#include <QWebEngineSettings>

namespace quill {

namespace {

bool isWebPage(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == "http" || scheme == "https");
}

const QUrl kBlank(QStringLiteral("about:blank"));

}  // namespace

PreviewPage::PreviewPage(QObject* parent) : QWebEnginePage(parent) {
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    if (sandboxOff()) {
        // A renderer outside the sandbox is one exploit away from the user's files.
        s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    }
}

QUrl PreviewPage::shownUrl(const QString& address) {
    const QUrl url(address);
    return isWebPage(url) ? url : kBlank;
}

bool PreviewPage::sandboxOff() {
    return !qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX") ||
           qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(QStringLiteral("--no-sandbox"));
}

bool PreviewPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    // A link or a redirect may lead elsewhere too; the page stays a web page or blank.
    if (isMainFrame && !isWebPage(url) && url != kBlank) return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

QWebEnginePage* PreviewPage::createWindow(WebWindowType) { return nullptr; }

}  // namespace quill
