// Database access library of the camera on SQLite 3.
#include "bvdb.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A change reported as done survives a power cut right after. In the
// rollback-journal mode the databases keep (other programs of the camera
// open them too), a commit ends by deleting the journal; at FULL, SQLite
// does not sync the folder after that, and on the flash the journal can
// come back at the next start and roll the change back. EXTRA syncs it.
static const char DURABLE_SQL[] = "PRAGMA synchronous=EXTRA;";

// The one statement that makes a lazy open touch the file: a file that is
// not a database is refused at connection time, not at the first query.
static const char CHECK_SQL[] = "PRAGMA schema_version;";

// Failures of the file itself rather than of the statement: the report
// names the file, and the system's reason when there is one.
static const int file_errors[] = {SQLITE_FULL, SQLITE_READONLY, SQLITE_IOERR, SQLITE_CANTOPEN,
                                  SQLITE_PERM};

static bool is_file_error(int code)
{
    for (int e : file_errors)
        if ((code & 0xFF) == e)
            return true;
    return false;
}

static void report(const char *call, sqlite3 *db)
{
    if (db == NULL) {
        fprintf(stderr, "bvdb: %s: out of memory\n", call);
        return;
    }
    const char *file = sqlite3_db_filename(db, "main");
    if (!is_file_error(sqlite3_extended_errcode(db)) || file == NULL || *file == '\0') {
        fprintf(stderr, "bvdb: %s: %s\n", call, sqlite3_errmsg(db));
        return;
    }
    int err = sqlite3_system_errno(db);
    // SQLite's unix layer answers a failed write of the file or its journal
    // with SQLITE_FULL on ENOSPC alone, and does not always keep the errno.
    if (err == 0 && (sqlite3_extended_errcode(db) & 0xFF) == SQLITE_FULL)
        err = ENOSPC;
    if (err != 0)
        fprintf(stderr, "bvdb: %s: %s: %s (%s)\n", call, file, sqlite3_errmsg(db), strerror(err));
    else
        fprintf(stderr, "bvdb: %s: %s: %s\n", call, file, sqlite3_errmsg(db));
}

struct conn_options {
    int flags;
    int busy_ms;
};

// Reads "busy=MS": the digits after the equals sign, nothing else.
static int parse_busy(const char *word, size_t len, int *ms)
{
    static const char key[] = "busy=";
    const size_t key_len = sizeof key - 1;
    if (len <= key_len || strncmp(word, key, key_len) != 0)
        return -1;
    long value = 0;
    for (size_t i = key_len; i < len; i++) {
        if (word[i] < '0' || word[i] > '9')
            return -1;
        value = value * 10 + (word[i] - '0');
        if (value > INT_MAX)
            return -1;
    }
    *ms = (int)value;
    return 0;
}

static int parse_options(const char *options, conn_options *out)
{
    out->flags = SQLITE_OPEN_READWRITE;
    out->busy_ms = BVDB_BUSY_TIMEOUT_MS;
    for (const char *p = options ? options : ""; *p != '\0';) {
        size_t len = strcspn(p, ",");
        if (len == 2 && strncmp(p, "ro", 2) == 0)
            out->flags = SQLITE_OPEN_READONLY;
        else if (parse_busy(p, len, &out->busy_ms) != 0)
            return -1;
        p += len;
        if (*p == ',')
            p++;
    }
    return 0;
}

int sqlite_conn(const char *path, const char *options, void **handle)
{
    if (handle == NULL)
        return SQLITE_MISUSE;
    *handle = NULL;
    conn_options opt;
    if (path == NULL || parse_options(options, &opt) != 0) {
        fprintf(stderr, "bvdb: %s: bad path or options '%s'\n", __func__, options ? options : "");
        return SQLITE_MISUSE;
    }
    sqlite3 *db = NULL;
    int rc = sqlite3_open_v2(path, &db, opt.flags, NULL);
    // Waits for a writer that does not share our lock file instead of
    // failing the statement at once.
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_timeout(db, opt.busy_ms);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, DURABLE_SQL, NULL, NULL, NULL);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, CHECK_SQL, NULL, NULL, NULL);
    if (rc != SQLITE_OK) {
        report(__func__, db);
        sqlite3_close_v2(db);
        return rc;
    }
    *handle = db;
    return 0;
}

int sqlite_disconn(void *handle)
{
    // close_v2: statements still open keep the connection until cleared.
    return sqlite3_close_v2(static_cast<sqlite3 *>(handle));
}

int sqlite_execute(void *handle, const char *sql)
{
    sqlite3 *db = static_cast<sqlite3 *>(handle);
    if (db == NULL || sql == NULL)
        return SQLITE_MISUSE;
    int rc = sqlite3_exec(db, sql, NULL, NULL, NULL);
    if (rc != SQLITE_OK)
        report(__func__, db);
    return rc;
}

// The text after the first statement, from its first word, or NULL when
// only blanks, comments and semicolons follow.
static const char *next_statement(const char *tail)
{
    while (tail != NULL && *tail != '\0') {
        if (isspace((unsigned char)*tail) || *tail == ';') {
            tail++;
        } else if (strncmp(tail, "--", 2) == 0) {
            tail += strcspn(tail, "\n");
        } else if (strncmp(tail, "/*", 2) == 0) {
            const char *end = strstr(tail + 2, "*/");
            tail = end != NULL ? end + 2 : tail + strlen(tail);
        } else {
            return tail;
        }
    }
    return NULL;
}

int sqlite_query_record(void *handle, const char *sql, void **stmt, int *columns)
{
    sqlite3 *db = static_cast<sqlite3 *>(handle);
    if (db == NULL || sql == NULL || stmt == NULL || columns == NULL)
        return SQLITE_MISUSE;
    *stmt = NULL;
    *columns = 0;
    sqlite3_stmt *st = NULL;
    const char *tail = NULL;
    int rc = sqlite3_prepare_v2(db, sql, -1, &st, &tail);
    if (rc != SQLITE_OK) {
        report(__func__, db);
        return rc;
    }
    if (st == NULL) // blanks or comments only
        return SQLITE_DONE;
    *stmt = st;
    const char *rest = next_statement(tail);
    if (rest != NULL)
        fprintf(stderr, "bvdb: %s: one statement per query, not run: %s\n", __func__, rest);
    // A query reports failure when it has no rows: a statement that returns
    // no columns (an UPDATE, a CREATE) run here would have changed the
    // database behind a failed query. One that returns rows (a PRAGMA, an
    // INSERT ... RETURNING) runs, whatever it changes.
    if (sqlite3_column_count(st) == 0) {
        fprintf(stderr, "bvdb: %s: not a query, not run: %s\n", __func__, sql);
        return SQLITE_MISUSE;
    }
    rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        *columns = sqlite3_column_count(st);
        return 0;
    }
    if (rc != SQLITE_DONE)
        report(__func__, db);
    return rc;
}

int sqlite_query_next(void *stmt)
{
    sqlite3_stmt *st = static_cast<sqlite3_stmt *>(stmt);
    if (st == NULL)
        return SQLITE_MISUSE;
    // After the last row a further step would run the query again.
    if (!sqlite3_stmt_busy(st))
        return SQLITE_DONE;
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW)
        return 0;
    if (rc != SQLITE_DONE)
        report(__func__, sqlite3_db_handle(st));
    return rc;
}

int sqlite_query_column_text(void *stmt, int column, char *text, int size)
{
    sqlite3_stmt *st = static_cast<sqlite3_stmt *>(stmt);
    if (text == NULL || size <= 0)
        return SQLITE_MISUSE;
    text[0] = '\0';
    if (st == NULL || !sqlite3_stmt_busy(st) || column < 0 || column >= sqlite3_column_count(st))
        return SQLITE_RANGE;
    const unsigned char *value = sqlite3_column_text(st, column);
    if (value != NULL)
        snprintf(text, (size_t)size, "%s", reinterpret_cast<const char *>(value));
    return 0;
}

const char *sqlite_query_column_name(void *, void *stmt, int column)
{
    sqlite3_stmt *st = static_cast<sqlite3_stmt *>(stmt);
    if (st == NULL || column < 0 || column >= sqlite3_column_count(st))
        return NULL;
    return sqlite3_column_name(st, column);
}

int sqlite_clear_stmt(void *stmt)
{
    return sqlite3_finalize(static_cast<sqlite3_stmt *>(stmt));
}
