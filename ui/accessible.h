// What a screen reader hears for the controls Qt would announce wrongly on Linux.
#pragma once

namespace mivex::ui {

// Installs, once, the accessibility interfaces of the drive lists (announced by their name, not
// by the drive they show) and of the help window (a window, not a filler).
void installAccessibleInterfaces();

}  // namespace mivex::ui
