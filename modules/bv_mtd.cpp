// mtd: lists the bad erase blocks of the raw NAND flash. The partition list
// comes from /proc/mtd; every erase block of every partition is asked about
// with MEMGETBADBLOCK. Nothing is marked, erased or written.
#include <fcntl.h>
#include <getopt.h>
#include <mtd/mtd-user.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "debug_module.h"
#include "osa.h"

static const char OSA_UNIT[] = "bv_mtd";

#define MTD_MODULE_ID 23
static const char MTD_PROC_PATH[] = "/proc/mtd";

#define MTD_MAX_PARTITIONS 16
#define MTD_MAX_BAD_BLOCKS 128
#define MTD_LINE_SIZE 1024    // one /proc/mtd line, terminator included
#define MTD_DEV_NAME_SIZE 64  // the device name before the colon, cut to 63
#define MTD_PATH_SIZE 32
#define MTD_NAME_SIZE 32

// The request takes the offset within the partition as a 64-bit value.
static_assert(MEMGETBADBLOCK == 0x40084D0B, "MEMGETBADBLOCK: write, 'M', 11, 8 bytes");
static_assert(sizeof(__kernel_loff_t) == 8, "MEMGETBADBLOCK takes a 64-bit offset");

// One partition line of /proc/mtd and what the scan found in it.
typedef struct mtd_partition {
    char dev_path[MTD_PATH_SIZE]; // "/dev/mtdN", cut to 31 characters
    uint32_t start;               // flash address: sum of the sizes before it
    uint32_t size;
    uint32_t erase_size;
    char name[MTD_NAME_SIZE];     // quotes included, up to the first blank
    uint32_t bad_count;           // every bad block found, listed or not
    uint32_t bad_offsets[MTD_MAX_BAD_BLOCKS]; // flash addresses, ascending
} mtd_partition;
static_assert(offsetof(mtd_partition, start) == 32, "mtd_partition layout");
static_assert(offsetof(mtd_partition, name) == 44, "mtd_partition layout");
static_assert(offsetof(mtd_partition, bad_offsets) == 80, "mtd_partition layout");
static_assert(sizeof(mtd_partition) == 80 + 4 * MTD_MAX_BAD_BLOCKS, "mtd_partition layout");

static mtd_partition mtd_partitions[MTD_MAX_PARTITIONS];
static int mtd_partition_count;
// Entries whose device name did not fit dev_path: the cut path could name
// another partition's device, so it is never opened.
static bool mtd_path_cut[MTD_MAX_PARTITIONS];

static const struct option mtd_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"badblock", required_argument, NULL, 'b'},
    {NULL, 0, NULL, 0},
};
static const help_entry mtd_help[] = {
    {"module", "module name: pwm"},
    {"1", "cat badblock info"},
};
static_assert(OPTION_ROWS(mtd_options) == ARRAY_SIZE(mtd_help), "one help row per option");

static int mtd_usage(void);

// 0 when -b 1 was given, else -1. Bad options are reported and skipped.
static int mtd_init_param(int argc, char **argv)
{
    int result = -1;
    int opt;

    optind = 0; // a fresh scan, whatever getopt parsed before
    while ((opt = getopt_long(argc, argv, "M:b:", mtd_options, NULL)) != -1) {
        switch (opt) {
        case 'M':
            break;
        case 'b': {
            int32_t value; // 4294967297 is no 1
            if (option_decimal(optarg, &value) && value == 1)
                result = 0;
            break;
        }
        default:
            OSA_ERROR("Unknow option\n");
            mtd_usage();
            break;
        }
    }
    return result;
}

// Fills *p from one line that names an MTD device; 0 when the line is not a
// partition line (no device name before a colon, no size and erase size, or
// numbers beyond 32 bits). Sets *cut when the device path was cut.
static int mtd_parse_line(const char *line, mtd_partition *p, bool *cut)
{
    const char *colon = strchr(line, ':');
    if (colon == NULL || colon == line)
        return 0;

    char dev_name[MTD_DEV_NAME_SIZE];
    size_t len = (size_t)(colon - line);
    *cut = len >= sizeof(dev_name);
    snprintf(dev_name, sizeof(dev_name), "%.*s", (int)(*cut ? sizeof(dev_name) - 1 : len), line);

    unsigned long long size = 0, erase_size = 0;
    char name[MTD_NAME_SIZE] = "";
    if (sscanf(colon + 1, " %llx %llx %31s", &size, &erase_size, name) < 2)
        return 0;
    if (size > UINT32_MAX || erase_size > UINT32_MAX)
        return 0;

    if (snprintf(p->dev_path, sizeof(p->dev_path), "/dev/%s", dev_name) >= (int)sizeof(p->dev_path))
        *cut = true;
    p->size = (uint32_t)size;
    p->erase_size = (uint32_t)erase_size;
    snprintf(p->name, sizeof(p->name), "%s", name);
    return 1;
}

// Reads the partition table; returns how many partition lines did not fit.
static int mtd_read_table(FILE *fp)
{
    char line[MTD_LINE_SIZE];
    uint32_t next_start = 0;
    int dropped = 0;

    memset(mtd_partitions, 0, sizeof(mtd_partitions));
    memset(mtd_path_cut, 0, sizeof(mtd_path_cut));
    mtd_partition_count = 0;
    while (fgets(line, sizeof(line), fp) != NULL) {
        // The rest of an over-long line is not a line of its own.
        if (strchr(line, '\n') == NULL) {
            int ch;
            while ((ch = fgetc(fp)) != EOF && ch != '\n') {
            }
        }
        if (strstr(line, "mtd") == NULL)
            continue;
        mtd_partition entry = {};
        bool cut = false;
        if (!mtd_parse_line(line, &entry, &cut))
            continue;
        if (mtd_partition_count == MTD_MAX_PARTITIONS) {
            dropped++;
            continue;
        }
        entry.start = next_start;
        next_start += entry.size;
        mtd_path_cut[mtd_partition_count] = cut;
        mtd_partitions[mtd_partition_count++] = entry;
    }
    return dropped;
}

// Asks about every erase block of an open partition device. Stops at the
// first failing request; the blocks found before it stay listed.
static void mtd_scan_blocks(int fd, mtd_partition *p)
{
    // 64-bit, so that a partition ending near 4 GiB cannot wrap the offset.
    for (uint64_t offset = 0; offset < p->size; offset += p->erase_size) {
        __kernel_loff_t arg = (__kernel_loff_t)offset;
        int ret = ioctl(fd, MEMGETBADBLOCK, &arg);
        if (ret < 0) {
            OSA_printf("ioctl MEMGETBADBLOCK failed, %s, error=%d\n", p->dev_path, ret);
            return;
        }
        if (ret > 0) {
            if (p->bad_count < MTD_MAX_BAD_BLOCKS)
                p->bad_offsets[p->bad_count] = p->start + (uint32_t)offset;
            p->bad_count++;
        }
    }
}

static void mtd_report(void)
{
    int total = 0;

    for (int i = 0; i < mtd_partition_count; i++) {
        const mtd_partition *p = &mtd_partitions[i];
        if (p->bad_count == 0)
            continue;
        OSA_printf("%s (%s) : \n", p->dev_path, p->name);
        uint32_t listed = p->bad_count < MTD_MAX_BAD_BLOCKS ? p->bad_count : MTD_MAX_BAD_BLOCKS;
        for (uint32_t j = 0; j < listed; j++)
            OSA_printf("Bad block found at : %08x\n", p->bad_offsets[j]);
        if (p->bad_count > listed)
            OSA_printf("Bad blocks not listed : %u\n", p->bad_count - listed);
        total += (int)p->bad_count;
    }
    OSA_printf("\nTotal bad block : %d\n", total);
}

static int bv_badblock_check(void)
{
    FILE *fp = fopen(MTD_PROC_PATH, "r");
    if (fp == NULL) {
        OSA_ERROR("%s open failed\n", MTD_PROC_PATH);
        return -1;
    }
    int dropped = mtd_read_table(fp);
    fclose(fp);
    if (dropped > 0)
        OSA_ERROR("%s: %d partitions after the first %d not checked\n", MTD_PROC_PATH, dropped,
                  MTD_MAX_PARTITIONS);

    for (int i = 0; i < mtd_partition_count; i++) {
        mtd_partition *p = &mtd_partitions[i];
        p->bad_count = 0;
        if (mtd_path_cut[i]) {
            OSA_ERROR("%s device name too long, not checked\n", p->dev_path);
            continue;
        }
        int fd = open(p->dev_path, O_RDONLY);
        if (fd < 0) {
            OSA_ERROR("%s open failed\n", p->dev_path);
            continue;
        }
        // An erase size of 0 would never move on to the next block.
        if (p->erase_size == 0)
            OSA_ERROR("%s erase size 0, not checked\n", p->dev_path);
        else
            mtd_scan_blocks(fd, p);
        close(fd);
    }
    mtd_report();
    return 0;
}

static int mtd_run(int argc, char **argv)
{
    if (mtd_init_param(argc, argv) != 0)
        return -1;
    bv_badblock_check();
    return 0;
}

static int mtd_usage(void)
{
    module_print_usage(MTD_MODULE_ID, mtd_options, mtd_help, ARRAY_SIZE(mtd_help));
    return 0;
}

// Nothing outlives a run.
static int mtd_release(void) { return 0; }

static debug_module mtd_module = {"mtd", MTD_MODULE_ID, mtd_run, mtd_usage, mtd_release};

MODULE_REGISTER(mtd_module)
