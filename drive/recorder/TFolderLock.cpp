#include "drive/recorder/TFolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brenwick {

TLockResult TFolderLock::Acquire(const std::string& folder, std::string& error) {
    if (m_fd >= 0) return TLockResult::Locked;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open recorder folder " + folder + ": " + std::strerror(errno);
        return TLockResult::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int saved = errno;
        ::close(fd);
        if (saved == EWOULDBLOCK) {
            error = "the recorder " + folder + " is in use by another program";
            return TLockResult::Busy;
        }
        error = "cannot lock recorder folder " + folder + ": " + std::strerror(saved);
        return TLockResult::Failed;
    }
    m_fd = fd;
    return TLockResult::Locked;
}

void TFolderLock::Release() {
    if (m_fd >= 0) ::close(m_fd);  // closing the descriptor drops the lock
    m_fd = -1;
}

}  // namespace brenwick
