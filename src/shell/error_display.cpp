#include "shell/error_display.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "shell/message_boxes.h"

#include <QString>

#include <exception>

namespace quill {

std::string applicationTitle(const std::string& modulePath) {
    const auto slash = modulePath.find_last_of(platform::kSeparator);
    QString name = QString::fromStdString(slash == std::string::npos ? modulePath : modulePath.substr(slash + 1));
    const auto dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
    return name.toStdString();
}

std::string errorDisplayText(const std::string& message) {
    // Compared as characters, not bytes: an accented last letter counts as one.
    const std::u16string wide = platform::toUtf16(message);
    if (!wide.empty() && wide.back() > u'.') return message + ".";
    return message;
}

bool guarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        messageBoxes().systemError(applicationTitle(platform::modulePath()), errorDisplayText(e.what()));
        return false;
    }
}

}  // namespace quill
