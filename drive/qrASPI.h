// The SCSI transport: the ASPI request blocks (byte-exact layouts), the ordered list of providers and the
// process-wide transport state. The rest of the drive layer only builds request blocks and reads their
// results; it never knows which provider carries them. The pass-through emulation is in drive/qrSPTI.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace brenwick {

// ---- SRB command codes, flags and status values ----
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_ABORT_SRB = 0x03;
inline constexpr std::uint8_t SC_GET_DISK_INFO = 0x06;

inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ABORT_FAIL = 0x03;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_INVALID_CMD = 0x80;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
inline constexpr std::uint8_t SS_BUFFER_ALIGN = 0xE1;
inline constexpr std::uint8_t SS_REFUSED = 0xE2;  // ExecuteCommand's result for a command it did not send
inline constexpr std::uint8_t SS_ASPI_IS_BUSY = 0xE5;
inline constexpr std::uint8_t SS_BUFFER_TOO_BIG = 0xE6;
inline constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;

// Host adapter status values read by the failure decoding.
inline constexpr std::uint8_t HASTAT_OK = 0x00;
inline constexpr std::uint8_t HASTAT_TIMEOUT = 0x09;
inline constexpr std::uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;
inline constexpr std::uint8_t HASTAT_MESSAGE_REJECT = 0x0D;
inline constexpr std::uint8_t HASTAT_BUS_RESET = 0x0E;
inline constexpr std::uint8_t HASTAT_PARITY_ERROR = 0x0F;
inline constexpr std::uint8_t HASTAT_REQUEST_SENSE_FAILED = 0x10;
inline constexpr std::uint8_t HASTAT_SEL_TO = 0x11;
inline constexpr std::uint8_t HASTAT_DO_DU = 0x12;
inline constexpr std::uint8_t HASTAT_BUS_FREE = 0x13;

inline constexpr std::size_t kSenseAreaSize = 33;
inline constexpr std::uint8_t kSenseLen = 32;  // SRB_SenseLen that every command carries

// ---- Request blocks (ASPI for Win32 layouts; multi-byte fields little-endian) ----
// The 32-bit pointer fields of the layouts cannot hold a 64-bit host pointer: they keep their offsets and
// carry the pointer's low 32 bits for the record only, and the host pointer travels beside the block.
#pragma pack(push, 1)
struct SRB_Header {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t HA_Count;
    std::uint8_t HA_SCSI_ID;
    std::uint8_t HA_ManagerId[16];
    std::uint8_t HA_Identifier[16];
    std::uint8_t HA_Unique[16];
    std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint8_t SRB_DeviceType;
    std::uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint16_t SRB_Rsvd1;
    std::uint32_t SRB_BufLen;
    std::uint32_t SRB_BufPointer;  // low 32 bits of TSrbExec::BufPointer, for the record
    std::uint8_t SRB_SenseLen;
    std::uint8_t SRB_CDBLen;
    std::uint8_t SRB_HaStat;
    std::uint8_t SRB_TargStat;
    std::uint32_t SRB_PostProc;  // non-zero when an event is attached (TSrbExec::PostProc)
    std::uint8_t SRB_Rsvd2[20];
    std::uint8_t CDBByte[16];
    std::uint8_t SenseArea[kSenseAreaSize];
};

struct SRB_Abort {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint32_t SRB_ToAbort;  // low 32 bits of TSrbAbort::ToAbort, for the record
};

struct SRB_GetDiskInfo {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint8_t SRB_DriveFlags;
    std::uint8_t SRB_Int13HDriveInfo;
    std::uint8_t SRB_Heads;
    std::uint8_t SRB_Sectors;
    std::uint8_t SRB_Rsvd1[10];
};
#pragma pack(pop)

static_assert(sizeof(SRB_Header) == 8);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8 && offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10 && offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42 && offsetof(SRB_HAInquiry, HA_Rsvd1) == 58);
static_assert(sizeof(SRB_GDEVBlock) == 12 && offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(sizeof(SRB_ExecSCSICmd) == 97);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8 && offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12 && offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20 && offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22 && offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24 && offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48 && offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_Abort) == 12 && offsetof(SRB_Abort, SRB_ToAbort) == 8);
static_assert(sizeof(SRB_GetDiskInfo) == 24 && offsetof(SRB_GetDiskInfo, SRB_Int13HDriveInfo) == 11);

class TSrbEvent;

// An execute request as the drive layer hands it to the transport: the 97-byte block in its published layout,
// and beside it what a 64-bit host cannot keep in the block (the data buffer, the event) plus the
// command's time-out, which the pass-through uses so that the kernel never aborts a long command early.
struct TSrbExec {
    SRB_ExecSCSICmd Srb{};
    std::uint8_t* BufPointer = nullptr;  // SRB_BufLen bytes; data in or out per SRB_Flags
    TSrbEvent* PostProc = nullptr;       // signalled by a provider that completes after returning
    unsigned TimeoutMs = 10000;
    char TransportNote[160] = {};  // a log line the provider asks the caller to write (or empty)
};
static_assert(std::is_standard_layout_v<TSrbExec>);

struct TSrbAbort {
    SRB_Abort Srb{};
    TSrbExec* ToAbort = nullptr;
};
static_assert(std::is_standard_layout_v<TSrbAbort>);

// ---- Providers and the process-wide transport state ----

// Support info: bits 0-7 adapter count, bits 8-15 status.
using TSupportInfoFn = std::function<std::uint32_t()>;
// Send command: takes a request block by address: for command 2 a TSrbExec*, for command 3 a TSrbAbort*,
// otherwise the plain block (SRB_HAInquiry*, SRB_GDEVBlock*, SRB_GetDiskInfo*). The provider reads the
// command code from the first byte, fills the status fields and returns the SRB status.
using TSendCommandFn = std::function<std::uint32_t(void* srb)>;

struct TTransportProvider {
    std::string layerName;
    std::function<bool()> load;  // true when the provider is usable (for the emulation: a drive was found)
    TSupportInfoFn supportInfo;
    TSendCommandFn sendCommand;
};

// The providers in the order LoadTransport tries them. On Linux the list holds the pass-through emulation.
std::vector<TTransportProvider> DefaultTransportProviders();

// Replaces the provider list (tests); an empty list restores the default one.
void SetTransportProviders(std::vector<TTransportProvider> providers);

// Picks the first provider that loads; returns the new value of ASPIInitialized. Once loaded, further
// calls return true at once (the scan runs once per process).
bool LoadTransport();

bool ASPIInitialized();
const std::string& TransportLayerName();  // "" until loaded

// The provider's entry points; without a provider they answer "no adapters" and "invalid SRB".
std::uint32_t GetASPI32SupportInfo();
std::uint32_t SendASPI32Command(void* srb);

// Shutdown: releases the provider and closes the emulation's drives. Also the reset for tests: afterwards
// the transport is unloaded, the emulation's table is empty and the default providers are back.
void ShutdownTransport();

}  // namespace brenwick
