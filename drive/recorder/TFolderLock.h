// The lock that gives one process a recorder: flock on the recorder's folder. The kernel drops it when the
// process ends, so a crash leaves no stale lock; a second process finds the recorder busy.
#pragma once

#include <string>

namespace brenwick {

enum class TLockResult : unsigned char { Locked, Busy, Failed };

class TFolderLock {
  public:
    TFolderLock() = default;
    ~TFolderLock() { Release(); }
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Tries once, without waiting. Each TFolderLock is its own open file description, so two locks on one
    // folder exclude each other inside one process as well.
    [[nodiscard]] TLockResult Acquire(const std::string& folder, std::string& error);
    void Release();
    bool held() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};

}  // namespace brenwick
