// Placeholder until the dialog exists: skip every unreadable sector.
#include "diskio/bad_sector_dialog_ui.h"

namespace qm {

int RunSectorsBadStatusAction() { return 3; }

}  // namespace qm
