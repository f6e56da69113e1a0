// libFuzzer target: a drive whose every answer comes from the fuzz input, driven through the device scan,
// the selection and every composite query. Finds reads past a buffer and lengths that are trusted.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "drive/os/TFakeSgOs.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"

namespace {

using namespace brenwick;

// Each command takes: one byte of outcome (bits 0-1: good, check condition, busy, host failure), one byte
// of length (in 4-byte units), then that many answer bytes (or sense bytes on a check condition).
class TFuzzedDrive : public TScsiTarget {
  public:
    explicit TFuzzedDrive(std::span<const std::uint8_t> input) : m_input(input) {}

    TScsiResult Execute(const TScsiRequest& request) override {
        TScsiResult result;
        const std::uint8_t outcome = Next();
        const std::size_t length = std::size_t(Next()) * 4;
        const auto bytes = Take(length);
        switch (outcome & 3) {
            case 0:
                if (request.direction == TDataDirection::In) {
                    const std::size_t count = std::min(bytes.size(), request.data.size());
                    std::copy_n(bytes.begin(), count, request.data.begin());
                    result.transferred = count;
                }
                break;
            case 1:
                result.status = kStatusCheckCondition;
                result.senseLength = std::min(bytes.size(), result.sense.size());
                std::copy_n(bytes.begin(), result.senseLength, result.sense.begin());
                break;
            case 2:
                result.status = kStatusBusy;
                break;
            default:
                result.hostStatus = outcome;
                break;
        }
        return result;
    }

  private:
    std::uint8_t Next() {
        if (m_input.empty()) return 0;
        const std::uint8_t value = m_input[0];
        m_input = m_input.subspan(1);
        return value;
    }
    std::span<const std::uint8_t> Take(std::size_t count) {
        count = std::min(count, m_input.size());
        const auto bytes = m_input.first(count);
        m_input = m_input.subspan(count);
        return bytes;
    }

    std::span<const std::uint8_t> m_input;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto drive = std::make_shared<TFuzzedDrive>(std::span<const std::uint8_t>(data, size));
    ShutdownTransport();
    SetSptiOs(std::make_shared<TFakeSgOs>());
    SetExtraTargetSource([drive](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{drive}; });
    if (!LoadTransport()) return 0;
    {
        TSCSIDevice device;
        device.SleepHook = [](unsigned) {};
        device.HostAdapterInquiry(0);
        device.RescanDevices();
        device.SelectDevice("0:0:0,?: fuzzed drive");
        device.HostAdapter = device.Target = device.Lun = 0;  // go on even when the answer was not a CD drive
        (void)device.GetDiscType();
        (void)device.GetDiscCapacity();
        (void)device.GetUsedSectors();
        (void)device.GetFreeSectors();
        (void)device.GetSessionCount();
        (void)device.IsDiscErasable();
        (void)device.WaitReady(300, 100);
        (void)device.GetCurrentWriteSpeed();
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        (void)device.ReadBufferCapacity(a, b);
        (void)device.ReadFormatCapacities(a, b);
        for (int type : {kDiscCdR, kDiscDvdR, kDiscDvdRam}) {
            device.FinalizeDisc = (type == kDiscCdR);
            (void)device.SetWriteParameters(false, true, type, false);
        }
    }
    ShutdownTransport();
    return 0;
}
