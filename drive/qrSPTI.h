// The pass-through emulation of the ASPI interface ("QWASPI32"): the drive table of /dev/sr0../dev/sr31,
// the scan, and the support-info and send-command entry points over SG_IO. It also carries further
// adapters that are not kernel devices (the image recorders) behind the same send-command entry.
// State is process-wide by design (the scan runs once per process); ShutdownTransport resets it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drive/os/TSgOs.h"
#include "drive/qrASPI.h"
#include "drive/scsi/TScsiTarget.h"

namespace brenwick {

inline constexpr int kSptiNodeCount = 32;       // /dev/sr0 .. /dev/sr31
inline constexpr int kSptiMaxExtraTargets = 8;  // image recorders on the last adapter
inline constexpr std::size_t kStoredInquiry = 40;
inline constexpr std::size_t kInquiryAnswered = 36;

// One entry of the drive table: a kernel drive (node index 0..31) or an extra target.
struct TSptiDrive {
    std::uint8_t port = 0;  // emulated host adapter number
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    std::uint8_t driveIndex = 0;  // N of /dev/srN
    std::uint8_t valid = 0;
    int handle = -1;
    std::array<std::uint8_t, kStoredInquiry> inquiry{};
    std::string path;                    // "/dev/srN"; empty for an extra target
    TScsiAddress kernel{};               // the kernel's address (kernel drives only)
    std::shared_ptr<TScsiTarget> extra;  // set for an extra target
    bool permissionLogged = false;
    bool held = false;  // opened exclusively for a recording or an erase: commands keep the handle open
    // Serialises the commands to this entry (its handle slot), should two threads ever talk to one drive.
    std::shared_ptr<std::mutex> lock = std::make_shared<std::mutex>();
};

// Where the extra adapter's targets come from: by default the image recorders of the default folder.
// The function returns at most 8 targets, in target order; `error` tells why none came.
using TExtraTargetSource = std::function<std::vector<std::shared_ptr<TScsiTarget>>(std::string& error)>;

// Test seams; both take effect at the next scan.
void SetSptiOs(std::shared_ptr<TSgOs> os);
void SetExtraTargetSource(TExtraTargetSource source);

// Scans once per process; returns the number of valid entries (kernel drives and extra targets); a second
// call returns 0 at once.
int ScanSptiDrives();
std::uint32_t SptiSupportInfo();
std::uint32_t SptiSendCommand(void* srb);
// Closes any open handle, clears the table and the scanned flag.
void CloseSptiDrives();

// The device path the scan stored for (adapter, target, lun), or "" (no node: an extra target or no match).
std::string SptiDevicePath(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
// Why the extra source gave no target at the last scan ("" when it gave some or was not asked).
const std::string& SptiExtraSourceError();
// The log line the extra source left at the last scan (the image recorders made owner-only), once: a second
// call returns "".
std::string SptiTakeExtraSourceNote();

// The scan's log lines (a drive the user may not open), which every device scan logs again: the fault
// lasts until the user's groups change.
const std::vector<std::string>& SptiScanNotes();

// A recording or an erase holds a kernel drive open exclusively for its whole length, so that no other
// program's commands come between its own and it never writes into another program's recording. Returns
// 0 when the drive is held (or the entry is no kernel drive), else the open's errno: EBUSY when the drive
// is mounted or another program holds it. Any other error leaves the drive to the per-command opens.
int SptiHoldDrive(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
// Lets a held drive go (closes its handle); nothing when it is not held.
void SptiReleaseDrive(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);

// Read-only view of the table for the tests and the command line.
const std::vector<TSptiDrive>& SptiDriveTable();
std::uint8_t SptiAdapterCount();

}  // namespace brenwick
