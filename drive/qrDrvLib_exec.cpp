// TSCSIDevice: construction, ExecuteCommand with failure decoding, and the log.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "drive/TSrbEvent.h"
#include "drive/qrDrvLib.h"

namespace brenwick {
namespace {

// Commands whose failure is expected while probing a drive or a disc: no failure line for them.
bool IsProbingCommand(std::uint8_t opcode) {
    switch (opcode) {
        case 0x00:
        case 0x01:
        case 0x12:
        case 0x23:
        case 0x43:
        case 0x46:
        case 0x51:
        case 0x52:
        case 0x5C:
            return true;
        default:
            return false;
    }
}

}  // namespace

TSCSIDevice::TSCSIDevice() : m_transfer(kTransferBufferSize, 0), m_parameter(kParameterBufferSize, 0) {
    if (ASPIInitialized()) {
        HostAdapterInquiry(0);
        RescanDevices();
    }
}

TSCSIDevice::~TSCSIDevice() = default;

void TSCSIDevice::DebugMessage(const std::string& text, std::uint8_t mType) {
    if (DebugWindow != nullptr) DebugWindow->AddLine(text);
    if (OnDebugMessage) OnDebugMessage(this, text, mType);
}

void TSCSIDevice::Sleep(unsigned ms) {
    if (SleepHook) {
        SleepHook(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

int TSCSIDevice::ExecuteCommand(TSrbExec& exec, unsigned timeoutMs) {
    LastError.clear();
    TargetBusy = false;
    LastSense.fill(0);
    LastSenseValue = TSense();
    DriveLost = false;
    LastFailureLine.clear();
    if (!ASPIInitialized() || HostAdapter == kNoDevice) return SS_REFUSED;

    auto& srb = exec.Srb;
    TSrbEvent event;
    const bool useEvent = (srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0;
    if (useEvent) {
        event.Reset();
        exec.PostProc = &event;
        srb.SRB_PostProc = std::uint32_t(reinterpret_cast<std::uintptr_t>(&event)) | 1u;
    } else {
        exec.PostProc = nullptr;
        srb.SRB_PostProc = 0;
    }
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = HostAdapter;
    srb.SRB_Target = Target;
    srb.SRB_Lun = Lun;
    timeoutMs = std::max(timeoutMs, 10000u);
    exec.TimeoutMs = timeoutMs;
    if (srb.SRB_BufLen & 1) {
        if (BeepHook) BeepHook();  // odd transfers are unusual for MMC; the command is still sent
    }
    srb.CDBByte[1] = std::uint8_t((srb.CDBByte[1] & 0x1F) | ((Lun & 7) << 5));
    exec.TransportNote[0] = '\0';

    // A provider that completes later returns "pending" and then owns the block until it signals the event,
    // so the block's status is read again only after the wait.
    const std::uint32_t sent = SendASPI32Command(&exec);
    if (exec.TransportNote[0] != '\0') DebugMessage(exec.TransportNote, kMsgError);

    if (useEvent && (sent & 0xFF) == SS_PENDING) {
        if (CompletionWaitHook) {
            (void)CompletionWaitHook(event, timeoutMs);
        } else {
            (void)event.Wait(timeoutMs);
        }
    }
    if (srb.SRB_Status != SS_PENDING && srb.SRB_Status != SS_COMP) {
        DecodeFailure(exec);
        LastFailureLine = FailureLine(exec, LastError);
        const bool probe = Probing.load() || IsProbingCommand(srb.CDBByte[0]);
        const bool logged = LogProbingFailures.load() || !probe;
        if (logged && !QuietFailures.load()) DebugMessage(LastFailureLine, kMsgError);
    }
    if (srb.SRB_Status == SS_PENDING) {
        // Timed out: ask the provider to abort; its answer changes nothing here.
        TSrbAbort abort;
        abort.Srb.SRB_Cmd = SC_ABORT_SRB;
        abort.Srb.SRB_HaId = HostAdapter;
        abort.Srb.SRB_ToAbort = std::uint32_t(reinterpret_cast<std::uintptr_t>(&exec));
        abort.ToAbort = &exec;
        (void)SendASPI32Command(&abort);
        srb.SRB_Status = SS_ERR;
        srb.SRB_HaStat = HASTAT_TIMEOUT;
    }
    exec.PostProc = nullptr;  // the event dies with this call
    return 1;
}

void TSCSIDevice::DecodeFailure(TSrbExec& exec) {
    const auto& srb = exec.Srb;
    bool busy = false;
    std::string text = StatusText(srb.SRB_Status, srb.SRB_HaStat, srb.SRB_TargStat, busy);
    TargetBusy = busy;
    DriveLost = srb.SRB_HaStat == HASTAT_SEL_TO;
    const std::span<const std::uint8_t, kSenseAreaSize> sense(srb.SenseArea);
    if (text == kMsgCheckCondition) {
        std::string keyText = SenseKeyText(sense);
        // A failure must never read as success: without any sense data the base text stays.
        if (!keyText.empty()) text = std::move(keyText);
    }
    LastError = std::move(text);
    const std::string additional = AdditionalSenseText(sense);
    std::copy(std::begin(srb.SenseArea), std::end(srb.SenseArea), LastSense.begin());
    LastSenseValue = TSense::Parse(LastSense);
    if (srb.SenseArea[7] != 0) LastError += " (" + additional + ")";
}

TSrbExec TSCSIDevice::NewRequest(std::uint8_t flags, std::uint8_t cdbLength, std::span<std::uint8_t> data) {
    TSrbExec exec;
    exec.Srb.SRB_Flags = flags;
    exec.Srb.SRB_SenseLen = kSenseLen;
    exec.Srb.SRB_CDBLen = cdbLength;
    exec.Srb.SRB_BufLen = std::uint32_t(data.size());
    exec.BufPointer = data.empty() ? nullptr : data.data();
    exec.Srb.SRB_BufPointer = std::uint32_t(reinterpret_cast<std::uintptr_t>(exec.BufPointer));
    return exec;
}

}  // namespace brenwick
