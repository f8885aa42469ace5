// "Make Archive of Source Files": packs the sources of the queued rows into one cabinet file.
#pragma once

#include <QObject>
#include <string>
#include <vector>

class QWidget;

namespace mivex::ui {

// The archives of one window: one at a time.
class ArchiveMaker : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Asks for the cabinet's name and packs every row's source, showing the status window. A call
    // while one is under way does nothing.
    void cmdMakeCab_Click(QWidget* parent, const std::vector<std::string>& rows);
    // True while an archive is being made (its button is disabled meanwhile).
    bool running() const { return mRunning; }

private:
    bool mRunning = false;
};

// Where a failed archive's message sends the user for help, as the build sets it
// (MIVEX_SUPPORT_URL); empty when the build names no place, and the message then names none.
extern const char* const kSupportPlace;

}  // namespace mivex::ui
