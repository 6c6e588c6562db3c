// sdmmc: detects, mounts, measures, fills, repairs and formats the SD card,
// through the board's shell utilities (GNU and util-linux ones, or
// BusyBox's: where the board has no time program, or a dd that prints no
// rate, the tool prints its own figures). Every action runs while the
// command line is parsed, in the order of its options.
#include "bvcommon.h"
#include "debug_module.h"
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <linux/fs.h>
#include <mntent.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
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
    SDMMC_UNMOUNT_MAX = 8, // mounts of the card taken down before a format or a repair
    SDMMC_STOPPED = -2,    // a step not started: a stop was asked for
    // The partition tables' places at either end of the card: the MBR and
    // the primary GPT (header and 128 entries, for sectors of up to 4 KiB)
    // at the start, the backup GPT at the end.
    SDMMC_TABLES_SIZE = 32 * 1024,
};

// Card device nodes, probed in this order.
static const char *const sdmmc_devices[] = {"/dev/mmcblk0", "/dev/mmcblk1", "/dev/mmcblk2",
                                            "/dev/mmcblk3"};
static const char SDMMC_MOUNT_POINT[] = "/mnt/mmc";
// Options before the operands: a getopt that does not reorder (BusyBox's on
// a C library other than glibc) takes whatever follows the first operand
// for an operand.
static const char SDMMC_MOUNT_COMMAND[] = "mount -t vfat -o async,umask=000 %s %s";
static const char SDMMC_SPEED_FILE[] = "/mnt/mmc/empty.file";
static const char SDMMC_MOUNTS[] = "/proc/mounts";
static const char SDMMC_NOT_INSERTED[] = "SD/mmc isn't inserted, please check again!";
// Deletes partitions 1 to 4, then writes the table (the last line).
static const char SDMMC_FDISK_SCRIPT[] = "d1\nd2\nd3\nd4\n w\n";
// Leaves fdisk without writing anything.
static const char SDMMC_FDISK_QUIT[] = "q\n";
// Every program the format runs once it has begun to change the card.
static const char *const sdmmc_format_programs[] = {"fdisk", "sync", "mkdosfs"};

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
// (PREFIX, then the formatted rest) and run after the console is flushed;
// the result is system()'s status. SPENT, when given, gets what the
// command took.
DEBUG_PRINTF(4, 0)
static int sdmmc_run_command(bool unless_stopped, OSA_commandTime *spent, const char *prefix,
                             const char *fmt, va_list ap)
{
    char command[SDMMC_CMD_SIZE];
    memset(command, 0, sizeof command);
    size_t len = strlen(prefix);
    memcpy(command, prefix, len);
    vsnprintf(command + len, sizeof command - len, fmt, ap);
    int status;
    if (spent != NULL)
        status = OSA_systemTimed(command, unless_stopped, spent);
    else if (unless_stopped)
        status = OSA_systemUnlessStopped(command);
    else
        return OSA_system(command);
    return status == -1 && errno == ECANCELED ? SDMMC_STOPPED : status;
}

DEBUG_PRINTF(1, 2) static int sdmmc_shell(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int status = sdmmc_run_command(false, NULL, "", fmt, ap);
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
    int status = sdmmc_run_command(true, NULL, "", fmt, ap);
    va_end(ap);
    return status;
}

// Seconds and hundredths, as time prints them.
static void sdmmc_seconds(char *text, size_t size, long long sec, long long usec)
{
    snprintf(text, size, "%lld.%02lld", sec, usec / 10000);
}

// What a command took, as GNU time prints it by default, from the kernel's
// account of the command (wait4) and the tool's monotonic clock.
static void sdmmc_print_time(int status, const OSA_commandTime &spent)
{
    if (WIFSIGNALED(status))
        OSA_printf("Command terminated by signal %d\n", WTERMSIG(status));
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        OSA_printf("Command exited with non-zero status %d\n", WEXITSTATUS(status));
    const struct rusage &ru = spent.usage;
    char user[32], system[32], elapsed[48], cpu[24];
    sdmmc_seconds(user, sizeof user, ru.ru_utime.tv_sec, ru.ru_utime.tv_usec);
    sdmmc_seconds(system, sizeof system, ru.ru_stime.tv_sec, ru.ru_stime.tv_usec);
    long long sec = (long long)(spent.elapsed_us / 1000000u);
    long long hundredths = (long long)(spent.elapsed_us % 1000000u / 10000u);
    if (sec >= 3600)
        snprintf(elapsed, sizeof elapsed, "%lld:%02lld:%02lld", sec / 3600, sec % 3600 / 60,
                 sec % 60);
    else
        snprintf(elapsed, sizeof elapsed, "%lld:%02lld.%02lld", sec / 60, sec % 60, hundredths);
    unsigned long long cpu_ms =
        (unsigned long long)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000u +
        (unsigned long long)(ru.ru_utime.tv_usec / 1000 + ru.ru_stime.tv_usec / 1000);
    unsigned long long elapsed_ms = spent.elapsed_us / 1000u;
    if (elapsed_ms > 0)
        snprintf(cpu, sizeof cpu, "%llu%%", cpu_ms * 100u / elapsed_ms);
    else
        snprintf(cpu, sizeof cpu, "?%%");
    OSA_printf("%suser %ssystem %selapsed %sCPU (%ldavgtext+%ldavgdata %ldmaxresident)k\n"
               "%ldinputs+%ldoutputs (%ldmajor+%ldminor)pagefaults %ldswaps\n",
               user, system, elapsed, cpu, (long)ru.ru_ixrss, (long)(ru.ru_idrss + ru.ru_isrss),
               (long)ru.ru_maxrss, (long)ru.ru_inblock, (long)ru.ru_oublock, (long)ru.ru_majflt,
               (long)ru.ru_minflt, (long)ru.ru_nswap);
}

// A step timed as the shell's time does it: "time COMMAND" where the board
// has a time program (neither dash nor BusyBox ash has a time keyword),
// otherwise COMMAND alone, after which the tool prints what it measured
// itself, in GNU time's form. SPENT, when given, gets the command's time
// either way.
DEBUG_PRINTF(2, 3) static int sdmmc_timed_step(OSA_commandTime *spent, const char *fmt, ...)
{
    bool time_found = OSA_programFound("time") != 0;
    OSA_commandTime own;
    memset(&own, 0, sizeof own);
    va_list ap;
    va_start(ap, fmt);
    int status = sdmmc_run_command(true, &own, time_found ? "time " : "", fmt, ap);
    va_end(ap);
    if (status == SDMMC_STOPPED || status == -1)
        return status;
    if (!time_found)
        sdmmc_print_time(status, own);
    if (spent != NULL)
        *spent = own;
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
    // df's own complaints about other mount points (BusyBox's df reports
    // each one it cannot read) are no concern of the card's.
    if (sdmmc_shell("df 2>/dev/null | grep mmcblk > /dev/null 2>&1") == 0)
        return 0;
    if (sdmmc_init() != 0)
        return -1;
    return sdmmc_shell(SDMMC_MOUNT_COMMAND, sdmmc_dev, SDMMC_MOUNT_POINT);
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

// A mount of the card (or of one of its partitions), as /proc/mounts lists it.
struct card_mount {
    char source[64];
    char dir[160];
};

// The mounts taken down by sdmmc_unmount(), to be mounted again.
struct card_mounts {
    int count;
    card_mount list[SDMMC_UNMOUNT_MAX];
};

// The mount of the card (or of one of its partitions) listed first in
// /proc/mounts; false when none is mounted.
static bool sdmmc_find_mount(card_mount *found_mount)
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
        if (found) {
            snprintf(found_mount->source, sizeof found_mount->source, "%s", m->mnt_fsname);
            snprintf(found_mount->dir, sizeof found_mount->dir, "%s", m->mnt_dir);
        }
    }
    endmntent(mounts);
    return found;
}

static bool sdmmc_same_mount(const card_mount &a, const card_mount &b)
{
    return strcmp(a.source, b.source) == 0 && strcmp(a.dir, b.dir) == 0;
}

// A mounted card can be neither formatted (mkdosfs refuses it, after fdisk
// has already written) nor repaired (dosfsck would rewrite the FAT under
// the kernel's driver): every mount of it is taken down first, and kept in
// TAKEN when given. DONE names what does not happen to the card when a
// mount stays.
static int sdmmc_unmount(const char *done, card_mounts *taken = NULL)
{
    card_mount m;
    for (int i = 0; i < SDMMC_UNMOUNT_MAX && sdmmc_find_mount(&m); i++) {
        if (sdmmc_shell("umount %s", m.source) != 0) {
            OSA_ERROR("umount %s failed, %s not %s\n", m.source, sdmmc_dev, done);
            return -1;
        }
        bool known = false;
        for (int k = 0; taken != NULL && k < taken->count; k++)
            known = known || sdmmc_same_mount(taken->list[k], m);
        if (taken != NULL && !known)
            taken->list[taken->count++] = m;
    }
    return 0;
}

// Mounts again, each where it was and the way the tool mounts the card,
// what sdmmc_unmount() took down; mount reports a failure itself.
static void sdmmc_mount_again(const card_mounts &taken)
{
    for (int i = 0; i < taken.count; i++)
        sdmmc_shell(SDMMC_MOUNT_COMMAND, taken.list[i].source, taken.list[i].dir);
}

// Every program the format runs, looked up before anything is written: one
// missing once fdisk has written would leave the card with neither a
// partition table nor a file system. Each missing one is named (a look-up
// that a stop has ended is not taken for one).
static bool sdmmc_check_programs(void)
{
    bool all = true;
    for (const char *program : sdmmc_format_programs) {
        if (OSA_programFound(program) || stop_flag)
            continue;
        OSA_ERROR("%s not found, %s not formatted\n", program, sdmmc_dev);
        all = false;
    }
    return all;
}

/* ---- the card's partition tables ----------------------------------------- */

// What sdmmc_wipe_tables() zeroed: at most two regions, one at each end.
static struct {
    int count;
    off_t offset[2];
    size_t len[2];
    unsigned char bytes[2][SDMMC_TABLES_SIZE];
} sdmmc_tables;

// Reads (or writes) LEN bytes at OFFSET of the card, whole: pread and pwrite
// may move fewer.
static bool sdmmc_card_io(int fd, bool write, unsigned char *buf, size_t len, off_t offset)
{
    while (len > 0) {
        ssize_t n = write ? pwrite(fd, buf, len, offset) : pread(fd, buf, len, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // the card ended before its size
            return false;
        }
        buf += n;
        len -= (size_t)n;
        offset += n;
    }
    return true;
}

// Has the kernel read the card's partition table again, so that it keeps
// none of the partitions gone from it: 0, or the error number. An image file
// (ENOTTY) or a disk that takes no partitions (EINVAL) has none to drop.
static int sdmmc_reread_tables(int fd)
{
    if (ioctl(fd, BLKRRPART, NULL) == 0 || errno == ENOTTY || errno == EINVAL)
        return 0;
    return errno;
}

// Writes the regions of sdmmc_tables: their saved bytes, or zeros.
static bool sdmmc_write_tables(int fd, bool saved)
{
    static unsigned char zeros[4096]; // never written to
    for (int i = 0; i < sdmmc_tables.count; i++) {
        for (size_t done = 0; done < sdmmc_tables.len[i];) {
            size_t len = sdmmc_tables.len[i] - done;
            if (!saved && len > sizeof zeros)
                len = sizeof zeros;
            unsigned char *from = saved ? sdmmc_tables.bytes[i] + done : zeros;
            if (!sdmmc_card_io(fd, true, from, len, sdmmc_tables.offset[i] + (off_t)done))
                return false;
            done += len;
        }
    }
    return fsync(fd) == 0;
}

// Puts back what sdmmc_wipe_tables() zeroed when the format goes no further
// than fdisk's dialogue, and has the kernel read the table again: the card
// is then as it was, and so is the kernel's view of it.
static void sdmmc_restore_tables(void)
{
    if (sdmmc_tables.count == 0)
        return;
    int fd = open(sdmmc_dev, O_RDWR | O_CLOEXEC);
    if (fd < 0 || !sdmmc_write_tables(fd, true))
        OSA_ERROR("cannot restore the partition tables of %s: %s\n", sdmmc_dev, strerror(errno));
    else
        sdmmc_reread_tables(fd);
    if (fd >= 0)
        close(fd);
    sdmmc_tables.count = 0;
}

// Keeps the card's first and last SDMMC_TABLES_SIZE bytes (one region when
// they meet) in sdmmc_tables; false when they cannot be read.
static bool sdmmc_save_tables(int fd)
{
    off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0)
        return false;
    const off_t span = SDMMC_TABLES_SIZE;
    off_t first = size < span ? size : span;
    off_t last = size - span > first ? size - span : first;
    sdmmc_tables.offset[0] = 0;
    sdmmc_tables.len[0] = (size_t)first;
    sdmmc_tables.offset[1] = last;
    sdmmc_tables.len[1] = (size_t)(size - last);
    int count = last < size ? 2 : 1;
    for (int i = 0; i < count; i++)
        if (!sdmmc_card_io(fd, false, sdmmc_tables.bytes[i], sdmmc_tables.len[i],
                           sdmmc_tables.offset[i]))
            return false;
    sdmmc_tables.count = count;
    return true;
}

// Zeroes both ends of the card, where its partition tables are, keeping
// what was there, and has the kernel read the table again. fdisk then meets
// a card without partitions whatever it had (its script deletes them the
// way only a card with one partition understands: with two or more fdisk
// asks for a number and deletes nothing), no GPT tool finds a backup table
// at the end, and the kernel keeps no partition of the old table. A card
// that cannot be opened is left to fdisk and mkdosfs, which fail on it and
// say so. False, with the card as it was, when it cannot be read or written
// or the kernel cannot drop its partitions (one is in use).
static bool sdmmc_wipe_tables(void)
{
    sdmmc_tables.count = 0;
    int fd = open(sdmmc_dev, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return true;
    bool saved = sdmmc_save_tables(fd);
    if (!saved)
        OSA_ERROR("cannot read the partition tables of %s: %s, not formatted\n", sdmmc_dev,
                  strerror(errno));
    bool wiped = saved && sdmmc_write_tables(fd, false);
    if (saved && !wiped)
        OSA_ERROR("cannot clear the partition tables of %s: %s, not formatted\n", sdmmc_dev,
                  strerror(errno));
    int err = wiped ? sdmmc_reread_tables(fd) : 0;
    if (err != 0)
        OSA_ERROR("the kernel cannot drop the partitions of %s: %s, not formatted\n", sdmmc_dev,
                  strerror(err));
    close(fd);
    if (wiped && err == 0)
        return true;
    sdmmc_restore_tables();
    return false;
}

/* ---- format and repair --------------------------------------------------- */

// Looks up the programs it runs, takes the card's mounts down, clears its
// partition tables, has fdisk write an empty one (its script), then makes
// one FAT32 file system over the whole card.
static int sdmmc_format(void)
{
    if (sdmmc_init() != 0 || !sdmmc_check_programs())
        return -1;
    if (stop_flag) {
        OSA_ERROR("stopped before fdisk wrote the partition table of %s\n", sdmmc_dev);
        return -1;
    }
    if (sdmmc_unmount("formatted") != 0 || !sdmmc_wipe_tables())
        return -1;
    char command[SDMMC_CMD_SIZE];
    memset(command, 0, sizeof command);
    snprintf(command, sizeof command, "fdisk %s", sdmmc_dev);
    // An fdisk that ends early must not take the tool with it (SIGPIPE).
    void (*old_pipe)(int) = signal(SIGPIPE, SIG_IGN);
    FILE *fdisk = OSA_popen(command, "w");
    if (fdisk == NULL) {
        signal(SIGPIPE, old_pipe);
        sdmmc_restore_tables();
        OSA_printf("fdisk %s failed!\n", sdmmc_dev);
        return -1;
    }
    bool fed = sdmmc_feed_fdisk(fdisk);
    pclose(fdisk);
    signal(SIGPIPE, old_pipe);
    if (!fed) {
        sdmmc_restore_tables();
        OSA_ERROR("stopped before fdisk wrote the partition table of %s\n", sdmmc_dev);
        return -1;
    }
    sdmmc_tables.count = 0; // fdisk has written: nothing to put back
    sdmmc_flush();
    OSA_sleepMs(SDMMC_SETTLE_MS);
    int status = sdmmc_timed_step(NULL, "mkdosfs -I -F 32 %s", sdmmc_dev);
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
    int status = sdmmc_timed_step(NULL, "dosfsck -a -v -V %s", sdmmc_dev);
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

// The card is repaired unmounted, and mounted again afterwards as it was,
// whatever became of the repair.
static int sdmmc_repair_unmounted(void)
{
    if (sdmmc_init() != 0)
        return -1;
    card_mounts taken;
    memset(&taken, 0, sizeof taken);
    int result = sdmmc_unmount("repaired", &taken) == 0 ? sdmmc_repair() : -1;
    sdmmc_mount_again(taken);
    return result;
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

// Whether the board's dd reports its rate: GNU dd's last line reads
// "... copied, 0.5 s, 268 MB/s"; BusyBox's dd prints the record counts
// alone, unless built with its third status line ("... copied, 0.5
// seconds, 256MB/s").
static bool sdmmc_dd_reports_rate(void)
{
    FILE *dd = OSA_popen("dd if=/dev/zero of=/dev/null count=1 2>&1", "r");
    if (dd == NULL)
        return false;
    char line[256];
    bool rate = false;
    while (fgets(line, sizeof line, dd) != NULL)
        rate = rate || strstr(line, " copied, ") != NULL;
    pclose(dd);
    return rate;
}

// The rate of a pass that went through, measured by the tool for a board
// whose dd prints none: the speed-test file's bytes over the pass's time.
static void sdmmc_print_rate(const char *pass, int status, const OSA_commandTime &spent)
{
    struct stat st;
    if (status != 0 || spent.elapsed_us == 0 || stat(SDMMC_SPEED_FILE, &st) != 0 || st.st_size <= 0)
        return;
    double seconds = (double)spent.elapsed_us / 1e6;
    OSA_printf("%s speed = %.2f MB/s \n", pass, (double)st.st_size / 1048576.0 / seconds);
}

static int sdmmc_test_speed(void)
{
    if (sdmmc_mount() != 0) {
        OSA_ERROR("sdmmc mount failed!\n");
        return -1;
    }
    // dd and time print the figures (the tool does what the board's do
    // not); the write is flushed out of the caches so that the read comes
    // from the card. After a stop neither dd starts; the file goes all the
    // same.
    bool own_rate = !sdmmc_dd_reports_rate();
    OSA_commandTime spent;
    int status =
        sdmmc_timed_step(&spent, "dd if=/dev/zero of=/mnt/mmc/empty.file bs=128k count=1k ");
    if (status != SDMMC_STOPPED) {
        if (own_rate)
            sdmmc_print_rate("Write", status, spent);
        sdmmc_flush();
        status =
            sdmmc_timed_step(&spent, "dd if=/mnt/mmc/empty.file of=/dev/null bs=128k count=1k ");
        if (own_rate && status != SDMMC_STOPPED)
            sdmmc_print_rate("Read", status, spent);
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
    {'r', sdmmc_repair_unmounted, "sdmmc repair disk faild!\n"},
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
