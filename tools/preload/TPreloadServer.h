// Serves one SCSI target to the preload library over a Unix socket: each process that opens the device
// node holds one connection; commands of all connections run one at a time on the target, and an
// exclusive open (O_EXCL) claims the drive for its connection until it is released or the connection ends.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive/scsi/TScsiTarget.h"
#include "tools/preload/preload_protocol.h"

namespace brenwick {

class TPreloadServer {
  public:
    TPreloadServer(std::shared_ptr<TScsiTarget> target, std::string imagePath);
    ~TPreloadServer();
    TPreloadServer(const TPreloadServer&) = delete;
    TPreloadServer& operator=(const TPreloadServer&) = delete;

    // Listens on `socketPath` (replacing a stale socket file) and serves from a thread of its own.
    [[nodiscard]] bool Start(const std::string& socketPath, std::string& error);
    // Ends every connection and joins every thread; the socket file is removed.
    void Stop();

    std::size_t CommandCount() const { return m_commands.load(); }
    // Connections whose threads are still kept (live ones, and ended ones not yet joined).
    std::size_t ConnectionCount() const;

  private:
    struct TConnection {
        int fd = -1;
        std::shared_ptr<std::atomic<bool>> done;  // set by its thread when the client has gone
        std::thread thread;
    };

    void AcceptLoop();
    void ReapFinished();  // with m_connectionLock held
    void Serve(int fd, int id);
    bool HandleCommand(int fd, const ::brw_preload_request& request);
    int Claim(int id);
    void Release(int id);

    std::shared_ptr<TScsiTarget> m_target;
    std::string m_imagePath;
    std::string m_socketPath;
    std::mutex m_targetLock;  // the target runs one command at a time
    std::mutex m_claimLock;
    int m_claimOwner = -1;
    mutable std::mutex m_connectionLock;
    std::vector<TConnection> m_connections;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::atomic<std::size_t> m_commands{0};
    std::thread m_acceptThread;
};

}  // namespace brenwick
