/* The interposed C library entry points: the open, stat, fcntl, ioctl and close families. A call about
 * the configured device path, or about a descriptor of the image file, is answered as the sr driver
 * would; every other call goes to the kernel unchanged. */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "tools/preload/preload_internal.h"

#define BRW_EXPORT __attribute__((visibility("default")))

/* Old-style stat entry points that binaries built against older C libraries still import. */
BRW_EXPORT int __xstat(int version, const char* path, struct stat* st);
BRW_EXPORT int __xstat64(int version, const char* path, struct stat64* st);
BRW_EXPORT int __lxstat(int version, const char* path, struct stat* st);
BRW_EXPORT int __lxstat64(int version, const char* path, struct stat64* st);
BRW_EXPORT int __fxstat(int version, int fd, struct stat* st);
BRW_EXPORT int __fxstat64(int version, int fd, struct stat64* st);
BRW_EXPORT int __fxstatat(int version, int dirfd, const char* path, struct stat* st, int flags);
BRW_EXPORT int __fxstatat64(int version, int dirfd, const char* path, struct stat64* st, int flags);
BRW_EXPORT int __open_2(const char* path, int flags);
BRW_EXPORT int __open64_2(const char* path, int flags);
BRW_EXPORT int __openat_2(int dirfd, const char* path, int flags);
BRW_EXPORT int __openat64_2(int dirfd, const char* path, int flags);

static int fail(int error) {
    errno = error;
    return -1;
}

/* ---- open ---- */

static int open_device(int flags) {
    const struct brw_config* c = brw_config();
    if (brw_connect() != 0) return fail(ENXIO); /* no recorder behind the node: like an absent drive */
    int claimed = 0;
    if (flags & O_EXCL) {
        int rc = brw_claim();
        if (rc != 0) return fail(rc == -EBUSY ? EBUSY : ENXIO);
        claimed = 1;
    }
    /* Reads, seeks, stdio, dup, fork and exec all work natively on a descriptor of the flat image. */
    int fd = (int)syscall(SYS_openat, AT_FDCWD, c->image, O_RDONLY | (flags & (O_CLOEXEC | O_NONBLOCK)));
    if (fd < 0) {
        if (claimed) brw_release();
        return fail(ENXIO);
    }
    brw_track_fd(fd, flags, claimed);
    /* The sr driver checks for a media change on every open with a TEST UNIT READY of its own, so a
     * unit attention left by a disc change is taken by the kernel, not by the program. */
    static const uint8_t tur[6] = {0};
    struct brw_preload_reply reply;
    (void)brw_command(tur, sizeof tur, BRW_DIR_NONE, NULL, 0, 30000,
                      &reply); /* its outcome is the kernel's */
    return fd;
}

static int is_device_at(int dirfd, const char* path) {
    (void)dirfd;
    return path != NULL && path[0] == '/' && brw_is_device_path(path);
}

static int open_any(int dirfd, const char* path, int flags, mode_t mode) {
    if (is_device_at(dirfd, path)) return open_device(flags);
    return (int)syscall(SYS_openat, dirfd, path, flags, mode);
}

static mode_t mode_argument(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

BRW_EXPORT int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    return open_any(AT_FDCWD, path, flags, mode);
}

BRW_EXPORT int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    return open_any(AT_FDCWD, path, flags, mode);
}

BRW_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    return open_any(dirfd, path, flags, mode);
}

BRW_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_argument(flags, ap);
    va_end(ap);
    return open_any(dirfd, path, flags, mode);
}

int __open_2(const char* path, int flags) {
    return open_any(AT_FDCWD, path, flags, 0);
}
int __open64_2(const char* path, int flags) {
    return open_any(AT_FDCWD, path, flags, 0);
}
int __openat_2(int dirfd, const char* path, int flags) {
    return open_any(dirfd, path, flags, 0);
}
int __openat64_2(int dirfd, const char* path, int flags) {
    return open_any(dirfd, path, flags, 0);
}

BRW_EXPORT int close(int fd) {
    /* Programs that sweep their descriptors must not cut the link to the recorder. */
    if (brw_is_link_fd(fd)) return 0;
    if (brw_untrack_fd(fd)) brw_release();
    return (int)brw_sys_close(fd);
}

/* ---- stat ---- */

static int stat_at(int dirfd, const char* path, struct stat* st, int flags) {
    if (st == NULL) return fail(EFAULT);
    if (is_device_at(dirfd, path) ||
        (path != NULL && path[0] == '\0' && (flags & AT_EMPTY_PATH) && brw_is_device_fd(dirfd))) {
        brw_fake_stat(st);
        return 0;
    }
    return (int)syscall(SYS_newfstatat, dirfd, path, st, flags);
}

static int stat_fd(int fd, struct stat* st) {
    if (st == NULL) return fail(EFAULT);
    if (brw_is_device_fd(fd)) {
        brw_fake_stat(st);
        return 0;
    }
    return (int)brw_sys_fstat(fd, st);
}

BRW_EXPORT int stat(const char* path, struct stat* st) {
    return stat_at(AT_FDCWD, path, st, 0);
}
BRW_EXPORT int stat64(const char* path, struct stat64* st) {
    return stat_at(AT_FDCWD, path, (struct stat*)st, 0);
}
BRW_EXPORT int lstat(const char* path, struct stat* st) {
    return stat_at(AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW);
}
BRW_EXPORT int lstat64(const char* path, struct stat64* st) {
    return stat_at(AT_FDCWD, path, (struct stat*)st, AT_SYMLINK_NOFOLLOW);
}
BRW_EXPORT int fstat(int fd, struct stat* st) {
    return stat_fd(fd, st);
}
BRW_EXPORT int fstat64(int fd, struct stat64* st) {
    return stat_fd(fd, (struct stat*)st);
}
BRW_EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
    return stat_at(dirfd, path, st, flags);
}
BRW_EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
    return stat_at(dirfd, path, (struct stat*)st, flags);
}

int __xstat(int version, const char* path, struct stat* st) {
    (void)version;
    return stat_at(AT_FDCWD, path, st, 0);
}
int __xstat64(int version, const char* path, struct stat64* st) {
    (void)version;
    return stat_at(AT_FDCWD, path, (struct stat*)st, 0);
}
int __lxstat(int version, const char* path, struct stat* st) {
    (void)version;
    return stat_at(AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW);
}
int __lxstat64(int version, const char* path, struct stat64* st) {
    (void)version;
    return stat_at(AT_FDCWD, path, (struct stat*)st, AT_SYMLINK_NOFOLLOW);
}
int __fxstat(int version, int fd, struct stat* st) {
    (void)version;
    return stat_fd(fd, st);
}
int __fxstat64(int version, int fd, struct stat64* st) {
    (void)version;
    return stat_fd(fd, (struct stat*)st);
}
int __fxstatat(int version, int dirfd, const char* path, struct stat* st, int flags) {
    (void)version;
    return stat_at(dirfd, path, st, flags);
}
int __fxstatat64(int version, int dirfd, const char* path, struct stat64* st, int flags) {
    (void)version;
    return stat_at(dirfd, path, (struct stat*)st, flags);
}

static int statx_at(int dirfd, const char* path, int flags, unsigned int mask, struct statx* stx) {
    if (stx == NULL) return fail(EFAULT);
    if (is_device_at(dirfd, path) ||
        (path != NULL && path[0] == '\0' && (flags & AT_EMPTY_PATH) && brw_is_device_fd(dirfd))) {
        brw_fake_statx(stx);
        return 0;
    }
    return (int)syscall(SYS_statx, dirfd, path, flags, mask, stx);
}

BRW_EXPORT int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* stx) {
    return statx_at(dirfd, path, flags, mask, stx);
}

BRW_EXPORT int access(const char* path, int mode) {
    if (is_device_at(AT_FDCWD, path)) return (mode & X_OK) ? fail(EACCES) : 0;
    return (int)syscall(SYS_faccessat, AT_FDCWD, path, mode);
}

/* ---- fcntl, ioctl ---- */

static int fcntl_any(int fd, int cmd, void* arg) {
    if (brw_is_device_fd(fd)) {
        switch (cmd) {
            case F_SETLK:
            case F_SETLKW:
            case F_OFD_SETLK:
            case F_OFD_SETLKW:
                return 0; /* the claim on the server is the real exclusion */
            case F_GETLK:
            case F_OFD_GETLK:
                if (arg == NULL) return fail(EFAULT);
                ((struct flock*)arg)->l_type = F_UNLCK;
                return 0;
            case F_GETFL: {
                long flags = syscall(SYS_fcntl, fd, F_GETFL, 0);
                if (flags < 0) return -1;
                return (int)((flags & ~O_ACCMODE) | brw_tracked_access_mode(fd));
            }
            default:
                break;
        }
    }
    return (int)syscall(SYS_fcntl, fd, cmd, arg);
}

BRW_EXPORT int fcntl(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return fcntl_any(fd, cmd, arg);
}

BRW_EXPORT int fcntl64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return fcntl_any(fd, cmd, arg);
}

BRW_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (brw_is_device_fd(fd)) return brw_device_ioctl(fd, request, arg);
    return (int)syscall(SYS_ioctl, fd, request, arg);
}
