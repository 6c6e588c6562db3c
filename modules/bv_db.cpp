// db: looks into and changes the camera's configuration databases: lists
// their tables, prints a query's result as a text table, runs a statement or
// every line of a file. Every access holds the database lock: a read-write
// lock against other threads, then lockf on a lock file against the other
// processes of the camera.
#include "board_file.h"
#include "bvdb.h"
#include "debug_module.h"
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const char OSA_UNIT[] = "bv_db";

enum {
    DB_MODULE_ID = 12,
    DB_PATH_SIZE = 64,
    DB_RESULT_SIZE = 2048, // a query's formatted result, terminator included
    DB_TEXT_SIZE = 256,    // one column value
    DB_LINE_SIZE = 256,    // one statement line of a file
    DB_LOCK_POLL_MAX_MS = 50,
    // Another process holds the lock for one statement or one query; one
    // that holds it this long is stuck, or keeps it on purpose.
    DB_LOCK_WAIT_MS = 30000,
    // db_lock's answers when the access must not run:
    DB_STOPPED = -2, // a stop was asked for while waiting for the lock
    DB_BUSY = -3,    // the lock stayed taken for DB_LOCK_WAIT_MS (db_lock_holder)
};

static const char DB_LOCK_FILE[] = "/tmp/db.fl";
static const char DB_DEFAULT[] = "bvdb";
static const char TABLE_LIST_SQL[] =
    "select name from sqlite_master where type='table' order by name;";

// The databases that can be chosen with -d. Their read-only copies and the
// restore step live with start-up (db_restore_files).
static const struct {
    const char *name;
    const char *path;
} db_files[] = {
    {"bvdb", "/mnt/nand/bvdb.db"},
    {"oem", "/mnt/nand2/oem.db"},
};

// Module state: the chosen database and, inside one action, its connection.
static char db_path[DB_PATH_SIZE];
static char db_lock_path[DB_PATH_SIZE];
static void *db_handle;
static pthread_rwlock_t db_rwlock = PTHREAD_RWLOCK_INITIALIZER;
// Who held the lock file when the wait for it ran out.
static char db_lock_holder[BOARD_FILE_TEXT_SIZE];

static const struct option db_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"select", required_argument, NULL, 's'},
    {"execute", required_argument, NULL, 'e'},
    {"file", required_argument, NULL, 'f'},
    {"database", required_argument, NULL, 'd'},
    {"table", no_argument, NULL, 't'},
    {NULL, 0, NULL, 0},
};
static const help_entry db_help[] = {
    {"module", "module name: db"},
    {"str", "Cmd inquiry string.for example -s \"select * from user;\""},
    {"str", "Cmd execute string"},
    {"file", "Filepath to execute"},
    {"str", "Set database [bvdb, oem, sddb, log], default[bvdb]"},
    {"", "List table name"},
};
static_assert(OPTION_ROWS(db_options) == ARRAY_SIZE(db_help), "one help row per option");

static int db_select(const char *sql);
static int db_execute_cmd(const char *sql);
static int db_exec_file(const char *path);
static int db_choose(const char *name);

// What each option does with its argument; -t runs the table-list query.
static const struct {
    int letter;
    int (*action)(const char *arg);
    const char *fixed_arg; // used instead of the option's argument when set
} db_actions[] = {
    {'s', db_select, NULL},
    {'e', db_execute_cmd, NULL},
    {'f', db_exec_file, NULL},
    {'d', db_choose, NULL},
    {'t', db_select, TABLE_LIST_SQL},
};

/* ---- database choice and connection -------------------------------------- */

static void db_print_current(void)
{
    OSA_printf("Current Database File: [%s] \n", db_path);
}

static int db_choose(const char *name)
{
    bool found = false;
    for (const auto &db : db_files) {
        if (strcmp(name, db.name) == 0) {
            snprintf(db_path, sizeof db_path, "%s", db.path);
            snprintf(db_lock_path, sizeof db_lock_path, "%s", DB_LOCK_FILE);
            found = true;
            break;
        }
    }
    if (!found)
        OSA_printf("Invalid Database '%s'! Optional: [bvdb, oem, sddb, log] \n", name);
    db_print_current();
    return 0;
}

static int db_con_init(void)
{
    if (access(db_path, F_OK) != 0) {
        OSA_ERROR("db=[%s] file not existed. \n", db_path);
        return -1;
    }
    if (db_handle != NULL)
        return 0;
    if (sqlite_conn(db_path, "", &db_handle) == 0)
        return 0;
    db_handle = NULL;
    OSA_ERROR("db init failed. \n");
    db_print_current();
    return -1;
}

static int is_db_init(void)
{
    if (db_handle != NULL)
        return 1;
    OSA_ERROR("db=[%s] not init. \n", db_path);
    return 0;
}

static void db_disconnect(void)
{
    if (db_handle == NULL)
        return;
    sqlite_disconn(db_handle);
    db_handle = NULL;
}

/* ---- the database lock ---------------------------------------------------- */

static uint64_t db_monotonic_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

// Returns the locked descriptor, or -1 when the lock could not be had: the
// access then goes ahead under SQLite's own locking only (a lock file that
// cannot be made, on a full /tmp, or a name in /tmp that is no file of ours,
// such as another user's link, is reported). The lock file is opened as
// /tmp asks (board_file_open) and made readable by root alone, so that no
// other user can hold it. While another process holds the file the lock is
// tried again after a pause that grows to DB_LOCK_POLL_MAX_MS, for at most
// DB_LOCK_WAIT_MS: then DB_BUSY, with the holder in db_lock_holder. A stop
// asked for meanwhile (Ctrl-C, SIGTERM) ends the wait with DB_STOPPED. In
// both cases nothing is held and the access must not run. (A blocking lockf
// would be resumed after the signal handler, and the statement would run
// once the lock came free.)
static int db_lock(void)
{
    char why[BOARD_FILE_TEXT_SIZE];
    int fd = board_file_open(db_lock_path, O_RDWR | O_CREAT, 0600, why, sizeof why);
    if (fd < 0) {
        OSA_ERROR("%s: %s, run without the lock file \n", db_lock_path, why);
        return -1;
    }
    pthread_rwlock_wrlock(&db_rwlock);
    uint64_t start = db_monotonic_ms();
    uint32_t pause_ms = 1;
    while (lockf(fd, F_TLOCK, 0) != 0) {
        int stopped = stop_flag;
        bool held = errno == EACCES || errno == EAGAIN;
        bool timed_out = held && db_monotonic_ms() - start >= DB_LOCK_WAIT_MS;
        if (!held || stopped || timed_out) {
            if (timed_out)
                board_lock_holder(fd, db_lock_holder, sizeof db_lock_holder);
            close(fd);
            pthread_rwlock_unlock(&db_rwlock);
            return stopped ? DB_STOPPED : timed_out ? DB_BUSY : -1;
        }
        OSA_sleepMs(pause_ms); // returns at once once a stop was asked for
        pause_ms = pause_ms * 2 < (uint32_t)DB_LOCK_POLL_MAX_MS ? pause_ms * 2
                                                                : (uint32_t)DB_LOCK_POLL_MAX_MS;
    }
    return fd;
}

// db_lock for SQL, which CALLER runs: an access that must not run (a stop,
// or a lock held too long) is said in CALLER's name.
static int db_lock_for(const char *sql, const char *caller)
{
    int fd = db_lock();
    if (fd < -1)
        OSA_errorPrefix(OSA_UNIT, caller, __LINE__);
    if (fd == DB_STOPPED)
        fprintf(stderr, "stopped while waiting for %s, not run: '%s' \n", db_lock_path, sql);
    else if (fd == DB_BUSY)
        fprintf(stderr, "%s still held by %s after %d ms, not run: '%s' \n", db_lock_path,
                db_lock_holder, DB_LOCK_WAIT_MS, sql);
    return fd;
}

// The file lock is released before the read-write lock: record locks belong
// to the process, so another thread must not lock the file before this one
// has let it go.
static int db_unlock(int fd)
{
    if (fd == -1)
        return -1;
    lockf(fd, F_ULOCK, 0);
    close(fd);
    pthread_rwlock_unlock(&db_rwlock);
    return 0;
}

/* ---- queries ---------------------------------------------------------------- */

// A text being built in a fixed buffer: appends are cut to fit, never past
// the terminator's byte.
struct text_out {
    char *buf;
    size_t size;
    size_t len;
};

static bool text_full(const text_out *out)
{
    return out->len + 1 >= out->size;
}

DEBUG_PRINTF(2, 3) static void text_append(text_out *out, const char *fmt, ...)
{
    if (text_full(out))
        return;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(out->buf + out->len, out->size - out->len, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    out->len += (size_t)n;
    if (out->len > out->size - 1)
        out->len = out->size - 1;
}

// One line per row; every value but the last padded to 16 characters.
static void db_format_row(text_out *out, void *stmt, int columns)
{
    char text[DB_TEXT_SIZE];
    text_append(out, "\n");
    for (int i = 0; i < columns; i++) {
        text[0] = '\0'; // a value the library does not write reads as empty
        sqlite_query_column_text(stmt, i, text, sizeof text);
        text_append(out, i + 1 < columns ? "%-16s" : "%s", text);
    }
}

// The heading line of the column names, then one line per row from the
// current one on; rows past a full buffer would be cut away anyway: not read.
static void db_format_result(text_out *out, void *handle, void *stmt, int columns)
{
    text_append(out, "\n");
    for (int i = 0; i < columns; i++) {
        const char *name = sqlite_query_column_name(handle, stmt, i);
        if (name != NULL)
            text_append(out, "%-16s", name);
    }
    do
        db_format_row(out, stmt, columns);
    while (!text_full(out) && sqlite_query_next(stmt) == 0);
    text_append(out, "\n");
}

static int db_query(const char *sql, char *buffer, size_t size)
{
    if (!is_db_init())
        return -1;
    int fd = db_lock_for(sql, __func__);
    if (fd < -1)
        return fd;
    void *stmt = NULL;
    int columns = 0;
    if (sqlite_query_record(db_handle, sql, &stmt, &columns) != 0 || columns == 0) {
        if (stmt != NULL)
            sqlite_clear_stmt(stmt);
        db_unlock(fd);
        OSA_printf("[0 Items, No Match Records!] \n");
        return -1;
    }
    text_out out = {buffer, size, 0};
    db_format_result(&out, db_handle, stmt, columns);
    sqlite_clear_stmt(stmt);
    db_unlock(fd);
    return 0;
}

static int db_select(const char *sql)
{
    char buffer[DB_RESULT_SIZE] = {0};
    db_con_init(); // a failed connection shows in db_query
    int status = db_query(sql, buffer, sizeof buffer);
    if (status != 0) {
        db_disconnect();
        if (status == -1) // not when it was not run
            OSA_printf("SQL: '%s' Failed!! \n", sql);
        return -1;
    }
    OSA_printf("Query Result: %s \n", buffer);
    db_disconnect();
    return 0;
}

/* ---- statements ------------------------------------------------------------ */

static int db_execute(const char *sql)
{
    if (!is_db_init())
        return -1;
    int fd = db_lock_for(sql, __func__);
    if (fd < -1)
        return fd;
    sqlite_execute(db_handle, sql); // the library reports its own failures
    db_unlock(fd);
    return 0;
}

static int db_execute_cmd(const char *sql)
{
    db_con_init();
    if (db_execute(sql) >= -1) // run, or failed by itself
        OSA_printf("End execute: '%s' \n", sql);
    db_disconnect();
    return 0;
}

// What db_read_line found.
enum line_kind { LINE_WHOLE, LINE_TOO_LONG, LINE_WITH_NUL, LINE_END };

// Reads one line of FP into LINE (SIZE bytes), newline included and
// terminated. A line of SIZE - 1 characters is whole without its newline,
// which is consumed; a longer one is consumed to its end and not kept. A NUL
// byte in the line is reported too: the statement would end at it.
static line_kind db_read_line(FILE *fp, char *line, size_t size)
{
    size_t len = 0;
    bool nul = false;
    int ch;
    while ((ch = getc(fp)) != EOF) {
        if (len + 1 >= size) {
            if (ch == '\n')
                break;
            while (ch != '\n' && ch != EOF)
                ch = getc(fp);
            line[0] = '\0';
            return LINE_TOO_LONG;
        }
        line[len++] = (char)ch;
        nul = nul || ch == '\0';
        if (ch == '\n')
            break;
    }
    line[len] = '\0';
    if (len == 0)
        return LINE_END;
    return nul ? LINE_WITH_NUL : LINE_WHOLE;
}

// Runs every line of the file as a statement, newline included. A line too
// long for the buffer, or with a NUL byte, is not run: the statement would be
// cut, and a cut statement can be valid SQL that does something else (an
// UPDATE cut before its WHERE). A stop ends the file.
static int db_exec_file(const char *path)
{
    char line[DB_LINE_SIZE] = {0};
    db_con_init();
    FILE *fp = fopen(path, "rb");
    if (fp != NULL) {
        unsigned int number = 0;
        line_kind kind;
        while ((kind = db_read_line(fp, line, sizeof line)) != LINE_END) {
            number++;
            if (kind == LINE_TOO_LONG)
                OSA_ERROR("%s:%u: line longer than %d characters, not executed. \n", path,
                          number, DB_LINE_SIZE - 1);
            else if (kind == LINE_WITH_NUL)
                OSA_ERROR("%s:%u: line with a NUL byte, not executed. \n", path, number);
            else if (db_execute(line) < -1) // not run: nor are the lines after it
                break;
        }
        fclose(fp);
    }
    db_disconnect();
    return 0;
}

/* ---- options, run and usage ------------------------------------------------- */

static int db_usage(void);

static void db_act(int letter, const char *arg)
{
    for (const auto &a : db_actions)
        if (a.letter == letter)
            a.action(a.fixed_arg != NULL ? a.fixed_arg : arg);
}

// ACT does an option's work: the fuzz target parses without it.
static int db_init_param(int argc, char **argv, void (*act)(int, const char *) = db_act)
{
    optind = 0; // a fresh scan of the whole vector
    int ch;
    // After a stop no further action starts.
    while (!stop_flag && (ch = getopt_long(argc, argv, "M:s:e:f:d:t", db_options, NULL)) != -1) {
        if (ch == '?') {
            OSA_ERROR("Unknow option. \n");
            db_usage();
            break;
        }
        act(ch, optarg);
    }
    return 0;
}

static int db_run(int argc, char **argv)
{
    db_restore_files();
    db_choose(DB_DEFAULT);
    return db_init_param(argc, argv);
}

static int db_usage(void)
{
    module_print_usage(DB_MODULE_ID, db_options, db_help, ARRAY_SIZE(db_help));
    OSA_printf("DB table list: \n");
    if (db_path[0] == '\0')
        db_choose(DB_DEFAULT);
    db_select(TABLE_LIST_SQL);
    return 0;
}

static debug_module db_module = {"db", DB_MODULE_ID, db_run, db_usage, NULL};

MODULE_REGISTER(db_module)
