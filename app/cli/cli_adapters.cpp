// brenwick-cli adapters: loads the transport and prints its layer name and one line per host adapter.
#include <cstdio>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/cli_transport.h"
#include "drive/qrASPI.h"
#include "drive/qrDrvLib.h"

namespace brenwick::cli {

int RunAdapters() {
    if (const auto refused = StartDriveCommand()) return *refused;
    TSCSIDevice device;
    std::printf(">>> %s\n", TransportLayerName().c_str());
    device.HostAdapterInquiry(0);
    const int adapters = device.AdapterCount < 0 ? 0 : device.AdapterCount;
    for (int adapter = 0; adapter < adapters; ++adapter) {
        device.HostAdapterInquiry(std::uint8_t(adapter));
        std::printf("%s\n", AdapterLogLine(device.HAInquiry).c_str());
    }
    ShutdownTransport();
    return adapters > 0 ? kExitOk : kExitFailed;
}

}  // namespace brenwick::cli
