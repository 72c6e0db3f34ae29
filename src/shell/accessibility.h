// What assistive technology is told about the windows beyond what the
// controls say themselves: the roles of our windows and panels, the
// announcements of long steps, and no trace of the preview's hidden
// rendering window.
#pragma once

class QWidget;

namespace quill {

// Our windows read as dialogs and our panels as groups; once per program.
void installAccessibleRoles();

// Tells a screen reader that something worth saying happened at widget now
// (a long step began or ended).
void announce(QWidget* widget);

// The preview's engine renders into top-level windows that are never shown;
// listed beside our windows they would read as an empty window. Takes them
// out of the list of top-level windows, wherever the engine made them.
void hideUnshownRenderWindows();

}  // namespace quill
