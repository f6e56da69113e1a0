/* Wire protocol between the preload library (inside a burning program) and the recorder server that
 * owns the image recorder. Plain C so that both the C library and the C++ server include it.
 * One request, then one reply, on a Unix stream socket; integers in host order (same machine). */
#ifndef BRENWICK_PRELOAD_PROTOCOL_H
#define BRENWICK_PRELOAD_PROTOCOL_H

#include <stdint.h>

#define BRW_PRELOAD_MAGIC 0x42575052u /* "BWPR" */
#define BRW_PRELOAD_MAX_TRANSFER (16u * 1024u * 1024u)
#define BRW_PRELOAD_SENSE_MAX 32u

enum brw_preload_op {
    BRW_OP_HELLO = 1,   /* reply data: the image file path */
    BRW_OP_COMMAND = 2, /* one CDB; data-out follows the request, data-in follows the reply */
    BRW_OP_CLAIM = 3,   /* exclusive open: reply error EBUSY while another connection holds it */
    BRW_OP_RELEASE = 4
};

enum brw_preload_direction { BRW_DIR_NONE = 0, BRW_DIR_IN = 1, BRW_DIR_OUT = 2 };

struct brw_preload_request { /* 36 bytes */
    uint32_t magic;
    uint32_t op;
    uint8_t cdb_length;
    uint8_t direction;
    uint16_t reserved;
    uint32_t transfer_length; /* data-in wanted, or data-out bytes following */
    uint32_t timeout_ms;
    uint8_t cdb[16];
};

struct brw_preload_reply { /* 56 bytes */
    uint32_t magic;
    int32_t error;        /* 0, or an errno for HELLO/CLAIM */
    uint8_t status;       /* SCSI status byte */
    uint8_t host_status;  /* the target's transport status (00h ok, 09h time-out, 11h gone) */
    uint8_t sense_length; /* valid bytes in sense */
    uint8_t reserved;
    uint32_t data_length; /* bytes following the reply */
    uint32_t transferred; /* bytes moved in the data phase */
    uint8_t sense[BRW_PRELOAD_SENSE_MAX];
    uint32_t reserved2;
};

#ifdef __cplusplus
static_assert(sizeof(brw_preload_request) == 36, "request header size");
static_assert(sizeof(brw_preload_reply) == 56, "reply header size");
#else
_Static_assert(sizeof(struct brw_preload_request) == 36, "request header size");
_Static_assert(sizeof(struct brw_preload_reply) == 56, "reply header size");
#endif

#endif
