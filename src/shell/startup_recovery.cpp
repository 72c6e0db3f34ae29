#include "shell/startup_recovery.h"

#include "shell/message_boxes.h"
#include "workspace/change/folder_change.h"

#include <exception>

namespace quill {

namespace {

std::string whatWasDone(const RecoveredChange& change) {
    const bool installation = change.kind == ChangeKind::Installation;
    if (change.outcome == RecoveredChange::Outcome::Completed) {
        return installation ? "The program was stopped just as it finished installing a template. The installation "
                              "has been completed: the new template is in place."
                            : "The program was stopped just as it finished updating the program files. The update "
                              "has been completed: the new program files are in place.";
    }
    return installation ? "The program was stopped while it was installing a template. The installation has been "
                          "undone: the database and its data folder are as they were before."
                        : "The program was stopped while it was updating the program files. The update has been "
                          "undone: the program files are as they were before.";
}

}  // namespace

void putRightAnUnfinishedChange(const std::string& appDir, MessageBoxes& boxes) {
    RecoveredChange change;
    try {
        change = recoverUnfinishedChange(appDir);
    } catch (const std::exception& e) {
        boxes.error(std::string("The program was stopped while it was changing its files, and they could not be put "
                                "back in order:\n") +
                    e.what() + "\nThe program will try again the next time it starts.");
        return;
    }
    if (change.outcome == RecoveredChange::Outcome::Unreadable) {
        // Half a record read as the whole would undo what may have been done.
        boxes.error("The program was stopped while it was changing its files, and its record of that change (\"" +
                    journalPath(appDir) +
                    "\") cannot be read whole, so the files have been left as they are.\nCheck the program files, "
                    "the database and its data folder, then delete that record. Until then no template can be "
                    "installed and no update made.");
        return;
    }
    if (change.outcome == RecoveredChange::Outcome::Nothing) return;
    std::string text = whatWasDone(change);
    if (!change.kept.empty()) {
        text += "\nSome files had been changed since the program put them in place. They have not been deleted, "
                "but kept under these names:";
        for (const auto& path : change.kept) text += "\n" + path;
    }
    boxes.information(text);
}

}  // namespace quill
