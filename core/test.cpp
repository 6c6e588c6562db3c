// Entry point of debug: start-up, the scan of the command line for a module
// or a help request, hand-over to the module, and shutdown.
#include "debug_module.h"
#include "osa.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char OSA_UNIT[] = "test";

static const char PROGRAM[] = "debug";
static const char VERSION[] = "1.2.0";

char prog_name[PROG_NAME_SIZE];
char module_name[MODULE_NAME_SIZE];
char help_module_name[MODULE_NAME_SIZE];
volatile sig_atomic_t stop_flag;

// Only the top-level usage reads these; the command line is scanned by hand.
static const struct option top_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"help", no_argument, NULL, 'h'},
};
static const help_entry top_help[] = {
    {"str", "module name like spi/i2c/gpio/adc/sensor"},
    {"str", "display module usage, module name like spi/i2c/gpio/adc/sensor "},
};
static_assert(ARRAY_SIZE(top_options) == ARRAY_SIZE(top_help), "one help row per option");

// Configuration databases and the read-only copies they come back from,
// copied to a temporary name beside the database (DB_RESTORE_SUFFIX) and
// renamed over it once the copy is on the flash: a power cut leaves the old
// state or the whole copy, never a part of it.
static const struct {
    const char *path;
    const char *copy;
} db_files[] = {
    {"/mnt/nand/bvdb.db", "/opt/app/bvdb.db"},
    {"/mnt/nand2/oem.db", "/opt/app/oem.db"},
};
static const char DB_RESTORE_SUFFIX[] = ".restore";

// SQLite's file header: its first 100 bytes (big-endian fields).
enum {
    SQLITE_HEADER_SIZE = 100,
    SQLITE_PAGE_SIZE_AT = 16,
    SQLITE_CHANGE_COUNTER_AT = 24,
    SQLITE_PAGE_COUNT_AT = 28,
    SQLITE_VALID_FOR_AT = 92,
};
static const char SQLITE_MAGIC[] = "SQLite format 3"; // and its NUL

static uint32_t be32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// SQLite's journals beside a database, which it rolls back or replays
// into the file at its next open.
static const char *const journal_suffixes[] = {"-journal", "-wal"};

// Whether a journal sits beside the database: the file may be short until
// SQLite has rolled it back, which is SQLite's to mend.
static bool has_journal(const char *path)
{
    for (const char *suffix : journal_suffixes) {
        char name[PATH_MAX];
        struct stat st;
        snprintf(name, sizeof name, "%s%s", path, suffix);
        if (stat(name, &st) == 0 && st.st_size > 0)
            return true;
    }
    return false;
}

// A journal left behind by a database that is gone would be played into
// the copy that replaces it.
static void remove_journals(const char *path)
{
    for (const char *suffix : journal_suffixes) {
        char name[PATH_MAX];
        snprintf(name, sizeof name, "%s%s", path, suffix);
        unlink(name);
    }
}

// Why the file at path is plainly not a whole database (a copy a power cut
// ended early), "" when it is missing, NULL when it may be whole: one that
// cannot be read, or whose header gives no size, is left alone.
static const char *db_damage(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? "" : NULL;
    unsigned char head[SQLITE_HEADER_SIZE];
    struct stat st;
    ssize_t got = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, head, sizeof head) : -1;
    close(fd);
    if (got < 0 || has_journal(path))
        return NULL;
    if (st.st_size == 0)
        return "empty";
    if (got < SQLITE_HEADER_SIZE || memcmp(head, SQLITE_MAGIC, sizeof SQLITE_MAGIC) != 0)
        return "no SQLite header";
    uint32_t page = (uint32_t)head[SQLITE_PAGE_SIZE_AT] << 8 | head[SQLITE_PAGE_SIZE_AT + 1];
    if (page == 1)
        page = 65536;
    uint32_t pages = be32(head + SQLITE_PAGE_COUNT_AT);
    bool counted =
        pages != 0 && be32(head + SQLITE_CHANGE_COUNTER_AT) == be32(head + SQLITE_VALID_FOR_AT);
    if (counted && (uint64_t)st.st_size < (uint64_t)page * pages)
        return "shorter than its header says";
    return NULL;
}

// The temporary copy on the flash, then renamed over the database, the
// rename itself on the flash with the folder. 0, or -1 with errno.
static int db_commit(const char *temp, const char *path)
{
    int fd = open(temp, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int status = fsync(fd);
    close(fd);
    if (status != 0 || rename(temp, path) != 0)
        return -1;
    char dir[PATH_MAX];
    snprintf(dir, sizeof dir, "%s", path);
    *strrchr(dir, '/') = '\0';
    fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    status = fsync(fd);
    close(fd);
    return status;
}

// Restores a database that is missing, or that is plainly not whole, from
// its read-only copy; a whole database is never overwritten, whatever it
// holds. Not started once a stop has been asked for; a copy that did not
// complete (cp stopped by the signal passed on to it, a full disk) is
// removed, so that the next start copies again.
void db_restore_files(void)
{
    for (const auto &db : db_files) {
        const char *damage = db_damage(db.path);
        if (damage == NULL)
            continue;
        if (*damage != '\0')
            OSA_ERROR("%s is not a whole database (%s): restoring it from %s\n", db.path, damage,
                      db.copy);
        else
            remove_journals(db.path);
        char temp[PATH_MAX], command[2 * PATH_MAX];
        snprintf(temp, sizeof temp, "%s%s", db.path, DB_RESTORE_SUFFIX);
        snprintf(command, sizeof command, "cp %s %s", db.copy, temp);
        unlink(temp);
        if (OSA_systemUnlessStopped(command) != 0) {
            unlink(temp);
        } else if (db_commit(temp, db.path) != 0) {
            OSA_ERROR("%s not restored: %s\n", db.path, strerror(errno));
            unlink(temp);
        }
    }
}

// Copies a word into a fixed buffer, cut to fit.
static void copy_word(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", src);
}

// Formats "\nGet signal, signo = N\n" without stdio: it runs in the handler.
static size_t format_notice(char *buf, int signo)
{
    static const char head[] = "\nGet signal, signo = ";
    char digits[10];
    int n = 0;
    unsigned int v = (unsigned int)signo;
    do
        digits[n++] = (char)('0' + v % 10);
    while ((v /= 10) != 0);
    size_t len = sizeof head - 1;
    memcpy(buf, head, len);
    while (n > 0)
        buf[len++] = digits[--n];
    buf[len++] = '\n';
    return len;
}

void test_signal_handler(int signo)
{
    char notice[48]; // head, ten digits at most, newline
    size_t len = format_notice(notice, signo);
    OSA_consoleNoticeFromSignal(notice, len);
    stop_flag = 1;
    OSA_stopRequest(signo); // ends sleeps, passes the signal on to a command
}

// A hang-up (the ssh or serial session the tool runs in has ended) is a
// stop like the others, so that a moving head or motor gets its stop before
// the tool ends. Started under nohup, which ignores it, the tool keeps it
// ignored and runs on.
static void catch_hangup(void)
{
    struct sigaction sa;
    if (sigaction(SIGHUP, NULL, &sa) == 0 && sa.sa_handler != SIG_IGN)
        signal(SIGHUP, test_signal_handler);
}

int test_init(void)
{
    signal(SIGINT, test_signal_handler);
    signal(SIGQUIT, test_signal_handler);
    signal(SIGTERM, test_signal_handler);
    catch_hangup();
    db_restore_files();
    int status = OSA_init();
    status |= OSA_logInit();
    return status;
}

int test_parse_args(int argc, char **argv)
{
    copy_word(prog_name, sizeof prog_name, argv[0]);
    int show_usage = 1;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "-M") == 0 || strcmp(argv[i], "--module") == 0) {
            if (i + 1 >= argc) {
                show_usage = 1;
                break;
            }
            copy_word(module_name, sizeof module_name, argv[i + 1]);
            show_usage = 0;
        } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            OSA_printf("%s version: %s\n", PROGRAM, VERSION);
            if (i + 1 < argc) {
                copy_word(help_module_name, sizeof help_module_name, argv[i + 1]);
                module_help(help_module_name);
                show_usage = 0;
            } else {
                show_usage = 1;
            }
            break;
        }
    }
    if (show_usage) {
        test_usage();
        return -1;
    }
    return 0;
}

void test_usage(void)
{
    OSA_printf("%s usage:\n", prog_name);
    OSA_printf("%s [module option] \n", prog_name);
    for (size_t i = 0; i < ARRAY_SIZE(top_options); i++) {
        if (isalpha(top_options[i].val))
            OSA_printf("-%c  ", top_options[i].val);
        else
            OSA_printf("    ");
        OSA_printf("--%s", top_options[i].name);
        if (top_help[i].label[0] != '\0')
            OSA_printf(" [%s]", top_help[i].label);
        OSA_printf("\t%s\n", top_help[i].text);
    }
    OSA_printf("Note: use { %s -h [module name] } to get detail help!\n", prog_name);
    module_print_list();
}

int test_run(int argc, char **argv) { return module_run(module_name, argc, argv); }

int test_deinit(void)
{
    stop_flag = 1;
    module_release_all();
    OSA_logDeinit();
    OSA_consoleDrainNotices();
    OSA_deinit();
    return 0;
}

DEBUG_EXPORT int main(int argc, char **argv)
{
    if (test_init() != 0) {
        OSA_ERROR("test_init failed!\n");
        test_deinit();
        return 0;
    }
    if (test_parse_args(argc, argv) != 0) {
        test_deinit();
        return 0;
    }
    if (module_name[0] == '\0' || help_module_name[0] != '\0') {
        test_deinit();
        return 0;
    }
    if (test_run(argc, argv) != 0) {
        OSA_ERROR("test_run failed!\n");
        return -1;
    }
    test_deinit();
    return 0;
}
