// brenwick-cli devices: scans the drives and prints the device list, one entry a line, as the Device box
// shows it; the scan's own log lines go to standard error.
#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"

namespace brenwick::cli {

int RunDevices(const TArgs& args) {
    if (!args.empty()) {
        std::fputs("usage: brenwick-cli devices\n", stderr);
        return kExitUsage;
    }
    if (!LoadTransport()) {
        std::fputs("brenwick-cli: no optical drive and no image recorder found\n", stderr);
        if (!SptiExtraSourceError().empty())
            std::fprintf(stderr, "brenwick-cli: %s\n", SptiExtraSourceError().c_str());
        return kExitFailed;
    }
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
