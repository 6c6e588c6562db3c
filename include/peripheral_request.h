/*
 * Request records that this tool leaves in System V shared memory for the
 * camera's peripheral-control process (pt, extdrv) and light-control
 * process (adc), and the one procedure that puts a record there.
 *
 * The records are read by other programs byte for byte: plain 32-bit words
 * in native byte order, no padding, sizes fixed.
 */
#ifndef PERIPHERAL_REQUEST_H
#define PERIPHERAL_REQUEST_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#define REQUEST_STATIC_ASSERT static_assert
#else
#define REQUEST_STATIC_ASSERT _Static_assert
#endif

/* Segment keys, fixed numbers shared with the reading processes. */
#define PT_REQUEST_KEY ((key_t)7765432)     /* 0x767DB8 */
#define EXTDRV_REQUEST_KEY ((key_t)7765433) /* 0x767DB9 */
#define ADC_REQUEST_KEY ((key_t)7665432)    /* 0x74F718 */

/* One request to the peripheral-control process. */
typedef struct peripheral_request {
    int32_t valid;  /* 1 when the run formed a request */
    int32_t status; /* always written 0; the reader's to use */
    int32_t cmd;    /* command code 100..123 */
    int32_t param1; /* first argument, or the sub-command of 109 */
    int32_t param2;
    int32_t param3;
    int32_t param4;
    int32_t param5;
    int32_t reserved[5]; /* never written */
} peripheral_request;

REQUEST_STATIC_ASSERT(sizeof(peripheral_request) == 52, "peripheral_request is 52 bytes");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, valid) == 0, "valid at 0");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, status) == 4, "status at 4");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, cmd) == 8, "cmd at 8");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, param1) == 12, "param1 at 12");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, param2) == 16, "param2 at 16");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, param3) == 20, "param3 at 20");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, param4) == 24, "param4 at 24");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, param5) == 28, "param5 at 28");
REQUEST_STATIC_ASSERT(offsetof(peripheral_request, reserved) == 32, "reserved at 32");

/* One request to the light-control process. */
typedef struct adc_request {
    int32_t valid;       /* 1 when the run formed a request */
    int32_t cmd;         /* 1 thresholds, 2 sensitivity, 3 debug switch, 4 info */
    int32_t param1;      /* night threshold, sensitivity or debug switch */
    int32_t param2;      /* day threshold */
    int32_t reserved[8]; /* never written */
} adc_request;

REQUEST_STATIC_ASSERT(sizeof(adc_request) == 48, "adc_request is 48 bytes");
REQUEST_STATIC_ASSERT(offsetof(adc_request, valid) == 0, "valid at 0");
REQUEST_STATIC_ASSERT(offsetof(adc_request, cmd) == 4, "cmd at 4");
REQUEST_STATIC_ASSERT(offsetof(adc_request, param1) == 8, "param1 at 8");
REQUEST_STATIC_ASSERT(offsetof(adc_request, param2) == 12, "param2 at 12");
REQUEST_STATIC_ASSERT(offsetof(adc_request, reserved) == 16, "reserved at 16");

/*
 * Copies size bytes of record into the segment with the given key, creating
 * the segment (mode 0666) if it is missing. Nothing guards the segment: the
 * reader must cope with seeing a record while it is being written.
 * Returns 0, or -1 after a message when the segment cannot be had.
 */
int publish_request(key_t key, size_t size, const void *record);

/*
 * pt and extdrv are twins: one option parser and one usage, run with the
 * profile of the module at hand (bv_pt.cpp).
 */
typedef struct pt_profile {
    uint8_t id;                  /* module number */
    const char *unit;            /* unit name in error reports */
    const char *module_help;     /* help text of the -M row */
    key_t key;                   /* segment of the module's requests */
    peripheral_request *request; /* the module's own record */
} pt_profile;

int pt_init_param(const pt_profile *profile, int argc, char **argv);
int pt_profile_run(const pt_profile *profile, int argc, char **argv);
int pt_profile_usage(const pt_profile *profile);

#undef REQUEST_STATIC_ASSERT

#ifdef __cplusplus
}
#endif

#endif
