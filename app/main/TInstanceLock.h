// TInstanceLock: the single-instance lock "Morvandel", an exclusive flock() on a file in the user's runtime
// folder ($XDG_RUNTIME_DIR/Morvandel, else /tmp/Morvandel-<uid>), held until the object goes or the process
// ends. The kernel drops the lock of a process that dies, so a crash leaves no stale lock.
#pragma once

#include <string>

namespace brenwick {

class TInstanceLock {
  public:
    TInstanceLock();
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // True when another process holds the lock: this instance must end at once.
    bool HeldElsewhere() const { return m_heldElsewhere; }
    const std::string& Path() const { return m_path; }

    // The lock file's path for the given runtime folder (empty: none set) and user.
    static std::string LockPath(const char* runtimeFolder, unsigned uid);

  private:
    std::string m_path;
    int m_fd = -1;
    bool m_heldElsewhere = false;
};

}  // namespace brenwick
