// Before a run starts: what the check before writing found, shown in one question.
#pragma once

#include <string>
#include <vector>

class QWidget;

namespace mivex {
class CountedSources;
}

namespace mivex::ui {

// Checks the rows; when a source is missing or a destination lacks room, lists them and asks
// Continue or Cancel. True when the run may start (nothing found, or Continue). `counted`: where
// the source folders the check walks keep their counts, for the run that follows.
bool confirmRun(QWidget* parent, const std::vector<std::string>& rows,
                CountedSources* counted = nullptr);

}  // namespace mivex::ui
