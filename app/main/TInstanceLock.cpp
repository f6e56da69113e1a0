#include "app/main/TInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace brenwick {

std::string TInstanceLock::LockPath(const char* runtimeFolder, unsigned uid) {
    if (runtimeFolder != nullptr && runtimeFolder[0] == '/') {
        return std::string(runtimeFolder) + "/Morvandel";
    }
    return "/tmp/Morvandel-" + std::to_string(uid);
}

// The file is opened close-on-exec, so that a program the window starts (a viewer) never inherits the lock
// and keeps it after Brenwick has ended. A lock file that cannot be opened (a foreign file of that name
// in /tmp) cannot tell whether another instance runs; the program then starts rather than never starting.
TInstanceLock::TInstanceLock() : m_path(LockPath(std::getenv("XDG_RUNTIME_DIR"), ::getuid())) {
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        return;
    }
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        ::close(m_fd);
        m_fd = -1;
    }
}

TInstanceLock::~TInstanceLock() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the only descriptor drops the lock
    }
}

}  // namespace brenwick
