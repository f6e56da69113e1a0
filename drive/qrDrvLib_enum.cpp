// TSCSIDevice: host adapters, the device list, selection, identity and capabilities of the selected drive.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/TReplyReader.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"

namespace brenwick {
namespace {

// A fixed-width text field of a request block, cut at its first zero byte.
std::string FieldText(const std::uint8_t* field, std::size_t width) {
    std::size_t length = 0;
    while (length < width && field[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool IsCdOrDvdType(std::uint8_t peripheral) {
    return peripheral == 5 || peripheral == 4;
}

constexpr char kDvr103Product[] = "DVD-RW  DVR-103 ";  // exactly 16 characters, two inner blanks
static_assert(sizeof kDvr103Product == 17);

}  // namespace

std::string AdapterLogLine(const SRB_HAInquiry& inquiry) {
    return ">>> " + FieldText(inquiry.HA_ManagerId, 16) + " (" + Trim(FieldText(inquiry.HA_Identifier, 16)) +
           ")";
}

std::uint16_t SpeedToX(std::uint32_t kBps) {
    // nearbyint rounds in the current mode: to nearest, halves to even.
    return std::uint16_t(std::nearbyint(double(kBps) / 176.46));
}

std::size_t ModePageOffset(std::span<const std::uint8_t> answer, std::uint8_t pageCode,
                           std::size_t fallback) {
    TReplyReader reader(answer);
    for (std::size_t offset : {std::size_t(16), std::size_t(8), std::size_t(7)}) {
        // The PS bit (7) and the SPF bit (6) are not part of the page code.
        if (reader.has(offset, 1) && (answer[offset] & 0x3F) == pageCode) return offset;
    }
    return fallback;
}

void TSCSIDevice::HostAdapterInquiry(std::uint8_t adapter) {
    if (!ASPIInitialized()) return;
    HAInquiry = SRB_HAInquiry{};
    HAInquiry.SRB_Cmd = SC_HA_INQUIRY;
    HAInquiry.SRB_HaId = adapter;
    (void)SendASPI32Command(&HAInquiry);  // the outcome is SRB_Status
    AdapterCount = HAInquiry.SRB_Status == SS_COMP ? std::int8_t(HAInquiry.HA_Count) : std::int8_t(-1);
}

void TSCSIDevice::RescanDevices() {
    DeviceList.clear();
    if (!ASPIInitialized()) return;  // no transport: the list stays empty
    const auto savedAdapter = HostAdapter;
    const auto savedTarget = Target;
    const auto savedLun = Lun;
    Lun = 0;
    DebugMessage(">>> " + TransportLayerName(), kMsgInfo);
    if (const std::string note = SptiTakeExtraSourceNote(); !note.empty()) DebugMessage(note, kMsgInfo);
    for (const std::string& note : SptiScanNotes()) DebugMessage(note, kMsgError);
    const int adapters = AdapterCount < 0 ? 0 : AdapterCount;
    for (int adapter = 0; adapter < adapters; ++adapter) {
        HostAdapterInquiry(std::uint8_t(adapter));
        DebugMessage(AdapterLogLine(HAInquiry), kMsgInfo);
        for (int target = 0; target < 8; ++target) {
            for (int lun = 0; lun < 8; ++lun) {
                HostAdapter = std::uint8_t(adapter);
                Target = std::uint8_t(target);
                Lun = std::uint8_t(lun);
                InquiryData.fill(0);
                if (!Inquiry() || !IsCdOrDvdType(InquiryData[0])) continue;
                const std::string path = FindDriveLetter();
                std::string entry = std::to_string(adapter) + ":" + std::to_string(target) + ":" +
                                    std::to_string(lun) + "," +
                                    (path.empty() ? std::string(kMsgNoDriveNode) : path) + " ";
                entry.append(reinterpret_cast<const char*>(&InquiryData[8]), 28);
                if (InquiryData[0] == 4) entry += kMsgNotSupportedSuffix;
                DeviceList.push_back(std::move(entry));
            }
        }
    }
    HostAdapter = savedAdapter;
    Target = savedTarget;
    Lun = savedLun;
    LastError.clear();
}

std::string TSCSIDevice::FindDriveLetter() {
    std::string path = SptiDevicePath(HostAdapter, Target, Lun);
    if (!path.empty()) return path;
    SRB_GetDiskInfo info{};
    info.SRB_Cmd = SC_GET_DISK_INFO;
    info.SRB_HaId = HostAdapter;
    info.SRB_Target = Target;
    info.SRB_Lun = Lun;
    (void)SendASPI32Command(&info);  // the outcome is SRB_Status
    if (info.SRB_Status == SS_COMP && info.SRB_Int13HDriveInfo != 0xFF) {
        return "/dev/sr" + std::to_string(info.SRB_Int13HDriveInfo);
    }
    return "";
}

void TSCSIDevice::ResetSelection() {
    HostAdapter = Target = Lun = kNoDevice;
    DeviceId.clear();
    DeviceName.clear();
    DeviceType = kNoDeviceType;
}

void TSCSIDevice::SelectDevice(const std::string& entry) {
    if (entry.size() < 5) {
        if (!entry.empty()) DebugMessage(std::string(kMsgInvalidDeviceId), kMsgError);
        ResetSelection();
        return;
    }
    bool selected = false;
    try {
        auto digit = [&entry](std::size_t index) {
            const char c = entry[index];
            return (c >= '0' && c <= '9') ? c - '0' : -1;
        };
        const int adapter = digit(0);
        const int target = digit(2);
        const int lun = digit(4);
        if (adapter >= 0 && target >= 0 && lun >= 0) {
            HostAdapter = std::uint8_t(adapter);
            Target = std::uint8_t(target);
            Lun = std::uint8_t(lun);
            DeviceId = entry;
            ReadDeviceIdentity();
            // A device that does not answer INQUIRY is not selected, whatever an earlier answer left behind.
            if (m_identityRead && IsCdOrDvdType(InquiryData[0])) {
                ApplyQuirks();
                selected = true;
            }
        }
    } catch (...) {
        selected = false;  // the entry is refused below; nothing propagates to the caller
    }
    if (!selected) {
        DebugMessage(std::string(kMsgInvalidDeviceId), kMsgError);
        ResetSelection();
        return;
    }
    if (OnDeviceChange) OnDeviceChange(this);
}

void TSCSIDevice::ApplyQuirks() {
    const std::string product(reinterpret_cast<const char*>(&InquiryData[16]), 16);
    ModelCRX175E = Trim(product) == "CRX175E";
    ModelDVR103 = product == kDvr103Product;
}

void TSCSIDevice::ReadDeviceIdentity() {
    (void)ReadCapabilities();  // fills the capability fields; the identity does not depend on it
    m_identityRead = Inquiry();
    if (!m_identityRead) {
        DeviceName = LastError;
        return;
    }
    DeviceType = InquiryData[0];
    for (std::size_t i = 8; i <= 55; ++i) {
        if (InquiryData[i] < 0x20) InquiryData[i] = ' ';
    }
    const char* text = reinterpret_cast<const char*>(InquiryData.data());
    DeviceName =
        std::string(text + 8, 8) + " " + std::string(text + 16, 16) + " " + std::string(text + 32, 4);
}

bool TSCSIDevice::ReadCapabilitiesPage(bool defaultValues, std::size_t fallbackOffset,
                                       std::size_t& pageOffset, std::array<std::uint8_t, 255>& answer) {
    if (!ModeSense10(0x2A, defaultValues, 254, answer)) return false;
    pageOffset = ModePageOffset(answer, 0x2A, fallbackOffset);
    std::copy_n(answer.begin() + std::ptrdiff_t(pageOffset), kCapabilitiesCopySize, CapabilitiesPage.begin());
    return true;
}

bool TSCSIDevice::ReadCapabilities() {
    Capabilities = 0;
    DeviceMaxWriteSpeed = 0;
    DeviceMaxReadSpeed = 0;
    std::array<std::uint8_t, 255> answer{};
    std::size_t offset = 15;  // where the page is taken when the default values cannot be read
    if (ReadCapabilitiesPage(true, 8, offset, answer)) {
        const auto& page = CapabilitiesPage;
        static constexpr struct {
            std::size_t byte;
            std::uint8_t bit;
            std::uint16_t flag;
        } kBits[] = {
            {2, 0x01, kCapReadCdR},    {2, 0x02, kCapReadCdRw},    {2, 0x04, kCapReadMethod2},
            {2, 0x08, kCapReadDvdRom}, {2, 0x10, kCapReadDvdR},    {2, 0x20, kCapReadDvdRam},
            {3, 0x01, kCapWriteCdR},   {3, 0x02, kCapWriteCdRw},   {3, 0x04, kCapTestWrite},
            {3, 0x10, kCapWriteDvdR},  {3, 0x20, kCapWriteDvdRam}, {4, 0x80, kCapBufferUnderrunFree}};
        for (const auto& b : kBits) {
            if (page[b.byte] & b.bit) Capabilities |= b.flag;
        }
        if (ModelDVR103) Capabilities |= kCapBufferUnderrunFree;
        TReplyReader reader(page);
        const bool writesDvdRam = (page[3] & 0x20) != 0;
        const std::uint16_t maxWrite = reader.be16(18);
        const std::uint16_t maxRead = reader.be16(8);
        DeviceMaxWriteSpeed = maxWrite ? SpeedToX(maxWrite) : (writesDvdRam ? 1 : 0);
        DeviceMaxReadSpeed = maxRead ? SpeedToX(maxRead) : (writesDvdRam ? 1 : 0);
        DeviceBufferSize = reader.be16(12);
    }
    if (!ReadCapabilitiesPage(false, offset, offset, answer)) return false;
    const auto& page = CapabilitiesPage;
    TReplyReader reader(page);
    CurrentWriteSpeedKBps = reader.be16(20);
    MaxWriteSpeedKBps = reader.be16(18);
    if ((page[3] & 0x20) && CurrentWriteSpeedKBps == 0) {
        // An early DVD-RAM drive that reports no write speed at all: 1x is what the recording uses.
        CurrentWriteSpeedKBps = 177;
        MaxWriteSpeedKBps = std::max<std::uint16_t>(MaxWriteSpeedKBps, 177);
    }
    CurrentReadSpeedKBps = reader.be16(14);
    MaxReadSpeedKBps = reader.be16(8);
    BufferSizeKB = reader.be16(12);
    return true;
}

unsigned TSCSIDevice::GetCurrentWriteSpeed() {
    if (!ReadCapabilities()) return 0;
    return SpeedToX(CurrentWriteSpeedKBps);
}

unsigned TSCSIDevice::GetCurrentWriteSpeedFor(int discType) {
    if (!ReadCapabilities()) return 0;
    return SpeedInMediumUnits(CurrentWriteSpeedKBps, discType);
}

}  // namespace brenwick
