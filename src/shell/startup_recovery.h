// At start-up, before "Finalizing Setup": a template installation or program
// update that a killed run left unfinished is undone (or completed, when all
// its new files were in place), and the user is told so.
#pragma once

#include <string>

namespace quill {

class MessageBoxes;

// Shows an information box saying what was done, or an error box with the
// reason when the folder could not be put right (the next start tries again),
// or one saying that the record of the change cannot be read whole and the
// folder is left as it is.
// Shows nothing when there was nothing to do.
void putRightAnUnfinishedChange(const std::string& appDir, MessageBoxes& boxes);

}  // namespace quill
