/* A small program the preload library's tests run under LD_PRELOAD. It does what burning programs do
 * to a device node and prints one line per step, so that the test can check each answer:
 *   preload_probe STEP... where a step is
 *   stat PATH | statx PATH | access PATH | open PATH MODE (ro, rw, rwx = O_RDWR|O_EXCL|O_NONBLOCK)
 *   fstat | getfl | lock | idlun | bus | version | scsiid | drivestatus | capacity
 *   inquiry | tur | quicktur (30 ms time-out) | badop | read LBA | child-open PATH MODE | exec-fstat | close
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

static int g_fd = -1;
static const char* g_self;

static void print_stat(const char* what, const struct stat* st) {
    printf("%s type=%s rdev=%u:%u gid=%u mode=%o\n", what, S_ISBLK(st->st_mode) ? "blk" : "other",
           major(st->st_rdev), minor(st->st_rdev), (unsigned)st->st_gid, (unsigned)(st->st_mode & 0777));
}

static int mode_flags(const char* mode) {
    if (strcmp(mode, "ro") == 0) return O_RDONLY;
    if (strcmp(mode, "rw") == 0) return O_RDWR | O_NONBLOCK;
    return O_RDWR | O_EXCL | O_NONBLOCK;
}

static void sg_command(const char* what, const uint8_t* cdb, unsigned cdb_length, unsigned length,
                       unsigned timeout_ms) {
    uint8_t data[256] = {0};
    uint8_t sense[32] = {0};
    sg_io_hdr_t h;
    memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.cmdp = (unsigned char*)cdb;
    h.cmd_len = (unsigned char)cdb_length;
    h.dxfer_direction = length ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    h.dxferp = length ? data : NULL;
    h.dxfer_len = length;
    h.sbp = sense;
    h.mx_sb_len = 18;
    h.timeout = timeout_ms;
    if (ioctl(g_fd, SG_IO, &h) != 0) {
        printf("%s errno=%d\n", what, errno);
        return;
    }
    printf("%s status=%u masked=%u host=%u driver=%u sb=%u info=%u resid=%d key=%x asc=%02x ascq=%02x", what,
           h.status, h.masked_status, h.host_status, h.driver_status, h.sb_len_wr, h.info, h.resid,
           sense[2] & 0xf, sense[12], sense[13]);
    if (length >= 36 && h.status == 0)
        printf(" type=%02x vendor='%.8s' product='%.16s'", data[0], (const char*)data + 8,
               (const char*)data + 16);
    printf("\n");
}

static int run_step(char** argv, int* i) {
    const char* step = argv[*i];
    struct stat st;
    if (strcmp(step, "stat") == 0) {
        const char* path = argv[++*i];
        if (stat(path, &st) != 0)
            printf("stat errno=%d\n", errno);
        else
            print_stat("stat", &st);
    } else if (strcmp(step, "statx") == 0) {
        struct statx stx;
        if (statx(AT_FDCWD, argv[++*i], 0, STATX_BASIC_STATS, &stx) != 0)
            printf("statx errno=%d\n", errno);
        else
            printf("statx type=%s rdev=%u:%u\n", S_ISBLK(stx.stx_mode) ? "blk" : "other", stx.stx_rdev_major,
                   stx.stx_rdev_minor);
    } else if (strcmp(step, "access") == 0) {
        printf("access rc=%d\n", access(argv[++*i], R_OK | W_OK));
    } else if (strcmp(step, "open") == 0) {
        const char* path = argv[++*i];
        g_fd = open(path, mode_flags(argv[++*i]));
        if (g_fd < 0)
            printf("open errno=%d\n", errno);
        else
            printf("open ok\n");
    } else if (strcmp(step, "fstat") == 0) {
        if (fstat(g_fd, &st) != 0)
            printf("fstat errno=%d\n", errno);
        else
            print_stat("fstat", &st);
    } else if (strcmp(step, "getfl") == 0) {
        printf("getfl accmode=%d\n", fcntl(g_fd, F_GETFL) & O_ACCMODE);
    } else if (strcmp(step, "lock") == 0) {
        struct flock lock = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
        printf("lock rc=%d\n", fcntl(g_fd, F_SETLK, &lock));
    } else if (strcmp(step, "idlun") == 0) {
        int idlun[2] = {-1, -1};
        int rc = ioctl(g_fd, SCSI_IOCTL_GET_IDLUN, idlun);
        printf("idlun rc=%d host=%d channel=%d lun=%d id=%d\n", rc, (idlun[0] >> 24) & 0xff,
               (idlun[0] >> 16) & 0xff, (idlun[0] >> 8) & 0xff, idlun[0] & 0xff);
    } else if (strcmp(step, "bus") == 0) {
        int bus = -1;
        int rc = ioctl(g_fd, SCSI_IOCTL_GET_BUS_NUMBER, &bus);
        printf("bus rc=%d host=%d\n", rc, bus);
    } else if (strcmp(step, "version") == 0) {
        int version = 0;
        int rc = ioctl(g_fd, SG_GET_VERSION_NUM, &version);
        printf("version rc=%d value=%d\n", rc, version);
    } else if (strcmp(step, "scsiid") == 0) {
        struct sg_scsi_id id;
        int rc = ioctl(g_fd, SG_GET_SCSI_ID, &id);
        printf("scsiid rc=%d errno=%d\n", rc, rc ? errno : 0);
    } else if (strcmp(step, "drivestatus") == 0) {
        printf("drivestatus rc=%d\n", ioctl(g_fd, CDROM_DRIVE_STATUS, 0));
    } else if (strcmp(step, "capacity") == 0) {
        uint64_t bytes = 0;
        int rc = ioctl(g_fd, BLKGETSIZE64, &bytes);
        printf("capacity rc=%d bytes=%llu\n", rc, (unsigned long long)bytes);
    } else if (strcmp(step, "inquiry") == 0) {
        const uint8_t cdb[6] = {0x12, 0, 0, 0, 96, 0};
        sg_command("inquiry", cdb, sizeof cdb, 96, 5000);
    } else if (strcmp(step, "tur") == 0) {
        const uint8_t cdb[6] = {0};
        sg_command("tur", cdb, sizeof cdb, 0, 5000);
    } else if (strcmp(step, "quicktur") == 0) {
        const uint8_t cdb[6] = {0};
        sg_command("quicktur", cdb, sizeof cdb, 0, 30);
    } else if (strcmp(step, "badop") == 0) {
        const uint8_t cdb[10] = {0xd9};
        sg_command("badop", cdb, sizeof cdb, 8, 5000);
    } else if (strcmp(step, "read") == 0) {
        long lba = strtol(argv[++*i], NULL, 10);
        uint8_t sector[2048];
        ssize_t n = pread(g_fd, sector, sizeof sector, (off_t)lba * 2048);
        printf("read n=%zd first=%02x last=%02x\n", n, n > 0 ? sector[0] : 0, n > 0 ? sector[n - 1] : 0);
    } else if (strcmp(step, "child-open") == 0) {
        const char* path = argv[++*i];
        const char* mode = argv[++*i];
        fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            execl(g_self, g_self, "open", path, mode, (char*)NULL);
            _exit(127);
        }
        waitpid(pid, NULL, 0);
    } else if (strcmp(step, "exec-fstat") == 0) {
        /* A child that only inherits the descriptor must still see the device (growisofs -umount). */
        fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            char fd[16];
            snprintf(fd, sizeof fd, "%d", g_fd);
            execl(g_self, g_self, "--fd", fd, "fstat", "inquiry", (char*)NULL);
            _exit(127);
        }
        waitpid(pid, NULL, 0);
    } else if (strcmp(step, "close") == 0) {
        printf("close rc=%d\n", close(g_fd));
        g_fd = -1;
    } else {
        printf("unknown step %s\n", step);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    g_self = "/proc/self/exe";
    setvbuf(stdout, NULL, _IOLBF, 0);
    int i = 1;
    if (argc > 2 && strcmp(argv[1], "--fd") == 0) {
        g_fd = atoi(argv[2]);
        i = 3;
    }
    for (; i < argc; ++i)
        if (run_step(argv, &i) != 0) return 2;
    return 0;
}
