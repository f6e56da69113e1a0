// The real operating-system calls behind TSgOs: stat, open, ioctl (SG_IO and the two address ioctls), close.
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "drive/os/TSgOs.h"

namespace brenwick {
namespace {

constexpr unsigned kScsiCdromMajor = 11;

class TLinuxSgOs : public TSgOs {
  public:
    bool IsOpticalNode(const std::string& path) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return false;
        return S_ISBLK(st.st_mode) && major(st.st_rdev) == kScsiCdromMajor;
    }

    int Open(const std::string& path, bool readWrite, int& error) override {
        // Non-blocking, so that an empty tray does not hang the open.
        const int fd = ::open(path.c_str(), (readWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        error = fd < 0 ? errno : 0;
        return fd;
    }

    int OpenExclusive(const std::string& path, int& error) override {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
        if (fd < 0 && (errno == EACCES || errno == EROFS)) {
            fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
        }
        error = fd < 0 ? errno : 0;
        return fd;
    }

    void Close(int fd) override {
        if (fd >= 0) ::close(fd);
    }

    int SgIo(int fd, TSgIo& io) override {
        sg_io_hdr_t hdr{};
        hdr.interface_id = 'S';
        switch (io.direction) {
            case TDataDirection::In:
                hdr.dxfer_direction = SG_DXFER_FROM_DEV;
                break;
            case TDataDirection::Out:
                hdr.dxfer_direction = SG_DXFER_TO_DEV;
                break;
            case TDataDirection::None:
                hdr.dxfer_direction = SG_DXFER_NONE;
                break;
        }
        hdr.cmd_len = static_cast<unsigned char>(io.cdb.size());
        hdr.cmdp = const_cast<unsigned char*>(io.cdb.data());
        hdr.dxferp = io.dataLength ? io.data : nullptr;
        hdr.dxfer_len = io.dataLength;
        hdr.sbp = io.sense;
        hdr.mx_sb_len = io.senseCapacity;
        hdr.timeout = io.timeoutMs;
        if (io.direction == TDataDirection::None) {
            hdr.dxferp = nullptr;
            hdr.dxfer_len = 0;
        }
        if (::ioctl(fd, SG_IO, &hdr) != 0) return errno ? errno : EIO;
        io.status = hdr.status;
        io.hostStatus = hdr.host_status;
        io.driverStatus = hdr.driver_status;
        io.senseWritten = hdr.sb_len_wr;
        return 0;
    }

    int GetAddress(int fd, TScsiAddress& address) override {
        struct {
            int four_in_one;
            int host_unique_id;
        } idlun{};
        if (::ioctl(fd, SCSI_IOCTL_GET_IDLUN, &idlun) != 0) return errno ? errno : EIO;
        int bus = 0;
        if (::ioctl(fd, SCSI_IOCTL_GET_BUS_NUMBER, &bus) != 0) return errno ? errno : EIO;
        address.target = idlun.four_in_one & 0xFF;
        address.lun = (idlun.four_in_one >> 8) & 0xFF;
        address.channel = (idlun.four_in_one >> 16) & 0xFF;
        address.host = bus;
        return 0;
    }
};

}  // namespace

std::shared_ptr<TSgOs> MakeLinuxSgOs() {
    return std::make_shared<TLinuxSgOs>();
}

}  // namespace brenwick
