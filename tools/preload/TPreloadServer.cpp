#include "tools/preload/TPreloadServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/preload/preload_protocol.h"

namespace brenwick {
namespace {

bool SendAll(int fd, const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, std::size_t length) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (length > 0) {
        ssize_t n = recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SendReply(int fd, brw_preload_reply& reply, const std::uint8_t* data = nullptr) {
    reply.magic = BRW_PRELOAD_MAGIC;
    return SendAll(fd, &reply, sizeof reply) &&
           (reply.data_length == 0 || SendAll(fd, data, reply.data_length));
}

TDataDirection DirectionOf(std::uint8_t direction) {
    switch (direction) {
        case BRW_DIR_IN:
            return TDataDirection::In;
        case BRW_DIR_OUT:
            return TDataDirection::Out;
        default:
            return TDataDirection::None;
    }
}

}  // namespace

TPreloadServer::TPreloadServer(std::shared_ptr<TScsiTarget> target, std::string imagePath)
    : m_target(std::move(target)), m_imagePath(std::move(imagePath)) {}

TPreloadServer::~TPreloadServer() {
    Stop();
}

bool TPreloadServer::Start(const std::string& socketPath, std::string& error) {
    sockaddr_un address{};
    if (socketPath.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + socketPath;
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    m_listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 || pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return false;
    }
    (void)unlink(socketPath.c_str());  // a socket file left by a server that was killed
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listenFd, 16) != 0) {
        error = "cannot listen on " + socketPath + ": " + std::strerror(errno);
        return false;
    }
    m_socketPath = socketPath;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void TPreloadServer::Stop() {
    m_stopping = true;
    if (m_wakePipe[1] >= 0) (void)!write(m_wakePipe[1], "x", 1);
    if (m_acceptThread.joinable()) m_acceptThread.join();
    std::vector<TConnection> connections;
    {
        std::lock_guard lock(m_connectionLock);
        connections.swap(m_connections);
    }
    for (auto& c : connections) shutdown(c.fd, SHUT_RDWR);
    for (auto& c : connections) {
        if (c.thread.joinable()) c.thread.join();
        close(c.fd);
    }
    for (int* fd : {&m_listenFd, &m_wakePipe[0], &m_wakePipe[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    if (!m_socketPath.empty()) (void)unlink(m_socketPath.c_str());
    m_socketPath.clear();
}

void TPreloadServer::AcceptLoop() {
    int nextId = 0;
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0 || m_stopping) return;
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int id = nextId++;
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(m_connectionLock);
        ReapFinished();
        m_connections.push_back({fd, done, std::thread([this, fd, id, done] {
                                     Serve(fd, id);
                                     *done = true;
                                 })});
    }
}

std::size_t TPreloadServer::ConnectionCount() const {
    std::lock_guard lock(m_connectionLock);
    return m_connections.size();
}

// Each program run opens connections of its own; a server that serves for long must not keep them all.
void TPreloadServer::ReapFinished() {
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (!*it->done) {
            ++it;
            continue;
        }
        it->thread.join();
        close(it->fd);
        it = m_connections.erase(it);
    }
}

void TPreloadServer::Serve(int fd, int id) {
    brw_preload_request request{};
    while (!m_stopping && ReceiveAll(fd, &request, sizeof request)) {
        if (request.magic != BRW_PRELOAD_MAGIC) break;
        brw_preload_reply reply{};
        bool ok = true;
        switch (request.op) {
            case BRW_OP_HELLO:
                reply.data_length = static_cast<std::uint32_t>(m_imagePath.size());
                ok = SendReply(fd, reply, reinterpret_cast<const std::uint8_t*>(m_imagePath.data()));
                break;
            case BRW_OP_COMMAND:
                ok = HandleCommand(fd, request);
                break;
            case BRW_OP_CLAIM:
                reply.error = Claim(id);
                ok = SendReply(fd, reply);
                break;
            case BRW_OP_RELEASE:
                Release(id);
                ok = SendReply(fd, reply);
                break;
            default:
                ok = false;
        }
        if (!ok) break;
    }
    // A process that exits, or dies, lets go of the drive as the kernel would on its last close.
    Release(id);
    shutdown(fd, SHUT_RDWR);
}

bool TPreloadServer::HandleCommand(int fd, const brw_preload_request& request) {
    if (request.cdb_length < 1 || request.cdb_length > sizeof request.cdb ||
        request.transfer_length > BRW_PRELOAD_MAX_TRANSFER)
        return false;  // not our client: drop the connection
    TDataDirection direction = DirectionOf(request.direction);
    std::vector<std::uint8_t> data(direction == TDataDirection::None ? 0 : request.transfer_length);
    if (direction == TDataDirection::Out && !ReceiveAll(fd, data.data(), data.size())) return false;

    TScsiRequest scsi;
    scsi.cdb = std::span<const std::uint8_t>(request.cdb, request.cdb_length);
    scsi.direction = direction;
    scsi.data = data;
    scsi.timeoutMs = request.timeout_ms;
    TScsiResult result;
    {
        std::lock_guard lock(m_targetLock);
        result = m_target->Execute(scsi);
    }
    ++m_commands;

    brw_preload_reply reply{};
    reply.status = result.status;
    reply.host_status = result.hostStatus;
    std::size_t sense = std::min<std::size_t>(result.senseLength, BRW_PRELOAD_SENSE_MAX);
    reply.sense_length = static_cast<std::uint8_t>(sense);
    std::memcpy(reply.sense, result.sense.data(), sense);
    std::size_t moved = std::min(result.transferred, data.size());
    reply.transferred = static_cast<std::uint32_t>(moved);
    reply.data_length = direction == TDataDirection::In ? static_cast<std::uint32_t>(moved) : 0;
    return SendReply(fd, reply, data.data());
}

int TPreloadServer::Claim(int id) {
    std::lock_guard lock(m_claimLock);
    if (m_claimOwner >= 0 && m_claimOwner != id) return EBUSY;
    m_claimOwner = id;
    return 0;
}

void TPreloadServer::Release(int id) {
    std::lock_guard lock(m_claimLock);
    if (m_claimOwner == id) m_claimOwner = -1;
}

}  // namespace brenwick
