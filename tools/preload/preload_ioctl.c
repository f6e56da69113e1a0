/* The ioctls of an optical device node: SG_IO handed to the recorder server, with the result fields
 * filled as the kernel's block layer fills them, and the plain answers of the sr driver. */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <errno.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tools/preload/preload_internal.h"

/* Values a real kernel gives for /dev/sr. */
#define BRW_SG_VERSION 30527
#define BRW_MAX_SECTORS 1024 /* 512 KB per command */
#define BRW_DRIVER_SENSE 0x08
#define BRW_DID_TIME_OUT 0x03
#define BRW_DID_ERROR 0x07
#define BRW_DEFAULT_TIMEOUT_MS 60000
#define BRW_BUSY_RETRY_NS 3000000

static int g_sg_timeout = 60 * 100; /* jiffies at HZ=100, as SG_GET_TIMEOUT reports them */
static int g_reserved_size = BRW_MAX_SECTORS * 512;

static unsigned elapsed_ms(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned)((now.tv_sec - start->tv_sec) * 1000 + (now.tv_nsec - start->tv_nsec) / 1000000);
}

static int fail(int error) {
    errno = error;
    return -1;
}

/* A scatter list is gathered into one buffer for the exchange and scattered back. */
static void* gather(const sg_io_hdr_t* h, uint32_t* length) {
    const sg_iovec_t* iov = (const sg_iovec_t*)h->dxferp;
    size_t total = 0;
    for (unsigned i = 0; i < h->iovec_count; ++i) total += iov[i].iov_len;
    if (total > BRW_PRELOAD_MAX_TRANSFER) return NULL;
    uint8_t* buffer = (uint8_t*)calloc(total ? total : 1, 1);
    if (buffer == NULL) return NULL;
    size_t at = 0;
    for (unsigned i = 0; i < h->iovec_count; ++i) {
        memcpy(buffer + at, iov[i].iov_base, iov[i].iov_len);
        at += iov[i].iov_len;
    }
    *length = (uint32_t)(total < h->dxfer_len ? total : h->dxfer_len);
    return buffer;
}

static void scatter(const sg_io_hdr_t* h, const uint8_t* buffer, uint32_t length) {
    const sg_iovec_t* iov = (const sg_iovec_t*)h->dxferp;
    size_t at = 0;
    for (unsigned i = 0; i < h->iovec_count && at < length; ++i) {
        size_t n = iov[i].iov_len < length - at ? iov[i].iov_len : length - at;
        memcpy(iov[i].iov_base, buffer + at, n);
        at += n;
    }
}

static int direction_of(int dxfer_direction, unsigned length) {
    if (length == 0) return BRW_DIR_NONE;
    switch (dxfer_direction) {
        case SG_DXFER_TO_DEV:
            return BRW_DIR_OUT;
        case SG_DXFER_FROM_DEV:
        case SG_DXFER_TO_FROM_DEV:
            return BRW_DIR_IN;
        default:
            return BRW_DIR_NONE;
    }
}

static int sg_io(sg_io_hdr_t* h) {
    if (h == NULL) return fail(EFAULT);
    if (h->interface_id != 'S' || h->cmd_len < 6 || h->cmd_len > 16 || h->cmdp == NULL) return fail(EINVAL);
    if (h->dxfer_len > BRW_PRELOAD_MAX_TRANSFER) return fail(EIO);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);

    uint32_t length = h->dxfer_len;
    void* buffer = h->dxferp;
    void* gathered = NULL;
    if (h->iovec_count > 0 && h->dxferp != NULL) {
        gathered = gather(h, &length);
        if (gathered == NULL) return fail(ENOMEM);
        buffer = gathered;
    }
    int direction = buffer != NULL ? direction_of(h->dxfer_direction, length) : BRW_DIR_NONE;

    /* The SCSI midlayer requeues a command that gets BUSY or TASK SET FULL until the command's time is
     * up, so a program sees such a status only from a drive that stays busy. */
    unsigned budget = h->timeout ? h->timeout : BRW_DEFAULT_TIMEOUT_MS;
    struct brw_preload_reply reply;
    int rc;
    for (;;) {
        rc = brw_command(h->cmdp, h->cmd_len, direction, buffer, direction == BRW_DIR_NONE ? 0 : length,
                         h->timeout, &reply);
        if (rc != 0 || (reply.status != 0x08 && reply.status != 0x28) || elapsed_ms(&start) >= budget) break;
        const struct timespec pause = {0, BRW_BUSY_RETRY_NS};
        nanosleep(&pause, NULL);
    }
    if (rc == 0 && direction == BRW_DIR_IN && gathered != NULL) scatter(h, gathered, reply.data_length);
    free(gathered);
    if (rc != 0) return fail(-rc);
    /* A target that is gone fails the call itself, as the kernel does for a device that went away. */
    if (reply.host_status == 0x11) return fail(ENODEV);

    h->status = reply.status;
    h->masked_status = (unsigned char)((reply.status >> 1) & 0x7f);
    h->msg_status = 0;
    h->host_status = reply.host_status == 0      ? 0
                     : reply.host_status == 0x09 ? BRW_DID_TIME_OUT
                                                 : BRW_DID_ERROR;
    unsigned sense = reply.sense_length < BRW_PRELOAD_SENSE_MAX ? reply.sense_length : BRW_PRELOAD_SENSE_MAX;
    if (sense > h->mx_sb_len) sense = h->mx_sb_len;
    if (sense > 0 && h->sbp != NULL) memcpy(h->sbp, reply.sense, sense);
    h->sb_len_wr = (unsigned char)(h->sbp != NULL ? sense : 0);
    h->driver_status = reply.sense_length > 0 ? BRW_DRIVER_SENSE : 0;
    /* Measured on a real kernel: resid stays 0 on a failed command. */
    h->resid = (reply.status == 0 && direction == BRW_DIR_IN && reply.transferred < length)
                   ? (int)(length - reply.transferred)
                   : 0;
    h->duration = elapsed_ms(&start);
    h->info = (h->masked_status || h->host_status || h->driver_status) ? SG_INFO_CHECK : SG_INFO_OK;
    return 0;
}

/* One command for an ioctl that the kernel answers by asking the drive. */
static int simple_command(const uint8_t* cdb, unsigned cdb_length, void* data, uint32_t length,
                          struct brw_preload_reply* reply) {
    int rc = brw_command(cdb, cdb_length, length ? BRW_DIR_IN : BRW_DIR_NONE, data, length, 30000, reply);
    if (rc != 0) return rc;
    if (reply->host_status == 0x11) return -ENODEV;
    return 0;
}

static int drive_status(void) {
    static const uint8_t tur[6] = {0};
    struct brw_preload_reply reply;
    int rc = simple_command(tur, sizeof tur, NULL, 0, &reply);
    if (rc != 0) return fail(-rc);
    if (reply.status == 0) return CDS_DISC_OK;
    if (reply.sense_length >= 14 && reply.sense[12] == 0x3a)
        return reply.sense[13] == 0x02 ? CDS_TRAY_OPEN : CDS_NO_DISC;
    if (reply.sense_length >= 14 && reply.sense[12] == 0x04) return CDS_DRIVE_NOT_READY;
    return CDS_DISC_OK;
}

static int start_stop(uint8_t byte4) {
    const uint8_t cdb[6] = {0x1b, 0, 0, 0, byte4, 0};
    struct brw_preload_reply reply;
    int rc = simple_command(cdb, sizeof cdb, NULL, 0, &reply);
    if (rc != 0) return fail(-rc);
    return reply.status == 0 ? 0 : fail(EIO);
}

static int lock_door(unsigned long lock) {
    const uint8_t cdb[6] = {0x1e, 0, 0, 0, (uint8_t)(lock ? 1 : 0), 0};
    struct brw_preload_reply reply;
    int rc = simple_command(cdb, sizeof cdb, NULL, 0, &reply);
    if (rc != 0) return fail(-rc);
    return reply.status == 0 ? 0 : fail(EIO);
}

/* Bytes of the medium from READ CAPACITY; 0 without a readable disc, as the kernel reports it. */
static uint64_t capacity_bytes(void) {
    const uint8_t cdb[10] = {0x25};
    uint8_t data[8] = {0};
    struct brw_preload_reply reply;
    if (simple_command(cdb, sizeof cdb, data, sizeof data, &reply) != 0 || reply.status != 0 ||
        reply.data_length < 8)
        return 0;
    uint64_t last =
        ((uint64_t)data[0] << 24) | ((uint64_t)data[1] << 16) | ((uint64_t)data[2] << 8) | data[3];
    return (last + 1) * 2048u;
}

/* The old packet interface of the cdrom driver, translated to one command. */
static int send_packet(struct cdrom_generic_command* cgc) {
    if (cgc == NULL) return fail(EFAULT);
    int direction = cgc->data_direction == CGC_DATA_WRITE  ? BRW_DIR_OUT
                    : cgc->data_direction == CGC_DATA_READ ? BRW_DIR_IN
                                                           : BRW_DIR_NONE;
    if (cgc->buffer == NULL || cgc->buflen == 0) direction = BRW_DIR_NONE;
    unsigned cdb_length = (cgc->cmd[0] >> 5) == 0 ? 6 : (cgc->cmd[0] >> 5) == 5 ? 12 : 10;
    struct brw_preload_reply reply;
    int rc =
        brw_command(cgc->cmd, cdb_length, direction, cgc->buffer, direction == BRW_DIR_NONE ? 0 : cgc->buflen,
                    cgc->timeout ? cgc->timeout : 30000, &reply);
    if (rc != 0) return fail(-rc);
    if (reply.host_status == 0x11) return fail(ENODEV);
    cgc->stat = reply.status;
    if (cgc->sense != NULL) {
        unsigned n = reply.sense_length < sizeof *cgc->sense ? reply.sense_length : sizeof *cgc->sense;
        memset(cgc->sense, 0, sizeof *cgc->sense);
        memcpy(cgc->sense, reply.sense, n);
    }
    return (reply.status == 0 && reply.host_status == 0) ? 0 : fail(EIO);
}

static int put_int(void* arg, int value) {
    if (arg == NULL) return fail(EFAULT);
    *(int*)arg = value;
    return 0;
}

int brw_device_ioctl(int fd, unsigned long request, void* arg) {
    (void)fd;
    const struct brw_config* c = brw_config();
    switch (request) {
        case SG_IO:
            return sg_io((sg_io_hdr_t*)arg);
        case SG_GET_VERSION_NUM:
            return put_int(arg, BRW_SG_VERSION);
        case SG_SET_TIMEOUT:
            if (arg == NULL) return fail(EFAULT);
            if (*(int*)arg < 0) return fail(EIO);
            g_sg_timeout = *(int*)arg;
            return 0;
        case SG_GET_TIMEOUT:
            return g_sg_timeout;
        case SG_EMULATED_HOST:
            return put_int(arg, 0);
        case SG_GET_RESERVED_SIZE:
            return put_int(arg, g_reserved_size);
        case SG_SET_RESERVED_SIZE:
            if (arg == NULL) return fail(EFAULT);
            if (*(int*)arg < 0) return fail(EINVAL);
            g_reserved_size = *(int*)arg < BRW_MAX_SECTORS * 512 ? *(int*)arg : BRW_MAX_SECTORS * 512;
            return 0;
        case SCSI_IOCTL_GET_IDLUN: {
            if (arg == NULL) return fail(EFAULT);
            int* idlun = (int*)arg; /* target 0, LUN 0, channel 0 on the configured host */
            idlun[0] = (int)(c->host << 24);
            idlun[1] = (int)c->host;
            return 0;
        }
        case SCSI_IOCTL_GET_BUS_NUMBER:
            return put_int(arg, (int)c->host);
        case CDROM_DRIVE_STATUS:
            return drive_status();
        case CDROM_MEDIA_CHANGED:
            return 0;
        case CDROM_GET_CAPABILITY:
            return CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MULTI_SESSION |
                   CDC_MEDIA_CHANGED | CDC_DRIVE_STATUS | CDC_GENERIC_PACKET | CDC_CD_R | CDC_CD_RW |
                   CDC_DVD | CDC_DVD_R | CDC_DVD_RAM;
        case CDROM_LOCKDOOR:
            return lock_door((unsigned long)arg);
        case CDROMEJECT:
            return start_stop(0x02);
        case CDROMCLOSETRAY:
            return start_stop(0x03);
        case CDROM_SEND_PACKET:
            return send_packet((struct cdrom_generic_command*)arg);
        case CDROM_CLEAR_OPTIONS:
        case CDROM_SET_OPTIONS:
            return 0;
        case BLKFLSBUF:
            return 0;
        case BLKROGET:
            return put_int(arg, 0);
        case BLKSSZGET:
            return put_int(arg, 2048);
        case BLKSECTGET:
            if (arg == NULL) return fail(EFAULT);
            *(unsigned short*)arg = BRW_MAX_SECTORS;
            return 0;
        case BLKGETSIZE64:
            if (arg == NULL) return fail(EFAULT);
            *(uint64_t*)arg = capacity_bytes();
            return 0;
        case BLKGETSIZE:
            if (arg == NULL) return fail(EFAULT);
            *(unsigned long*)arg = (unsigned long)(capacity_bytes() / 512u);
            return 0;
        default:
            /* As on a real /dev/sr: SG_GET_SCSI_ID, HDIO_GET_IDENTITY and the rest are not for this node. */
            return fail(ENOTTY);
    }
}
