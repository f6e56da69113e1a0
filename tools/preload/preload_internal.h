/* Internals of the preload library that presents one image recorder as an optical device node.
 * Everything here runs inside someone else's program: no allocation on hot paths, no C++ runtime,
 * raw system calls for the pass-through so that the library never calls back into itself. */
#ifndef BRENWICK_PRELOAD_INTERNAL_H
#define BRENWICK_PRELOAD_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "tools/preload/preload_protocol.h"

#define BRW_PATH_MAX 4096
#define BRW_MAX_TRACKED_FDS 4096

/* From the environment, read once:
 *   BRENWICK_PRELOAD_SOCKET  the recorder server's Unix socket (unset: the library does nothing)
 *   BRENWICK_PRELOAD_IMAGE   the recorder's image file (device reads return its sectors)
 *   BRENWICK_PRELOAD_DEVICE  the node to present, default /dev/sr7 (its /dev/scdN twin too)
 *   BRENWICK_PRELOAD_HOST    the kernel host number SCSI_IOCTL_GET_IDLUN reports, default 7 */
struct brw_config {
    int enabled;
    char device[256];
    char alias[256];
    char socket_path[108];
    char image[BRW_PATH_MAX];
    unsigned minor;
    unsigned host;
};

const struct brw_config* brw_config(void);

int brw_is_device_path(const char* path);
/* 1 when fd is an open device node of ours (a descriptor of the image file, in any process). */
int brw_is_device_fd(int fd);
void brw_fake_stat(struct stat* st);
void brw_fake_statx(struct statx* stx);

/* The connection of this process to the recorder server (re-made after fork). 0, or a negative errno. */
int brw_connect(void);
int brw_command(const uint8_t* cdb, unsigned cdb_length, int direction, void* data, uint32_t length,
                uint32_t timeout_ms, struct brw_preload_reply* reply);
int brw_claim(void);
void brw_release(void);

/* Per-descriptor state of the device fds this process opened. */
void brw_track_fd(int fd, int open_flags, int claimed);
int brw_untrack_fd(int fd);          /* returns 1 when the fd held a claim */
int brw_tracked_access_mode(int fd); /* O_RDONLY/O_WRONLY/O_RDWR as opened; O_RDWR when unknown */
int brw_is_link_fd(int fd);

int brw_device_ioctl(int fd, unsigned long request, void* arg);

/* Raw system calls. */
long brw_sys_fstat(int fd, struct stat* st);
long brw_sys_close(int fd);

#endif
