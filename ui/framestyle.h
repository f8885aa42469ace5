// Frames drawn as the layout was drawn: the frame's line runs through the middle of its caption,
// so that the controls placed just below the caption sit inside the frame, clear of its line.
#pragma once

class QWidget;

namespace mivex::ui {

// Gives every frame (QGroupBox) below `root` that look.
void drawFramesAsDesigned(QWidget* root);

}  // namespace mivex::ui
