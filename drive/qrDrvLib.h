// The drive object TSCSIDevice: command execution with failure decoding and the log, drive enumeration
// and identification, the MMC command wrappers and the composite disc queries. The burner component
// (engine) derives from it. Its methods are spread over qrDrvLib_*.cpp by concern.
//
// Threads: one thread at a time sends commands through one drive object (the main thread, or the write
// or erase thread while it runs); LastError, LastSense and TargetBusy belong to that thread. DebugMessage
// may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/qrSenseData.h"
#include "base/qrTypes.h"
#include "drive/TAtipData.h"
#include "drive/TDebugWindow.h"
#include "drive/TDiscInfo.h"
#include "drive/TTrackInfo.h"
#include "drive/qrASPI.h"
#include "drive/qrConst.h"

namespace brenwick {

inline constexpr std::uint8_t kNoDevice = 254;
inline constexpr std::uint8_t kNoDeviceType = 0x7F;
inline constexpr std::size_t kTransferBufferSize = 63492;
inline constexpr std::size_t kParameterBufferSize = 498;
inline constexpr std::size_t kInquiryDataSize = 131;  // 128 answered + 3 spare
inline constexpr std::size_t kCapabilitiesCopySize = 22;
inline constexpr std::size_t kWriteParamsCopySize = 54;

// Capabilities bits (mode page 2Ah).
inline constexpr std::uint16_t kCapReadCdR = 0x0001;
inline constexpr std::uint16_t kCapReadCdRw = 0x0002;
inline constexpr std::uint16_t kCapReadMethod2 = 0x0004;
inline constexpr std::uint16_t kCapReadDvdRom = 0x0008;
inline constexpr std::uint16_t kCapReadDvdR = 0x0010;
inline constexpr std::uint16_t kCapReadDvdRam = 0x0020;
inline constexpr std::uint16_t kCapWriteCdR = 0x0040;
inline constexpr std::uint16_t kCapWriteCdRw = 0x0080;
inline constexpr std::uint16_t kCapTestWrite = 0x0100;
inline constexpr std::uint16_t kCapWriteDvdR = 0x0200;
inline constexpr std::uint16_t kCapWriteDvdRam = 0x0400;
inline constexpr std::uint16_t kCapBufferUnderrunFree = 0x1000;

// Disc type indices into DiscTypeNames.
// Whether a current profile is an overwritable disc (DVD-RAM, DVD-RW restricted overwrite, DVD+RW): one
// written at any address, whose backups start at sector 0.
[[nodiscard]] bool IsOverwritableProfile(std::uint16_t profile);

inline constexpr int kDiscUnknown = 0;
inline constexpr int kDiscCdRom = 1;
inline constexpr int kDiscCdR = 2;
inline constexpr int kDiscCdRw = 3;
inline constexpr int kDiscDvdRom = 4;
inline constexpr int kDiscDvdR = 5;
inline constexpr int kDiscDvdRam = 6;
inline constexpr int kDiscDvdRwRo = 7;
inline constexpr int kDiscDvdRwSr = 8;
inline constexpr int kDiscDvdPlusRw = 9;
inline constexpr int kDiscDvdPlusR = 13;
inline constexpr int kDiscDvdPlusRDl = 14;
inline constexpr int kDiscDvdRDl = 15;
inline constexpr int kDiscDvdPlusRwDl = 16;
inline constexpr int kDiscTypeCount = 17;

// How a disc type is recorded.
enum class TDiscGroup : std::uint8_t {
    CdAndOthers,      // CD media (and unknown discs): speed, write parameters, session closing
    DvdRam,           // DVD-RAM: no load, no speed, no write parameters, no closing
    DvdOverwritable,  // DVD+RW (DL), restricted-overwrite DVD-RW: written in place, no write parameters
    DvdMinusR,        // DVD-R, DVD-RW sequential, DVD-R DL: incremental (or disc-at-once) with borders
    DvdPlusR,         // DVD+R (DL): no write parameters; sessions closed or finalized by CLOSE SESSION
};
constexpr TDiscGroup DiscGroupOf(int discType) {
    switch (discType) {
        case kDiscDvdRam:
            return TDiscGroup::DvdRam;
        case kDiscDvdPlusRw:
        case kDiscDvdPlusRwDl:
        case kDiscDvdRwRo:
            return TDiscGroup::DvdOverwritable;
        case kDiscDvdR:
        case kDiscDvdRwSr:
        case kDiscDvdRDl:
            return TDiscGroup::DvdMinusR;
        case kDiscDvdPlusR:
        case kDiscDvdPlusRDl:
            return TDiscGroup::DvdPlusR;
        default:
            return TDiscGroup::CdAndOthers;
    }
}
// The recordable DVD media (every group but CD): streamed, speeds counted in DVD units (1,385 kB/s).
constexpr bool IsDvdRecordingFamily(int discType) {
    return DiscGroupOf(discType) != TDiscGroup::CdAndOthers;
}
// DVD media of any kind, DVD-ROM included: speeds in DVD units.
constexpr bool IsDvdDiscType(int discType) {
    return discType == kDiscDvdRom || IsDvdRecordingFamily(discType);
}
// The speed in "x" of the medium: kB/s over 1,385 on DVD, over 176.46 on CD; rounded.
unsigned SpeedInMediumUnits(std::uint32_t kBps, int discType);

// Text of a failed command (first step of the decoding). Sets `targetBusy` for target status BUSY.
std::string StatusText(std::uint8_t status, std::uint8_t hostStatus, std::uint8_t targetStatus,
                       bool& targetBusy);
// Text of the sense key of fixed-format sense data; "" when byte 0 is 0, "UNKNOWN" for other formats.
std::string SenseKeyText(std::span<const std::uint8_t, kSenseAreaSize> sense);
// Text of (ASC, ASCQ) = sense bytes 12 and 13, or the pair in decimal ("82,0") when not in the table.
std::string AdditionalSenseText(std::span<const std::uint8_t, kSenseAreaSize> sense);
// True when sense data (fixed or descriptor format) says the drive is on its way to ready: NOT READY with
// "in process of becoming ready" (04/01) or "operation in progress" (04/07), or a UNIT ATTENTION such as a
// medium change. "Medium not present" and every other answer are false: waiting does not change them.
bool IsBecomingReady(std::span<const std::uint8_t, kSenseAreaSize> sense);
// The one-line record of a failed command (without LastError's own decoding).
std::string FailureLine(const TSrbExec& srb, const std::string& lastError);

// The log line of one host adapter: ">>> " + manager (cut at its first zero byte) + " (" + identifier (cut at
// its first zero byte, trimmed of blanks) + ")".
std::string AdapterLogLine(const SRB_HAInquiry& inquiry);

// The 28-byte SET STREAMING performance descriptor sent for the DVD recording family.
std::array<std::uint8_t, 28> StreamingDescriptor();
// "yyyymmddhhnnss" of a date-time.
std::string TimeStampDigits(TDateTime time);
// kB/s to x (1x = 176.46 kB/s), rounded to the nearest integer, halves to even.
std::uint16_t SpeedToX(std::uint32_t kBps);
// Offset of a mode page in a MODE SENSE (10) answer: 16, 8 or 7 when that byte (PS bit masked off) holds
// the page code, else `fallback`.
std::size_t ModePageOffset(std::span<const std::uint8_t> answer, std::uint8_t pageCode, std::size_t fallback);

class TSCSIDevice : public TObject {
  public:
    TSCSIDevice();
    ~TSCSIDevice() override;
    TSCSIDevice(const TSCSIDevice&) = delete;
    TSCSIDevice& operator=(const TSCSIDevice&) = delete;

    // ---- Command execution (qrDrvLib_exec.cpp) ----

    // Sends `srb` to the selected device and waits for it. Returns SS_REFUSED (E2h) without sending when
    // there is no transport or no selected device, else 1; the outcome is SRB_Status (01h success).
    int ExecuteCommand(TSrbExec& srb, unsigned timeoutMs);

    // Adds a line to DebugWindow, then calls OnDebugMessage. Safe from any thread, provided DebugWindow
    // and OnDebugMessage are set before other threads run.
    void DebugMessage(const std::string& text, std::uint8_t mType);

    bool ASPIInitialized() const { return brenwick::ASPIInitialized(); }

    // ---- Enumeration and identification (qrDrvLib_enum.cpp) ----
    void HostAdapterInquiry(std::uint8_t adapter);
    void RescanDevices();
    void SelectDevice(const std::string& entry);
    void ReadDeviceIdentity();
    bool ReadCapabilities();
    // The device path of the selected device, or "" when there is none.
    std::string FindDriveLetter();
    // The current write speed in x, 0 on failure.
    unsigned GetCurrentWriteSpeed();
    // The current write speed in the unit of the medium of `discType` (DVD: 1,385 kB/s; CD: 176.46 kB/s);
    // 0 when the drive does not report it.
    unsigned GetCurrentWriteSpeedFor(int discType);

    // ---- MMC wrappers (qrDrvLib_mmc.cpp); each returns true on success ----
    bool TestUnitReady(unsigned timeoutMs);
    bool Inquiry();
    // MODE SENSE (10) of `page` into `destination` (zeroed first; at most its size is copied).
    [[nodiscard]] bool ModeSense10(std::uint8_t page, bool defaultValues, std::uint8_t allocation,
                                   std::span<std::uint8_t> destination);
    [[nodiscard]] bool ModeSelect10(std::span<const std::uint8_t> data);
    [[nodiscard]] bool GetConfiguration(std::uint8_t requestType, std::uint16_t startingFeature,
                                        std::uint8_t allocation, std::span<std::uint8_t> buffer);
    bool SetStreaming(std::span<const std::uint8_t> descriptor);
    // FORMAT UNIT with a parameter list (header and one format descriptor).
    bool FormatUnit(std::span<const std::uint8_t> parameterList);
    bool SendDvdStructure(std::uint8_t format, std::span<const std::uint8_t> data);
    [[nodiscard]] bool ReadDvdStructure(std::span<std::uint8_t> buffer);
    [[nodiscard]] bool ReadCapacity(std::uint32_t& lastBlock, std::uint32_t& blockLength);
    bool ReserveTrack(std::uint32_t blocks);
    // WRITE (10) of `blockCount` (at most 255) blocks. True on status 01h or 00h, never for a command
    // that was refused or not sent.
    [[nodiscard]] bool Write10(std::uint32_t address, unsigned blockCount, std::uint8_t flags,
                               std::uint32_t byteLength, const std::uint8_t* buffer);
    [[nodiscard]] bool Read10(std::uint32_t address, std::uint16_t blockCount, std::uint32_t byteLength,
                              std::uint8_t* buffer);
    bool SynchronizeCache(unsigned timeoutMs);
    // Speeds in x (sent as x times 177 kB/s); 0 asks for the maximum.
    bool SetCdSpeed(unsigned readX, unsigned writeX);
    [[nodiscard]] bool ReadBufferCapacity(std::uint32_t& bufferLength, std::uint32_t& blankLength);
    [[nodiscard]] bool ReadFormatCapacities(std::uint32_t& blocks, std::uint32_t& blockLength);
    [[nodiscard]] bool ReadTrackInformation(std::uint32_t track);
    [[nodiscard]] bool ReadDiscInformation();
    [[nodiscard]] bool ReadToc(std::uint8_t format, std::span<std::uint8_t> buffer, bool msf,
                               std::uint8_t trackOrSession, std::uint8_t allocation, std::uint8_t control);
    bool SendOpcInformation();
    bool CloseSession();
    // CLOSE TRACK/SESSION with a close function (1 track, 2 session, 5 finalize a DVD+R) and track number.
    bool CloseTrackSession(std::uint8_t function, std::uint16_t track);
    bool StartStopUnit(bool eject);
    bool PreventAllowRemoval(bool allow);

    // ---- Composite operations (qrDrvLib_disc.cpp) ----
    bool WaitReady(int budgetMs, int stepMs);
    int GetDiscType();
    int GetSessionCount();
    std::uint32_t GetUsedSectors();
    // The free sectors for a backup: the invisible track's free blocks, or the whole disc when it is
    // overwritable (written from sector 0).
    std::uint32_t GetFreeSectors();
    // The current profile (GET CONFIGURATION bytes 6-7), 0 when it cannot be read.
    std::uint16_t GetCurrentProfile();
    // Whether the drive can record the loaded disc incrementally: feature 0021h (Incremental Streaming
    // Writable) is current. A DVD-RW after a minimal blank loses it.
    bool CanRecordIncrementally();
    // Write parameters of an incremental DVD-R/-RW recording: write type 0 with link size 16, fixed
    // packets of 16 blocks; multi-session 11b (next session allowed) unless the disc is to be finalized.
    bool SetIncrementalWriteParameters(bool testWrite, bool finalize);
    // The volume space size of the ISO 9660 volume recorded at sector 16 of the disc; 0 when there is none.
    std::uint32_t RecordedVolumeSectors();
    std::uint32_t GetDiscCapacity();
    bool IsDiscErasable();
    // A DVD+RW that was never formatted: the disc reads as blank and takes no write until it is formatted.
    bool IsUnformattedDvdPlusRw();
    bool SendDvdTimeStamp(TDateTime time);
    // The write parameters page for a recording; `finalize` is not used, FinalizeDisc is read instead.
    [[nodiscard]] bool SetWriteParameters(bool testWrite, bool underrunProtection, int discType,
                                          bool finalize);

    // ---- Fields ----
    // Selected device: 254 in all three when none.
    std::uint8_t HostAdapter = kNoDevice;
    std::uint8_t Target = kNoDevice;
    std::uint8_t Lun = kNoDevice;
    // Outcome of the last command (valid for the thread that sent it).
    std::string LastError;
    std::array<std::uint8_t, kSenseAreaSize> LastSense{};
    bool DriveLost = false;  // the last command failed because the drive is gone (selection time-out)
    TSense LastSenseValue;   // LastSense parsed once where the command failed; empty after success
    bool TargetBusy = false;
    // The failure line of the last failed command (written to the log or not); "" after success.
    std::string LastFailureLine;
    // Set by a caller that retries a command while the drive is busy (the write thread's WRITE): its
    // failures are not logged by ExecuteCommand; the caller logs the stall once and the failure line of
    // a retry that finally fails (LastFailureLine). Only that caller's thread sends commands meanwhile.
    std::atomic<bool> QuietFailures{false};
    // Set by a caller around optional commands whose refusal it ignores by design (the DVD preparation
    // steps): their failures are treated as those of the probing commands.
    std::atomic<bool> Probing{false};
    // Also log the failures of the probing commands (their failures are expected and otherwise kept out).
    std::atomic<bool> LogProbingFailures{false};

    TDebugWindow* DebugWindow = nullptr;
    TOnDebugMsg OnDebugMessage;
    TNotifyEvent OnDeviceChange;

    std::int8_t AdapterCount = 0;
    SRB_HAInquiry HAInquiry{};
    std::vector<std::string> DeviceList;
    std::string DeviceId;
    std::array<std::uint8_t, kInquiryDataSize> InquiryData{};
    std::uint8_t DeviceType = kNoDeviceType;
    std::string DeviceName;
    std::uint16_t Capabilities = 0;
    // The first 22 bytes of mode page 2Ah as received; its 16-bit fields in host order are the *KBps and
    // BufferSizeKB fields below.
    std::array<std::uint8_t, kCapabilitiesCopySize> CapabilitiesPage{};
    std::uint16_t DeviceMaxWriteSpeed = 0;
    std::uint16_t DeviceMaxReadSpeed = 0;
    // Written by the write thread, polled by the user-interface timer: each read and write is atomic.
    std::atomic<std::uint32_t> DeviceBufferSize{0};
    std::atomic<std::uint32_t> DeviceFreeBufferSize{0};
    bool ModelCRX175E = false;
    bool ModelDVR103 = false;
    // Kept speeds of the capabilities page (kB/s, host order).
    std::uint16_t CurrentWriteSpeedKBps = 0;
    std::uint16_t MaxWriteSpeedKBps = 0;
    std::uint16_t CurrentReadSpeedKBps = 0;
    std::uint16_t MaxReadSpeedKBps = 0;
    std::uint16_t BufferSizeKB = 0;

    TTrackInfo TrackInfo;
    TDiscInfo DiscInfo;
    TAtipData AtipData;

    std::atomic<bool> Erasing{false};
    bool DoDebug = true;
    // Published by the burner: whether a recording closes the disc (read by SetWriteParameters).
    bool FinalizeDisc = false;

    // Hooks: the application's beep (odd transfer lengths), and the waits, injectable for tests.
    std::function<void()> BeepHook;
    std::function<void(unsigned ms)> SleepHook;
    // Waits for a pending command's event; true when it completed within the time-out.
    std::function<bool(TSrbEvent& event, unsigned timeoutMs)> CompletionWaitHook;

  protected:
    // Builds the common part of a wrapper's request: zeroed block, flags, CDB length, sense length 32.
    TSrbExec NewRequest(std::uint8_t flags, std::uint8_t cdbLength, std::span<std::uint8_t> data);
    bool Succeeded(const TSrbExec& srb) const { return srb.Srb.SRB_Status == SS_COMP; }
    void Sleep(unsigned ms);

    std::vector<std::uint8_t> m_transfer;   // MODE SENSE / MODE SELECT / READ DVD STRUCTURE
    std::vector<std::uint8_t> m_parameter;  // READ CAPACITY, RESERVE TRACK, buffer capacity, streaming, stamp
    std::array<std::uint8_t, kWriteParamsCopySize> m_writeParams{};
    bool m_identityRead = false;  // the last ReadDeviceIdentity got an INQUIRY answer

  private:
    void DecodeFailure(TSrbExec& srb);
    void ApplyQuirks();
    void ResetSelection();
    std::uint32_t overwritableSectors();
    bool ReadCapabilitiesPage(bool defaultValues, std::size_t fallbackOffset, std::size_t& pageOffset,
                              std::array<std::uint8_t, 255>& answer);
};

}  // namespace brenwick
