// brenwick-cli devices: scans the drives and prints the device list, one entry a line, as the Device box
// shows it; the scan's own log lines go to standard error.
#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/cli_transport.h"
#include "drive/qrASPI.h"
#include "drive/qrDrvLib.h"

namespace brenwick::cli {

int RunDevices(const TArgs& args) {
    if (const auto refused = StartDriveCommand(args, "usage: brenwick-cli devices")) return *refused;
    TSCSIDevice device;
    device.OnDebugMessage = [](TObject*, const std::string& text, std::uint8_t) {
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    device.HostAdapterInquiry(0);
    device.RescanDevices();
    for (const auto& entry : device.DeviceList) {
        // The INQUIRY fields are printed exactly as received.
        std::fwrite(entry.data(), 1, entry.size(), stdout);
        std::fputc('\n', stdout);
    }
    ShutdownTransport();
    return device.DeviceList.empty() ? kExitFailed : kExitOk;
}

}  // namespace brenwick::cli
