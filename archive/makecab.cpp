// being written
#include "archive/makecab.h"
namespace mivex::ui {
void cmdMakeCab_Click(QWidget*, const std::vector<std::string>&) {}
}  // namespace mivex::ui
