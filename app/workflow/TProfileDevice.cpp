// The profile's recorder against the device list (see TProfileDevice.h).
#include "app/workflow/TProfileDevice.h"

namespace brenwick {

std::string CheckProfileDevice(const TBackupProfile& profile, const std::vector<TRecorderChoice>& recorders) {
    if (!profile.DeviceName.empty()) {
        const TRecorderLookup found = FindRecorder(recorders, profile.DeviceName);
        return found.index < 0 ? "[Options] DeviceName=" + profile.DeviceName + ": " + found.error : "";
    }
    if (profile.Device < 0) return "[Options] Device=-1: no recorder is selected";
    const TRecorderLookup found = FindRecorder(recorders, std::to_string(profile.Device));
    return found.index < 0 ? "[Options] Device=" + std::to_string(profile.Device) + ": " + found.error : "";
}

}  // namespace brenwick
