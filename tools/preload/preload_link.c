/* Configuration, device identity, per-fd state and the socket link to the recorder server. */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "tools/preload/preload_internal.h"

/* Our socket sits far above the descriptors programs juggle themselves (0-2, dup2 targets). */
#define BRW_SOCKET_FD_FLOOR 900
#define BRW_MAX_IDENTITIES 8

static struct brw_config g_config;
static pthread_once_t g_config_once = PTHREAD_ONCE_INIT;

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static int g_socket = -1;
static pid_t g_socket_pid = 0;
static int g_claims = 0;

/* Identities (st_dev, st_ino) the image file had in this process; a replaced image keeps old fds ours. */
static dev_t g_ident_dev[BRW_MAX_IDENTITIES];
static ino_t g_ident_ino[BRW_MAX_IDENTITIES];
static int g_ident_count = 0;

/* Per fd: 0 unknown; else 0x100 | access mode | 0x200 when the open claimed the drive. */
static uint16_t g_fd_state[BRW_MAX_TRACKED_FDS];

long brw_sys_fstat(int fd, struct stat* st) {
    return syscall(SYS_fstat, fd, st);
}
long brw_sys_close(int fd) {
    return syscall(SYS_close, fd);
}

static void copy_env(char* to, size_t size, const char* name, const char* fallback) {
    const char* value = getenv(name);
    if (value == NULL || value[0] == '\0') value = fallback;
    if (value == NULL) value = "";
    snprintf(to, size, "%s", value);
}

static void read_config(void) {
    struct brw_config* c = &g_config;
    copy_env(c->socket_path, sizeof c->socket_path, "BRENWICK_PRELOAD_SOCKET", NULL);
    copy_env(c->image, sizeof c->image, "BRENWICK_PRELOAD_IMAGE", NULL);
    copy_env(c->device, sizeof c->device, "BRENWICK_PRELOAD_DEVICE", "/dev/sr7");
    char host[16];
    copy_env(host, sizeof host, "BRENWICK_PRELOAD_HOST", "7");
    c->host = (unsigned)strtoul(host, NULL, 10) & 0xffu;
    /* The minor number is the node's trailing number, as for /dev/srN (block major 11). */
    size_t n = strlen(c->device);
    while (n > 0 && c->device[n - 1] >= '0' && c->device[n - 1] <= '9') --n;
    c->minor = (unsigned)strtoul(c->device + n, NULL, 10) & 0xffu;
    if (strncmp(c->device, "/dev/sr", 7) == 0 && n == 7)
        snprintf(c->alias, sizeof c->alias, "/dev/scd%u", c->minor);
    c->enabled = c->socket_path[0] != '\0' && c->image[0] != '\0';
}

static void lock_before_fork(void) {
    pthread_mutex_lock(&g_lock);
}
static void unlock_after_fork(void) {
    pthread_mutex_unlock(&g_lock);
}
static void child_after_fork(void) {
    /* The connection and its claim belong to the parent; the child makes its own on first use. */
    g_claims = 0;
    memset(g_fd_state, 0, sizeof g_fd_state);
    pthread_mutex_unlock(&g_lock);
}

static void init_once(void) {
    read_config();
    pthread_atfork(lock_before_fork, unlock_after_fork, child_after_fork);
}

const struct brw_config* brw_config(void) {
    pthread_once(&g_config_once, init_once);
    return &g_config;
}

int brw_is_device_path(const char* path) {
    const struct brw_config* c = brw_config();
    if (!c->enabled || path == NULL) return 0;
    return strcmp(path, c->device) == 0 || (c->alias[0] != '\0' && strcmp(path, c->alias) == 0);
}

static int known_identity(dev_t dev, ino_t ino) {
    for (int i = 0; i < g_ident_count; ++i)
        if (g_ident_dev[i] == dev && g_ident_ino[i] == ino) return 1;
    return 0;
}

int brw_is_device_fd(int fd) {
    const struct brw_config* c = brw_config();
    if (!c->enabled || fd < 0) return 0;
    struct stat st;
    if (brw_sys_fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    pthread_mutex_lock(&g_lock);
    int ours = known_identity(st.st_dev, st.st_ino);
    if (!ours) {
        struct stat image;
        if (syscall(SYS_newfstatat, AT_FDCWD, c->image, &image, 0) == 0 && image.st_dev == st.st_dev &&
            image.st_ino == st.st_ino) {
            ours = 1;
            if (g_ident_count < BRW_MAX_IDENTITIES) {
                g_ident_dev[g_ident_count] = st.st_dev;
                g_ident_ino[g_ident_count] = st.st_ino;
                ++g_ident_count;
            }
        }
    }
    pthread_mutex_unlock(&g_lock);
    return ours;
}

/* Like a node made by udev: a block device of major 11, group cdrom (24), mode 0660. */
void brw_fake_stat(struct stat* st) {
    const struct brw_config* c = brw_config();
    memset(st, 0, sizeof *st);
    st->st_dev = makedev(0, 5);
    st->st_ino = 1000 + c->minor;
    st->st_mode = S_IFBLK | 0660;
    st->st_nlink = 1;
    st->st_uid = 0;
    st->st_gid = 24;
    st->st_rdev = makedev(11, c->minor);
    st->st_blksize = 2048;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    st->st_atim = st->st_mtim = st->st_ctim = now;
}

void brw_fake_statx(struct statx* stx) {
    struct stat st;
    brw_fake_stat(&st);
    memset(stx, 0, sizeof *stx);
    stx->stx_mask = STATX_BASIC_STATS;
    stx->stx_blksize = (uint32_t)st.st_blksize;
    stx->stx_nlink = (uint32_t)st.st_nlink;
    stx->stx_uid = st.st_uid;
    stx->stx_gid = st.st_gid;
    stx->stx_mode = (uint16_t)st.st_mode;
    stx->stx_ino = st.st_ino;
    stx->stx_rdev_major = major(st.st_rdev);
    stx->stx_rdev_minor = minor(st.st_rdev);
    stx->stx_dev_major = major(st.st_dev);
    stx->stx_dev_minor = minor(st.st_dev);
    stx->stx_atime.tv_sec = stx->stx_mtime.tv_sec = stx->stx_ctime.tv_sec = st.st_mtim.tv_sec;
}

void brw_track_fd(int fd, int open_flags, int claimed) {
    if (fd < 0 || fd >= BRW_MAX_TRACKED_FDS) return;
    pthread_mutex_lock(&g_lock);
    g_fd_state[fd] = (uint16_t)(0x100 | (open_flags & O_ACCMODE) | (claimed ? 0x200 : 0));
    pthread_mutex_unlock(&g_lock);
}

int brw_untrack_fd(int fd) {
    if (fd < 0 || fd >= BRW_MAX_TRACKED_FDS) return 0;
    pthread_mutex_lock(&g_lock);
    int claimed = (g_fd_state[fd] & 0x200) != 0;
    g_fd_state[fd] = 0;
    pthread_mutex_unlock(&g_lock);
    return claimed;
}

int brw_tracked_access_mode(int fd) {
    if (fd < 0 || fd >= BRW_MAX_TRACKED_FDS) return O_RDWR;
    pthread_mutex_lock(&g_lock);
    uint16_t state = g_fd_state[fd];
    pthread_mutex_unlock(&g_lock);
    return (state & 0x100) ? (state & O_ACCMODE) : O_RDWR;
}

int brw_is_link_fd(int fd) {
    pthread_mutex_lock(&g_lock);
    int ours = fd >= 0 && fd == g_socket && g_socket_pid == getpid();
    pthread_mutex_unlock(&g_lock);
    return ours;
}

static int send_all(int fd, const void* data, size_t length) {
    const uint8_t* p = (const uint8_t*)data;
    while (length > 0) {
        ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        length -= (size_t)n;
    }
    return 0;
}

static int receive_all(int fd, void* data, size_t length) {
    uint8_t* p = (uint8_t*)data;
    while (length > 0) {
        ssize_t n = recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        length -= (size_t)n;
    }
    return 0;
}

static void drop_link_locked(void) {
    if (g_socket >= 0 && g_socket_pid == getpid()) brw_sys_close(g_socket);
    g_socket = -1;
    g_claims = 0;
}

/* With g_lock held. A socket inherited from the parent is closed here, never used. */
static int connect_locked(void) {
    const struct brw_config* c = brw_config();
    if (!c->enabled) return -ENXIO;
    if (g_socket >= 0 && g_socket_pid == getpid()) return 0;
    if (g_socket >= 0) brw_sys_close(g_socket);
    g_socket = -1;
    int fd = (int)syscall(SYS_socket, AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -ENXIO;
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, c->socket_path, sizeof address.sun_path - 1); /* both hold 108 bytes */
    if (syscall(SYS_connect, fd, (struct sockaddr*)&address, sizeof address) != 0) {
        brw_sys_close(fd);
        return -ENXIO;
    }
    int high = (int)syscall(SYS_fcntl, fd, F_DUPFD_CLOEXEC, BRW_SOCKET_FD_FLOOR);
    if (high >= 0) {
        brw_sys_close(fd);
        fd = high;
    }
    g_socket = fd;
    g_socket_pid = getpid();
    g_claims = 0;
    return 0;
}

/* One request/reply exchange, with g_lock held. Data-in beyond `in_capacity` is discarded. */
static int exchange_locked(struct brw_preload_request* request, const void* out, uint32_t out_length,
                           struct brw_preload_reply* reply, void* in, uint32_t in_capacity) {
    int rc = connect_locked();
    if (rc != 0) return rc;
    request->magic = BRW_PRELOAD_MAGIC;
    if (send_all(g_socket, request, sizeof *request) != 0 ||
        (out_length > 0 && send_all(g_socket, out, out_length) != 0) ||
        receive_all(g_socket, reply, sizeof *reply) != 0 || reply->magic != BRW_PRELOAD_MAGIC ||
        reply->data_length > BRW_PRELOAD_MAX_TRANSFER) {
        drop_link_locked();
        return -ENODEV;
    }
    uint32_t keep = reply->data_length < in_capacity ? reply->data_length : in_capacity;
    if (keep > 0 && receive_all(g_socket, in, keep) != 0) {
        drop_link_locked();
        return -ENODEV;
    }
    for (uint32_t left = reply->data_length - keep; left > 0;) {
        uint8_t sink[512];
        uint32_t n = left < sizeof sink ? left : (uint32_t)sizeof sink;
        if (receive_all(g_socket, sink, n) != 0) {
            drop_link_locked();
            return -ENODEV;
        }
        left -= n;
    }
    reply->data_length = keep;
    return 0;
}

int brw_connect(void) {
    pthread_mutex_lock(&g_lock);
    int rc = connect_locked();
    pthread_mutex_unlock(&g_lock);
    return rc;
}

int brw_command(const uint8_t* cdb, unsigned cdb_length, int direction, void* data, uint32_t length,
                uint32_t timeout_ms, struct brw_preload_reply* reply) {
    if (cdb_length == 0 || cdb_length > 16 || length > BRW_PRELOAD_MAX_TRANSFER) return -EINVAL;
    struct brw_preload_request request;
    memset(&request, 0, sizeof request);
    request.op = BRW_OP_COMMAND;
    request.cdb_length = (uint8_t)cdb_length;
    request.direction = (uint8_t)direction;
    request.transfer_length = direction == BRW_DIR_NONE ? 0 : length;
    request.timeout_ms = timeout_ms;
    memcpy(request.cdb, cdb, cdb_length);
    pthread_mutex_lock(&g_lock);
    int rc = exchange_locked(&request, data, direction == BRW_DIR_OUT ? length : 0, reply, data,
                             direction == BRW_DIR_IN ? length : 0);
    pthread_mutex_unlock(&g_lock);
    return rc;
}

int brw_claim(void) {
    struct brw_preload_request request;
    struct brw_preload_reply reply;
    memset(&request, 0, sizeof request);
    request.op = BRW_OP_CLAIM;
    pthread_mutex_lock(&g_lock);
    /* The kernel gives a block device to one exclusive open at a time, even within one process. */
    int rc = -EBUSY;
    if (g_claims == 0 || g_socket_pid != getpid()) {
        rc = exchange_locked(&request, NULL, 0, &reply, NULL, 0);
        if (rc == 0 && reply.error != 0) rc = -reply.error;
    }
    if (rc == 0) g_claims = 1;
    pthread_mutex_unlock(&g_lock);
    return rc;
}

void brw_release(void) {
    struct brw_preload_request request;
    struct brw_preload_reply reply;
    memset(&request, 0, sizeof request);
    request.op = BRW_OP_RELEASE;
    pthread_mutex_lock(&g_lock);
    if (g_claims > 0 && g_socket_pid == getpid() && --g_claims == 0)
        (void)exchange_locked(&request, NULL, 0, &reply, NULL, 0); /* a lost link releases anyway */
    pthread_mutex_unlock(&g_lock);
}
