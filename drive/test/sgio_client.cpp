// A client of the real pass-through path (open, SG_IO, the address ioctls) for the SG_IO test: run under the
// preload library, it scans, selects the recorder that stands behind /dev/sr7, queries the disc and writes
// to it, and prints what it saw as key=value lines.
#include <cstdio>
#include <string>
#include <vector>

#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"

using namespace brenwick;

int main() {
    SetExtraTargetSource([](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{}; });
    if (!LoadTransport()) {
        std::puts("load=0");
        return 1;
    }
    int status = 0;
    {
        TSCSIDevice device;
        TDebugLines lines;
        device.DebugWindow = &lines;
        device.HostAdapterInquiry(0);
        device.RescanDevices();
        for (const auto& entry : device.DeviceList) std::printf("entry=%s\n", entry.c_str());
        if (!device.DeviceList.empty()) {
            device.SelectDevice(device.DeviceList[0]);
            std::printf("selected=%d:%d:%d\n", device.HostAdapter, device.Target, device.Lun);
            std::printf("name=%s\n", device.DeviceName.c_str());
            std::printf("maxwrite=%u\n", unsigned(device.DeviceMaxWriteSpeed));
            const int type = device.GetDiscType();
            std::printf("type=%s\n", std::string(DiscTypeNames[std::size_t(type)]).c_str());
            std::printf("capacity=%u\n", device.GetDiscCapacity());
            std::printf("ready=%d\n", int(device.WaitReady(1000, 10)));
            std::printf("parameters=%d\n", int(device.SetWriteParameters(false, true, type, false)));
            const bool track = device.ReadTrackInformation(0xFF);
            const std::uint32_t nwa = device.TrackInfo.NextWritableAddress;
            std::printf("nwa=%d:%u\n", int(track), nwa);
            std::vector<std::uint8_t> blocks(16 * 2048, 0xA5);
            std::printf("write=%d\n",
                        int(device.Write10(nwa, 16, 0x50, std::uint32_t(blocks.size()), blocks.data())));
            const bool rewritten = device.Write10(nwa, 16, 0x50, std::uint32_t(blocks.size()), blocks.data());
            std::printf("rewrite=%d %s\n", int(rewritten), device.LastError.c_str());
            std::printf("sync=%d\n", int(device.SynchronizeCache(60000)));
            std::vector<std::uint8_t> back(16 * 2048, 0);
            const bool read = device.Read10(nwa, 16, std::uint32_t(back.size()), back.data());
            std::printf("read=%d %d\n", int(read), int(back == blocks));
        } else {
            status = 1;
        }
        for (const auto& line : lines.Lines()) std::printf("log=%s\n", line.c_str());
    }
    ShutdownTransport();
    return status;
}
