// sdmmc: detects, mounts, measures, fills, repairs and formats the SD card,
// through the board's shell utilities. Every action runs while the command
// line is parsed, in the order of its options.
#include "bvcommon.h"
#include "debug_module.h"
#include "osa.h"

#include <errno.h>
#include <getopt.h>
#include <mntent.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

static const char OSA_UNIT[] = "bv_sdmmc";

enum {
    SDMMC_MODULE_ID = 10,
    SDMMC_CMD_SIZE = 256,
    SDMMC_FILL_COUNT_MAX = 40960,
    SDMMC_FILL_SIZE_MAX = 1024, // MiB; eight 128 KiB blocks each must fit dd's count
    SDMMC_FREE_REPORT_EVERY = 32,
    SDMMC_RETRY_WAIT_MS = 1000,
    SDMMC_SETTLE_MS = 1000,
    SDMMC_FDISK_LINE_WAIT_MS = 500,
    SDMMC_UNMOUNT_MAX = 8, // mounts of the card taken down before a format
    SDMMC_STOPPED = -2,    // a step not started: a stop was asked for
};

// Card device nodes, probed in this order.
static const char *const sdmmc_devices[] = {"/dev/mmcblk0", "/dev/mmcblk1", "/dev/mmcblk2",
                                            "/dev/mmcblk3"};
static const char SDMMC_MOUNT_POINT[] = "/mnt/mmc";
static const char SDMMC_MOUNTS[] = "/proc/mounts";
static const char SDMMC_NOT_INSERTED[] = "SD/mmc isn't inserted, please check again!";
// Deletes partitions 1 to 4, then writes the table (the last line).
static const char SDMMC_FDISK_SCRIPT[] = "d1\nd2\nd3\nd4\n w\n";
// Leaves fdisk without writing anything.
static const char SDMMC_FDISK_QUIT[] = "q\n";

static const char *sdmmc_dev; // the card selected by the last detection

static struct {
    uint32_t fill_file_size_mb; // MiB per fill file
    uint32_t fill_file_count;
} settings = {128, 128};

enum { OPT_INIT = 1 };

static const struct option sdmmc_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"filenum", required_argument, NULL, 'n'},
    {"filesize", required_argument, NULL, 'z'},
    {"info", no_argument, NULL, 'i'},
    {"init", no_argument, NULL, OPT_INIT},
    {"speed", no_argument, NULL, 's'},
    {"repair", no_argument, NULL, 'r'},
    {"format", no_argument, NULL, 'f'},
    {"filling", no_argument, NULL, 'F'},
    {"mount", no_argument, NULL, 'm'},
    {NULL, 0, NULL, 0},
};
static const help_entry sdmmc_help[] = {
    {"module", "module name: sdmmc"},
    {"digit", "sdmmc filling file numbers [n], default 128, [1-40960]"},
    {"digit", "sdmmc filling file echo filesize [n]MB, default 128MB, [1-4096]"},
    {"", "sdmmc base information(blocksize, total size, freesize, usesize)."},
    {"", "Sdmmc init device."},
    {"", "sdmmc check read and write speed."},
    {"", "Repair sdmmc disk."},
    {"", "Format sdmmc disk."},
    {"", "Filling sdmmc disk to full."},
    {"", "Mount sdmmc."},
};
static_assert(OPTION_ROWS(sdmmc_options) == ARRAY_SIZE(sdmmc_help), "one help row per option");

/* ---- helpers ------------------------------------------------------------- */

// Every shell command is built in a zeroed buffer of the board's command size
// and run after the console is flushed; the result is system()'s status.
DEBUG_PRINTF(2, 0) static int sdmmc_run_command(bool unless_stopped, const char *fmt, va_list ap)
{
    char command[SDMMC_CMD_SIZE];
    memset(command, 0, sizeof command);
    vsnprintf(command, sizeof command, fmt, ap);
    if (!unless_stopped)
        return OSA_system(command);
    int status = OSA_systemUnlessStopped(command);
    return status == -1 && errno == ECANCELED ? SDMMC_STOPPED : status;
}

DEBUG_PRINTF(1, 2) static int sdmmc_shell(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int status = sdmmc_run_command(false, fmt, ap);
    va_end(ap);
    return status;
}

// A step of the format, repair, fill and speed sequences: not started once a
// stop has been asked for (SDMMC_STOPPED), so that nothing changes the card
// after Ctrl-C or SIGTERM.
DEBUG_PRINTF(1, 2) static int sdmmc_step(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int status = sdmmc_run_command(true, fmt, ap);
    va_end(ap);
    return status;
}

// Sizes of the mounted card, in bytes.
struct card_sizes {
    uint64_t block;
    uint64_t total;
    uint64_t free; // free blocks including those kept for the superuser
};

// 0, or the error number when the mount point cannot be read: the figures
// are then never used, so nothing is printed from an unfilled record. The
// record is zeroed first all the same: the compiler cannot know that the
// error number is never 0.
static int card_sizes_read(card_sizes *sizes)
{
    memset(sizes, 0, sizeof *sizes);
    struct statfs64 st;
    memset(&st, 0, sizeof st);
    if (statfs64(SDMMC_MOUNT_POINT, &st) != 0)
        return errno;
    sizes->block = (uint64_t)st.f_bsize;
    sizes->total = (uint64_t)st.f_blocks * sizes->block;
    sizes->free = (uint64_t)st.f_bfree * sizes->block;
    return 0;
}

static unsigned long long kib(uint64_t bytes) { return bytes >> 10; }
static unsigned long long mib(uint64_t bytes) { return bytes >> 20; }
static double gib(uint64_t bytes) { return (double)(bytes >> 20) / 1024.0; }

/* ---- detection and mount ------------------------------------------------- */

// 1: exactly one card node (selected), 0: none, -1: more than one.
static int sdmmc_detect(void)
{
    int found = 0;
    for (const char *path : sdmmc_devices) {
        if (access(path, F_OK) != 0)
            continue;
        if (++found > 1)
            return -1;
        sdmmc_dev = path;
    }
    return found == 1 ? 1 : 0;
}

static int sdmmc_init(void)
{
    int found = sdmmc_detect();
    if (found == 1)
        return 0;
    if (found == 0) {
        OSA_puts(SDMMC_NOT_INSERTED);
        return -1;
    }
    // Several nodes: give the driver a moment to settle, then look again.
    OSA_puts("SD/mmc has error, try to reinit!");
    OSA_sleepMs(SDMMC_RETRY_WAIT_MS);
    found = sdmmc_detect();
    if (found == 1) {
        OSA_puts("SD/mmc inserted!");
        return 0;
    }
    if (found == 0) {
        OSA_puts(SDMMC_NOT_INSERTED);
        OSA_ERROR("SD/mmc has unknow error!\n");
        return -1;
    }
    OSA_ERROR("SD/mmc has error, reinit faild!\n");
    return -1;
}

// Any mmcblk device already mounted, wherever, counts as the card mounted.
static int sdmmc_mount(void)
{
    if (sdmmc_shell("df | grep mmcblk > /dev/null 2>&1") == 0)
        return 0;
    if (sdmmc_init() != 0)
        return -1;
    return sdmmc_shell("mount -t vfat %s /mnt/mmc -o async,umask=000", sdmmc_dev);
}

static void sdmmc_flush(void)
{
    bv_free_system_caches();
    OSA_sleepMs(SDMMC_SETTLE_MS);
    sdmmc_shell("sync");
    OSA_sleepMs(SDMMC_SETTLE_MS);
}

/* ---- actions ------------------------------------------------------------- */

// Writes TEXT to fdisk a character at a time; false once fdisk has gone.
static bool sdmmc_type(FILE *fdisk, const char *text, size_t len)
{
    for (size_t i = 0; i < len; i++)
        if (putc(text[i], fdisk) == EOF)
            return false; // fdisk has gone: the rest would go nowhere
    return true;
}

// Types the script into fdisk a character at a time, pausing before each
// newline so that fdisk has taken each command before the next one comes.
// The last line writes the table: its pause comes before it, and once a stop
// has been asked for fdisk is told to quit instead, and nothing is written.
// False when stopped so.
static bool sdmmc_feed_fdisk(FILE *fdisk)
{
    setvbuf(fdisk, NULL, _IONBF, 0);
    for (const char *line = SDMMC_FDISK_SCRIPT; *line != '\0';) {
        size_t len = strcspn(line, "\n");
        bool writes = line[len] == '\n' && line[len + 1] == '\0';
        if (writes)
            OSA_sleepMs(SDMMC_FDISK_LINE_WAIT_MS);
        if (stop_flag) {
            sdmmc_type(fdisk, SDMMC_FDISK_QUIT, strlen(SDMMC_FDISK_QUIT));
            return false;
        }
        if (!sdmmc_type(fdisk, line, len))
            return true;
        if (!writes)
            OSA_sleepMs(SDMMC_FDISK_LINE_WAIT_MS);
        if (line[len] == '\n' && !sdmmc_type(fdisk, "\n", 1))
            return true;
        line += len + (line[len] == '\n');
    }
    return true;
}

// The mount of the card (or of one of its partitions) listed first in
// /proc/mounts, copied into SOURCE; false when none is mounted.
static bool sdmmc_find_mount(char *source, size_t size)
{
    FILE *mounts = setmntent(SDMMC_MOUNTS, "r");
    if (mounts == NULL)
        return false;
    size_t dev_len = strlen(sdmmc_dev);
    bool found = false;
    struct mntent *m;
    while (!found && (m = getmntent(mounts)) != NULL) {
        const char *rest = m->mnt_fsname + dev_len;
        if (strncmp(m->mnt_fsname, sdmmc_dev, dev_len) != 0)
            continue;
        // The device itself, or a partition: "p" and digits only.
        found = *rest == '\0' || (rest[0] == 'p' && rest[1] != '\0' &&
                                  strspn(rest + 1, "0123456789") == strlen(rest + 1));
        if (found)
            snprintf(source, size, "%s", m->mnt_fsname);
    }
    endmntent(mounts);
    return found;
}

// A mounted card cannot be partitioned and formatted (mkdosfs refuses it,
// after fdisk has already written): every mount of it is taken down first.
static int sdmmc_unmount(void)
{
    char source[SDMMC_CMD_SIZE];
    for (int i = 0; i < SDMMC_UNMOUNT_MAX && sdmmc_find_mount(source, sizeof source); i++) {
        if (sdmmc_shell("umount %s", source) != 0) {
            OSA_ERROR("umount %s failed, %s not formatted\n", source, sdmmc_dev);
            return -1;
        }
    }
    return 0;
}

static int sdmmc_format(void)
{
    if (sdmmc_init() != 0 || sdmmc_unmount() != 0)
        return -1;
    char command[SDMMC_CMD_SIZE];
    memset(command, 0, sizeof command);
    snprintf(command, sizeof command, "fdisk %s", sdmmc_dev);
    // An fdisk that ends early must not take the tool with it (SIGPIPE).
    void (*old_pipe)(int) = signal(SIGPIPE, SIG_IGN);
    FILE *fdisk = OSA_popen(command, "w");
    if (fdisk == NULL) {
        signal(SIGPIPE, old_pipe);
        OSA_printf("fdisk %s failed!\n", sdmmc_dev);
        return -1;
    }
    bool fed = sdmmc_feed_fdisk(fdisk);
    pclose(fdisk);
    signal(SIGPIPE, old_pipe);
    if (!fed) {
        OSA_ERROR("stopped before fdisk wrote the partition table of %s\n", sdmmc_dev);
        return -1;
    }
    sdmmc_flush();
    OSA_sleepMs(SDMMC_SETTLE_MS);
    int status = sdmmc_step("time mkdosfs -I -F 32 %s", sdmmc_dev);
    if (status == SDMMC_STOPPED) {
        OSA_ERROR("stopped after fdisk, before mkdosfs: %s not formatted\n", sdmmc_dev);
        return -1;
    }
    if (status != 0) {
        OSA_puts("Sd/mmc format failed!");
        return -1;
    }
    sdmmc_flush();
    return 0;
}

// dosfsck ends with 1 both when it has corrected the file system and when it
// could not check it at all (no FAT on the card): 1 is a success when a
// read-only check then finds the file system clean.
static int sdmmc_repair(void)
{
    if (sdmmc_init() != 0)
        return -1;
    int status = sdmmc_step("time dosfsck -a -v -V %s", sdmmc_dev);
    if (status == SDMMC_STOPPED) {
        OSA_ERROR("stopped before dosfsck: %s not repaired\n", sdmmc_dev);
        return -1;
    }
    if (status != 0 && WIFEXITED(status) && WEXITSTATUS(status) == 1)
        status = sdmmc_step("dosfsck -n %s > /dev/null 2>&1", sdmmc_dev);
    if (status != 0) {
        OSA_printf("Sd/mmc repair %s faild!\n", sdmmc_dev);
        return -1;
    }
    OSA_printf("Sd/mmc repair %s success!\n", sdmmc_dev);
    return 0;
}

static void sdmmc_print_sizes(const card_sizes &sizes)
{
    uint64_t used = sizes.total - sizes.free;
    OSA_printf("Block = %llu KB \n", kib(sizes.block));
    OSA_printf("Total = %llu B = %llu KB = %llu MB = %.2f GB\n", (unsigned long long)sizes.total,
               kib(sizes.total), mib(sizes.total), gib(sizes.total));
    OSA_printf("Free = %llu KB = %llu MB = %.2f GB\n", kib(sizes.free), mib(sizes.free),
               gib(sizes.free));
    OSA_printf("Use = %llu KB = %llu MB = %.2f GB\n", kib(used), mib(used), gib(used));
}

static int sdmmc_info(void)
{
    if (sdmmc_mount() != 0) {
        OSA_ERROR("sdmmc mount failed!\n");
        return -1;
    }
    card_sizes sizes;
    int err = card_sizes_read(&sizes);
    if (err != 0) {
        OSA_ERROR("statfs64 %s failed: %s\n", SDMMC_MOUNT_POINT, strerror(err));
        return -1;
    }
    sdmmc_print_sizes(sizes);
    return 0;
}

static int sdmmc_test_speed(void)
{
    if (sdmmc_mount() != 0) {
        OSA_ERROR("sdmmc mount failed!\n");
        return -1;
    }
    // dd and time print the figures; the write is flushed out of the
    // caches so that the read comes from the card. After a stop neither dd
    // starts; the file goes all the same.
    if (sdmmc_step("time dd if=/dev/zero of=/mnt/mmc/empty.file bs=128k count=1k ") !=
        SDMMC_STOPPED) {
        sdmmc_flush();
        sdmmc_step("time dd if=/mnt/mmc/empty.file of=/dev/null bs=128k count=1k ");
        OSA_sleepMs(SDMMC_SETTLE_MS);
    }
    sdmmc_shell("rm -rf /mnt/mmc/empty.file");
    return 0;
}

// 0, or the error number, with nothing printed, when the mount point cannot
// be read.
static int sdmmc_print_free(void)
{
    card_sizes sizes;
    int err = card_sizes_read(&sizes);
    if (err == 0)
        OSA_printf("Free size = %llu MB \n", mib(sizes.free));
    return err;
}

// What became of a file whose dd failed: its name, why (a card with less
// room left than a file is full) and whether part of it was written.
static void sdmmc_fill_failure(uint32_t index, int status, char *text, size_t size)
{
    char path[64];
    snprintf(path, sizeof path, "%s/file%d", SDMMC_MOUNT_POINT, (int)index);
    struct stat st;
    bool part = stat(path, &st) == 0 && st.st_size > 0;
    card_sizes sizes;
    bool full = card_sizes_read(&sizes) == 0 &&
                sizes.free < (uint64_t)settings.fill_file_size_mb * 1024u * 1024u;
    char reason[64];
    if (full)
        snprintf(reason, sizeof reason, "%s", strerror(ENOSPC));
    else
        snprintf(reason, sizeof reason, "dd failed with status %d", status);
    snprintf(text, size, "%s: %s, %s", path, reason, part ? "written in part" : "not written");
}

// The fill ends at the first dd that fails (a full card): the files after it
// would be empty, and the total counts only the whole files.
static int sdmmc_filling_disk(void)
{
    if (sdmmc_mount() != 0) {
        OSA_ERROR("sdmmc mount failed!\n");
        return -1;
    }
    card_sizes sizes;
    int err = card_sizes_read(&sizes);
    if (err == 0)
        OSA_printf("All size = %llu MB, free size = %llu MB \n", mib(sizes.total),
                   mib(sizes.free));
    else
        OSA_ERROR("statfs64 %s failed: %s\n", SDMMC_MOUNT_POINT, strerror(err));
    OSA_printf("Try to filling sdmmc by creating %d files, echo file size %d MB \n",
               (int)settings.fill_file_count, (int)settings.fill_file_size_mb);
    // A file whose dd was not started after a stop is not counted.
    uint32_t i;
    for (i = 0; i < settings.fill_file_count && !stop_flag; i++) {
        OSA_printf("Create %s/file%d \n", SDMMC_MOUNT_POINT, (int)i);
        int status = sdmmc_step("dd if=/dev/zero of=/mnt/mmc/file%d  bs=128k count=%u > /dev/null 2>&1",
                                (int)i, settings.fill_file_size_mb * 8u);
        if (status == SDMMC_STOPPED)
            break;
        // A dd ended by a stop counts, as the loop's own test then ends it.
        if (status != 0 && !stop_flag) {
            char text[160];
            sdmmc_fill_failure(i, status, text, sizeof text);
            OSA_ERROR("%s; the fill ends \n", text);
            break;
        }
        if ((i + 1) % SDMMC_FREE_REPORT_EVERY == 0 && (err = sdmmc_print_free()) != 0)
            OSA_ERROR("statfs64 %s failed: %s\n", SDMMC_MOUNT_POINT, strerror(err));
        OSA_sleepMs(SDMMC_SETTLE_MS);
    }
    OSA_printf("Create total %d files \n", (int)i);
    if ((err = sdmmc_print_free()) != 0)
        OSA_ERROR("statfs64 %s failed: %s\n", SDMMC_MOUNT_POINT, strerror(err));
    sdmmc_flush();
    return 0;
}

/* ---- option parser, run and usage ---------------------------------------- */

static const struct {
    int option;
    int (*run)(void);
    const char *failure;
} sdmmc_actions[] = {
    {'i', sdmmc_info, "sdmmc check information faild!\n"},
    {'s', sdmmc_test_speed, "sdmmc test speed faild!\n"},
    {'r', sdmmc_repair, "sdmmc repair disk faild!\n"},
    {'f', sdmmc_format, "sdmmc format disk faild!\n"},
    {'F', sdmmc_filling_disk, "sdmmc filling disk faild!\n"},
    {'m', sdmmc_mount, "sdmmc mount faild!\n"},
};

// Stores the value, cut to 32 bits like the setting, and says whether the
// whole value lies in [1, max]: a value past 32 bits is not taken for the
// small number its low bits happen to make.
static bool sdmmc_parse_value(const char *text, uint32_t *value, unsigned long max)
{
    unsigned long parsed = strtoul(text, NULL, 0);
    *value = (uint32_t)parsed;
    return parsed >= 1 && parsed <= max;
}

static int sdmmc_usage(void);

static int sdmmc_perform(int (*action)(void)) { return action(); }

// PERFORM runs an action option's work: the fuzz target parses without it.
static int sdmmc_init_param(int argc, char **argv, int (*perform)(int (*)(void)) = sdmmc_perform)
{
    int error = 0, index = 0, opt;
    // After a stop no further action starts.
    while (!error && !stop_flag &&
           (opt = getopt_long(argc, argv, "M:n:z:isrfFm", sdmmc_options, &index)) != -1) {
        bool acted = false;
        for (const auto &action : sdmmc_actions) {
            if (action.option != opt)
                continue;
            if (perform(action.run) != 0)
                OSA_ERROR("%s", action.failure);
            acted = true;
        }
        if (acted)
            continue;
        switch (opt) {
        case 'n':
            if (!sdmmc_parse_value(optarg, &settings.fill_file_count, SDMMC_FILL_COUNT_MAX)) {
                OSA_ERROR("filling file numbers must in [1-40960]!\n");
                error = 1;
            }
            break;
        case 'z':
            if (!sdmmc_parse_value(optarg, &settings.fill_file_size_mb, SDMMC_FILL_SIZE_MAX)) {
                OSA_ERROR("filling file size must in [1-1024]!\n");
                error = 1;
            }
            break;
        case '?':
            OSA_ERROR("Unknow option\n");
            error = 1;
            break;
        default: // 'M' was taken by the entry point; --init has nothing to do
            break;
        }
    }
    if (error) {
        sdmmc_usage();
        exit(-1);
    }
    return 0;
}

static int sdmmc_run(int argc, char **argv) { return sdmmc_init_param(argc, argv); }

static int sdmmc_usage(void)
{
    module_print_usage(SDMMC_MODULE_ID, sdmmc_options, sdmmc_help, ARRAY_SIZE(sdmmc_help));
    return 0;
}

static debug_module sdmmc_module = {"sdmmc", SDMMC_MODULE_ID, sdmmc_run, sdmmc_usage, NULL};

MODULE_REGISTER(sdmmc_module)
