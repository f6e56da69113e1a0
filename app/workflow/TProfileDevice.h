// The profile check's recorder part: whether the profile's DeviceName or Device names a recorder of the
// current device list (see TProfileCheck.h for the file's other problems).
#pragma once

#include <string>
#include <vector>

#include "app/profile/TBackupProfile.h"
#include "app/workflow/TRecorderNames.h"

namespace brenwick {

// "" when the profile's recorder is there; otherwise what is wrong, with the valid recorders.
std::string CheckProfileDevice(const TBackupProfile& profile, const std::vector<TRecorderChoice>& recorders);

}  // namespace brenwick
