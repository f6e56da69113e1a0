// The thin seam around the operating-system calls of the pass-through emulation: stat of a device node,
// open, SG_IO, the two address ioctls and close. TLinuxSgOs makes the real calls; tests use TFakeSgOs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "drive/scsi/TScsiTarget.h"

namespace brenwick {

// One SG_IO request and what the kernel reports back (a sg_io_hdr without the kernel headers).
struct TSgIo {
    std::span<const std::uint8_t> cdb;
    TDataDirection direction = TDataDirection::None;
    std::uint8_t* data = nullptr;
    std::uint32_t dataLength = 0;
    std::uint8_t* sense = nullptr;  // mx_sb_len bytes
    std::uint8_t senseCapacity = 0;
    unsigned timeoutMs = 120000;
    // Filled by the call:
    std::uint8_t status = 0;         // SCSI status byte
    std::uint16_t hostStatus = 0;    // kernel DID_* code
    std::uint16_t driverStatus = 0;  // kernel DRIVER_* code (08h: sense returned)
    std::uint8_t senseWritten = 0;   // sb_len_wr
};

// The kernel's address of a SCSI device.
struct TScsiAddress {
    int host = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
};

class TSgOs {
  public:
    virtual ~TSgOs() = default;

    // True when `path` is a block device of major 11 (a SCSI optical drive).
    virtual bool IsOpticalNode(const std::string& path) = 0;
    // A file descriptor, or -1 with errno-style code in `error`.
    virtual int Open(const std::string& path, bool readWrite, int& error) = 0;
    // Opens for a recording or an erase that holds the drive for its whole length: O_EXCL, which the
    // kernel refuses with EBUSY while the drive is mounted or another program holds it exclusively.
    virtual int OpenExclusive(const std::string& path, int& error) = 0;
    virtual void Close(int fd) = 0;
    // 0 on success, else the errno of the failed call.
    virtual int SgIo(int fd, TSgIo& io) = 0;
    // SCSI_IOCTL_GET_IDLUN and SCSI_IOCTL_GET_BUS_NUMBER together; 0 on success, else an errno.
    virtual int GetAddress(int fd, TScsiAddress& address) = 0;
};

// The real calls (open, ioctl SG_IO, SCSI_IOCTL_GET_IDLUN, SCSI_IOCTL_GET_BUS_NUMBER, close, stat).
std::shared_ptr<TSgOs> MakeLinuxSgOs();

}  // namespace brenwick
