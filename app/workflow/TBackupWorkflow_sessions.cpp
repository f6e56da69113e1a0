// The session count a front end asks for before an erase (see TBackupWorkflow.h).
#include "app/workflow/TBackupWorkflow.h"

namespace brenwick {

int TBackupWorkflow::SessionsOnDisc() {
    if (JobActive() || !driveReady()) return -1;
    return m_burner.GetSessionCount();
}

}  // namespace brenwick
