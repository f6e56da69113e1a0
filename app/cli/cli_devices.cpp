// brenwick-cli devices: scans the drives and prints one line a recorder: its index, its stable name (an
// image recorder's name or the device path), the device entry as the Device box shows it, and the disc in
// it. The scan's own log lines go to standard error.
#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/cli_transport.h"
#include "drive/qrASPI.h"
#include "drive/qrDrvLib.h"
#include "drive/recorder/ImageRecorderSet.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick::cli {

namespace {

// The disc of an image recorder as its state file holds it; a kernel drive is asked by the jobs only.
std::string discOf(const TRecorderChoice& recorder) {
    if (recorder.name.empty() || recorder.name.front() == '/') return "-";
    TRecorderState state;
    std::string error;
    if (!LoadStateFile(DefaultRecordersFolder() + "/" + recorder.name, state, error))
        return "(" + error + ")";
    std::string disc(state.disc.traits().display);
    if (state.disc.isBlank())
        disc += ", blank";
    else
        disc += ", " + std::to_string(state.disc.closedSessions) + " closed sessions";
    if (state.disc.trayOpen) disc += ", tray open";
    return disc;
}

}  // namespace

int RunDevices() {
    if (const auto refused = StartDriveCommand()) return *refused;
    TSCSIDevice device;
    device.OnDebugMessage = [](TObject*, const std::string& text, std::uint8_t) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    device.HostAdapterInquiry(0);
    device.RescanDevices();
    for (const auto& recorder : NamedRecorders(device.DeviceList)) {
        // The INQUIRY fields of the entry are printed exactly as received.
        std::printf("%-3d %-12s %s  %s\n", recorder.index, recorder.name.c_str(), recorder.entry.c_str(),
                    discOf(recorder).c_str());
    }
    ShutdownTransport();
    return device.DeviceList.empty() ? kExitFailed : kExitOk;
}

}  // namespace brenwick::cli
