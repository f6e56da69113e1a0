// The pass-through emulation: drive table, scan, and the two ASPI entry points over SG_IO, with the image
// recorders as one more adapter after the kernel's drives.
#include "drive/qrSPTI.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "drive/qrConst.h"

#ifdef BRENWICK_HAVE_RECORDER
#include "drive/recorder/ImageRecorderSet.h"
#endif

namespace brenwick {
namespace {

// The 16-byte HA_ManagerId text of every emulated adapter.
constexpr char kManagerId[] = "BRENWICK SG_IO";
constexpr char kIdentifier[] = "SPTI  ";

// Linux DID_* host codes mapped to the host adapter status values the failure decoding knows.
std::uint8_t MapHostStatus(std::uint16_t didCode) {
    switch (didCode) {
        case 0x00:
            return HASTAT_OK;
        case 0x01:
            return HASTAT_SEL_TO;  // DID_NO_CONNECT
        case 0x03:
            return HASTAT_TIMEOUT;  // DID_TIME_OUT
        case 0x04:
            return HASTAT_SEL_TO;  // DID_BAD_TARGET
        case 0x06:
            return HASTAT_PARITY_ERROR;
        case 0x08:
            return HASTAT_BUS_RESET;
        default:
            return 0xFF;  // decodes as UNKNOWN
    }
}

struct TSptiState {
    std::vector<TSptiDrive> table;
    std::uint8_t adapterCount = 0;
    bool scanned = false;
    std::shared_ptr<TSgOs> os;
    TExtraTargetSource extraSource;
    std::string extraError;
    std::string extraNote;               // a log line of the default source's last scan, until it is taken
    std::vector<std::string> scanNotes;  // drives the scan could not open for lack of permission
};

TSptiState& State() {
    static TSptiState state;
    return state;
}

TSgOs& Os() {
    auto& state = State();
    if (!state.os) state.os = MakeLinuxSgOs();
    return *state.os;
}

std::vector<std::shared_ptr<TScsiTarget>> DefaultExtraTargets(std::string& error) {
#ifdef BRENWICK_HAVE_RECORDER
    return OpenImageRecorders(DefaultRecordersFolder(), error, &State().extraNote);
#else
    error.clear();
    return {};
#endif
}

int OpenDriveDevice(const std::string& path, int& error) {
    int fd = Os().Open(path, true, error);
    if (fd < 0) fd = Os().Open(path, false, error);
    return fd;
}

std::string NoPermissionLine(const std::string& path) {
    char line[160];
    std::snprintf(line, sizeof line, kMsgNoPermissionFmt, path.c_str());
    return line;
}

// INQUIRY through the pass-through at scan time; the address read only when the ioctl itself succeeded.
// A drive the user may not open is not left out silently: the scan keeps a log line for it.
void ProbeSptiDrive(int index, TSptiDrive& entry) {
    int error = 0;
    const std::string path = "/dev/sr" + std::to_string(index);
    const int fd = OpenDriveDevice(path, error);
    if (fd < 0) {
        if (error == EACCES || error == EPERM) State().scanNotes.push_back(NoPermissionLine(path));
        return;
    }
    const std::uint8_t cdb[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
    std::vector<std::uint8_t> buffer(1025, 0);
    std::uint8_t sense[32] = {};
    TSgIo io;
    io.cdb = cdb;
    io.direction = TDataDirection::In;
    io.data = buffer.data();
    io.dataLength = 96;
    io.sense = sense;
    io.senseCapacity = 24;
    io.timeoutMs = 120000;
    if (Os().SgIo(fd, io) == 0) {
        std::copy_n(buffer.begin(), kStoredInquiry, entry.inquiry.begin());
        TScsiAddress address;
        if (Os().GetAddress(fd, address) == 0) {
            entry.valid = 1;
            entry.kernel = address;
            entry.driveIndex = std::uint8_t(index);
            entry.path = path;
            entry.handle = -1;
        }
    }
    Os().Close(fd);
}

// Adapters numbered compactly by (host, channel); targets and LUNs of 8 or more take the lowest free
// number below 8, so that every entry stays selectable by single digits.
void NumberKernelDrives(std::vector<TSptiDrive>& table) {
    std::map<std::pair<int, int>, int> adapters;
    for (const auto& entry : table) {
        if (entry.valid) adapters.emplace(std::make_pair(entry.kernel.host, entry.kernel.channel), 0);
    }
    int next = 0;
    for (auto& [key, number] : adapters) number = next++;
    auto taken = [&table](int port, int target, int lun) {
        return std::any_of(table.begin(), table.end(), [&](const TSptiDrive& e) {
            return e.valid == 2 && e.port == port && e.target == target && (lun < 0 || e.lun == lun);
        });
    };
    // valid == 2 marks an entry already numbered in this pass; reset to 1 afterwards.
    for (int pass = 0; pass < 2; ++pass) {
        for (auto& entry : table) {
            if (entry.valid != 1) continue;
            const bool small = entry.kernel.target < 8 && entry.kernel.lun < 8;
            if ((pass == 0) != small) continue;
            const int port = adapters[{entry.kernel.host, entry.kernel.channel}];
            int target = entry.kernel.target;
            int lun = entry.kernel.lun;
            if (target >= 8) {
                target = -1;
                for (int t = 0; t < 8 && target < 0; ++t) {
                    if (!taken(port, t, -1)) target = t;
                }
            }
            if (target >= 0 && lun >= 8) {
                lun = -1;
                for (int l = 0; l < 8 && lun < 0; ++l) {
                    if (!taken(port, target, l)) lun = l;
                }
            }
            if (target < 0 || lun < 0) {
                entry.valid = 0;  // no free address left below 8 on this adapter
                continue;
            }
            entry.port = std::uint8_t(port);
            entry.target = std::uint8_t(target);
            entry.lun = std::uint8_t(lun);
            entry.valid = 2;
        }
    }
    for (auto& entry : table) {
        if (entry.valid == 2) entry.valid = 1;
    }
}

void AddExtraTargets(TSptiState& state, std::uint8_t port) {
    auto source = state.extraSource ? state.extraSource : TExtraTargetSource(DefaultExtraTargets);
    state.extraError.clear();
    state.extraNote.clear();
    auto targets = source(state.extraError);
    const std::size_t count = std::min<std::size_t>(targets.size(), kSptiMaxExtraTargets);
    for (std::size_t i = 0; i < count; ++i) {
        if (!targets[i]) continue;
        TSptiDrive entry;
        entry.port = port;
        entry.target = std::uint8_t(i);
        entry.lun = 0;
        entry.extra = targets[i];
        const std::uint8_t cdb[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
        std::array<std::uint8_t, 96> answer{};
        TScsiRequest request{cdb, TDataDirection::In, answer, 120000};
        const TScsiResult result = entry.extra->Execute(request);
        if (!result.ok()) continue;
        std::copy_n(answer.begin(), kStoredInquiry, entry.inquiry.begin());
        entry.valid = 1;
        state.table.push_back(std::move(entry));
    }
}

TSptiDrive* FindEntry(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    for (auto& entry : State().table) {
        if (entry.valid && entry.port == adapter && entry.target == target && entry.lun == lun) return &entry;
    }
    return nullptr;
}

void SetNote(TSrbExec& exec, const std::string& text) {
    std::snprintf(exec.TransportNote, sizeof exec.TransportNote, "%s", text.c_str());
}

// An errno from open or SG_IO as a failed command: a vanished drive reads as a selection time-out, a
// refused one too, with its log line once per device.
void FailFromErrno(TSrbExec& exec, TSptiDrive& entry, int error) {
    auto& srb = exec.Srb;
    srb.SRB_Status = SS_ERR;
    srb.SRB_TargStat = 0;
    if (error == ENODEV || error == ENXIO || error == ENOENT) {
        srb.SRB_HaStat = HASTAT_SEL_TO;
    } else if (error == EACCES || error == EPERM) {
        srb.SRB_HaStat = HASTAT_SEL_TO;
        if (!entry.permissionLogged) {
            entry.permissionLogged = true;
            SetNote(exec, NoPermissionLine(entry.path));
        }
    }
}

TDataDirection DirectionOf(std::uint8_t flags) {
    if (flags & SRB_DIR_IN) return TDataDirection::In;
    if (flags & SRB_DIR_OUT) return TDataDirection::Out;
    return TDataDirection::None;
}

void ExecuteOnExtra(TSrbExec& exec, TSptiDrive& entry) {
    auto& srb = exec.Srb;
    const std::size_t cdbLength = std::min<std::size_t>(srb.SRB_CDBLen, sizeof srb.CDBByte);
    TScsiRequest request;
    request.cdb = std::span<const std::uint8_t>(srb.CDBByte, cdbLength);
    request.direction = DirectionOf(srb.SRB_Flags);
    request.data = std::span<std::uint8_t>(exec.BufPointer, srb.SRB_BufLen);
    request.timeoutMs = exec.TimeoutMs;
    const TScsiResult result = entry.extra->Execute(request);
    if (result.ok()) {
        srb.SRB_Status = SS_COMP;
        return;
    }
    srb.SRB_Status = SS_ERR;
    srb.SRB_TargStat = result.status;
    srb.SRB_HaStat = result.hostStatus;
    const std::size_t senseCount =
        std::min<std::size_t>({result.senseLength, result.sense.size(), kSenseLen});
    std::copy_n(result.sense.begin(), senseCount, srb.SenseArea);
}

void ExecuteOnKernel(TSrbExec& exec, TSptiDrive& entry) {
    auto& srb = exec.Srb;
    int error = 0;
    if (entry.handle < 0) entry.handle = OpenDriveDevice(entry.path, error);
    if (entry.handle < 0) {
        // A pass-through on an invalid handle ends as a failed command with 32 zero sense bytes.
        std::fill_n(srb.SenseArea, kSenseLen, 0);
        FailFromErrno(exec, entry, error);
        return;
    }
    std::uint8_t sense[kSenseLen] = {};
    TSgIo io;
    io.cdb = std::span<const std::uint8_t>(srb.CDBByte, std::min<std::size_t>(srb.SRB_CDBLen, 16));
    io.direction = DirectionOf(srb.SRB_Flags);
    io.data = exec.BufPointer;
    io.dataLength = srb.SRB_BufLen;
    io.sense = sense;
    io.senseCapacity = std::min<std::uint8_t>(srb.SRB_SenseLen, kSenseLen);
    // Never shorter than the command's own time-out: the kernel resets a drive whose SG_IO times out.
    io.timeoutMs = std::max(120000u, exec.TimeoutMs);
    const int rc = Os().SgIo(entry.handle, io);
    if (rc != 0) {
        FailFromErrno(exec, entry, rc);
    } else {
        const bool driverError = (io.driverStatus & ~0x08) != 0;
        const bool senseOk = io.senseWritten == 0 || io.senseWritten == kSenseLen;
        if (io.status == 0 && io.hostStatus == 0 && !driverError && senseOk) {
            srb.SRB_Status = SS_COMP;
        } else {
            srb.SRB_Status = SS_ERR;
            const std::size_t count = std::min<std::size_t>(io.senseWritten, kSenseLen);
            std::copy_n(sense, count, srb.SenseArea);
            srb.SRB_TargStat = io.status;
            srb.SRB_HaStat = MapHostStatus(io.hostStatus);
        }
    }
    if (!entry.held) {
        Os().Close(entry.handle);
        entry.handle = -1;
    }
}

std::uint32_t ExecScsiCommand(TSrbExec& exec) {
    auto& srb = exec.Srb;
    auto* entry = FindEntry(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    if (entry == nullptr) {
        srb.SRB_Status = SS_NO_DEVICE;
        return srb.SRB_Status;
    }
    if (srb.SRB_BufLen != 0 && exec.BufPointer == nullptr) {
        srb.SRB_Status = SS_INVALID_SRB;
        return srb.SRB_Status;
    }
    if (srb.CDBByte[0] == 0x12) {
        // INQUIRY is answered from the table and never reaches the drive.
        if (srb.SRB_HaId < State().adapterCount) {
            const std::size_t count = std::min<std::size_t>(kInquiryAnswered, srb.SRB_BufLen);
            std::copy_n(entry->inquiry.begin(), count, exec.BufPointer);
            srb.SRB_Status = SS_COMP;
        } else {
            srb.SRB_Status = SS_INVALID_HA;
        }
        return srb.SRB_Status;
    }
    std::lock_guard lock(*entry->lock);
    if (entry->extra) {
        ExecuteOnExtra(exec, *entry);
    } else {
        ExecuteOnKernel(exec, *entry);
    }
    return srb.SRB_Status;
}

std::uint32_t HostAdapterInquiry(SRB_HAInquiry& srb) {
    const auto count = State().adapterCount;
    srb.HA_Count = count;
    if (srb.SRB_HaId >= count) {
        srb.SRB_Status = SS_INVALID_HA;
        return srb.SRB_Status;
    }
    srb.HA_SCSI_ID = 7;
    std::memset(srb.HA_ManagerId, 0, sizeof srb.HA_ManagerId);
    std::memcpy(srb.HA_ManagerId, kManagerId, std::min(sizeof kManagerId - 1, sizeof srb.HA_ManagerId));
    std::memset(srb.HA_Identifier, 0, sizeof srb.HA_Identifier);
    std::memcpy(srb.HA_Identifier, kIdentifier, sizeof kIdentifier - 1);
    srb.HA_Identifier[5] = std::uint8_t('0' + srb.SRB_HaId % 10);
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[0] = 0x07;
    srb.HA_Unique[3] = 0x08;
    const std::uint32_t maxTransfer = 0x00FF0000;
    std::memcpy(&srb.HA_Unique[4], &maxTransfer, 4);  // little-endian host, as the layout wants
    srb.SRB_Status = SS_COMP;
    return srb.SRB_Status;
}

std::uint32_t GetDeviceType(SRB_GDEVBlock& srb) {
    srb.SRB_Status = SS_NO_DEVICE;
    if (FindEntry(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun) != nullptr) {
        srb.SRB_Status = SS_COMP;
        srb.SRB_DeviceType = 5;
    } else {
        srb.SRB_DeviceType = 0x1F;
    }
    return srb.SRB_Status;
}

}  // namespace

void SetSptiOs(std::shared_ptr<TSgOs> os) {
    State().os = std::move(os);
}

void SetExtraTargetSource(TExtraTargetSource source) {
    State().extraSource = std::move(source);
}

int ScanSptiDrives() {
    auto& state = State();
    if (state.scanned) return 0;
    state.table.clear();
    state.table.resize(kSptiNodeCount);  // each entry with its own lock
    for (int index = 0; index < kSptiNodeCount; ++index) {
        if (Os().IsOpticalNode("/dev/sr" + std::to_string(index))) ProbeSptiDrive(index, state.table[index]);
    }
    NumberKernelDrives(state.table);
    int kernelAdapters = 0;
    for (const auto& entry : state.table) {
        if (entry.valid) kernelAdapters = std::max(kernelAdapters, entry.port + 1);
    }
    AddExtraTargets(state, std::uint8_t(kernelAdapters));
    int highest = 0;
    int valid = 0;
    for (const auto& entry : state.table) {
        if (!entry.valid) continue;
        ++valid;
        highest = std::max(highest, int(entry.port));
    }
    state.adapterCount = std::uint8_t(highest + 1);
    state.scanned = true;
    return valid;
}

std::uint32_t SptiSupportInfo() {
    const auto count = State().adapterCount;
    if (count != 0) return count + 0x0100u;
    return std::uint32_t(SS_NO_ADAPTERS) << 8;
}

std::uint32_t SptiSendCommand(void* srb) {
    if (srb == nullptr) return SS_ERR;
    const std::uint8_t command = *static_cast<std::uint8_t*>(srb);
    switch (command) {
        case SC_HA_INQUIRY:
            return HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(srb));
        case SC_GET_DEV_TYPE:
            return GetDeviceType(*static_cast<SRB_GDEVBlock*>(srb));
        case SC_EXEC_SCSI_CMD:
            return ExecScsiCommand(*static_cast<TSrbExec*>(srb));
        case SC_GET_DISK_INFO:
            // No drive letters here: the caller finds the device path in the table instead.
            static_cast<SRB_GetDiskInfo*>(srb)->SRB_Status = SS_PENDING;
            return SS_ERR;
        default:
            static_cast<std::uint8_t*>(srb)[1] = SS_ERR;
            return SS_ERR;
    }
}

void CloseSptiDrives() {
    auto& state = State();
    for (auto& entry : state.table) {
        if (entry.handle >= 0 && state.os) state.os->Close(entry.handle);
        entry.handle = -1;
    }
    state.table.clear();
    state.adapterCount = 0;
    state.scanned = false;
    state.extraError.clear();
    state.scanNotes.clear();
}

const std::vector<std::string>& SptiScanNotes() {
    return State().scanNotes;
}

int SptiHoldDrive(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    TSptiDrive* entry = FindEntry(adapter, target, lun);
    if (entry == nullptr || entry->extra || entry->held) return 0;
    std::lock_guard lock(*entry->lock);
    int error = 0;
    const int fd = Os().OpenExclusive(entry->path, error);
    if (fd < 0) return error;
    if (entry->handle >= 0) Os().Close(entry->handle);
    entry->handle = fd;
    entry->held = true;
    return 0;
}

void SptiReleaseDrive(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    TSptiDrive* entry = FindEntry(adapter, target, lun);
    if (entry == nullptr || !entry->held) return;
    std::lock_guard lock(*entry->lock);
    if (entry->handle >= 0) Os().Close(entry->handle);
    entry->handle = -1;
    entry->held = false;
}

std::string SptiDevicePath(std::uint8_t adapter, std::uint8_t target, std::uint8_t /*lun*/) {
    // The LUN is not compared: a device node stands for the whole target.
    for (const auto& entry : State().table) {
        if (entry.valid && entry.port == adapter && entry.target == target) return entry.path;
    }
    return {};
}

const std::string& SptiExtraSourceError() {
    return State().extraError;
}

std::string SptiTakeExtraSourceNote() {
    std::string note;
    note.swap(State().extraNote);
    return note;
}

const std::vector<TSptiDrive>& SptiDriveTable() {
    return State().table;
}

std::uint8_t SptiAdapterCount() {
    return State().adapterCount;
}

}  // namespace brenwick
