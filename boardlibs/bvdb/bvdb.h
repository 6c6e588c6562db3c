/*
 * Database access library of the camera: connections, statements and
 * row-by-row queries on the SQLite configuration databases.
 *
 * Handles are opaque. Every call returns 0 on success and an SQLite result
 * code otherwise; failures other than "no row" are also reported on
 * standard error with SQLite's own message.
 */
#ifndef BVDB_H
#define BVDB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Busy timeout of a connection opened with the default options. */
#define BVDB_BUSY_TIMEOUT_MS 5000

/*
 * Opens the existing database file PATH (never creates one) and checks that
 * it is a database. OPTIONS is "" (or absent) for the defaults: read-write,
 * busy timeout BVDB_BUSY_TIMEOUT_MS. Otherwise a comma-separated list of
 * "ro" (read-only) and "busy=MS" (busy timeout in milliseconds); an unknown
 * word is refused. On failure *handle is absent.
 */
int sqlite_conn(const char *path, const char *options, void **handle);
int sqlite_disconn(void *handle);

/* Runs one or more statements; rows they return are discarded. */
int sqlite_execute(void *handle, const char *sql);

/*
 * Prepares the first statement of SQL and steps to its first row. 0: that
 * row is current and *columns is its number of columns. A query without
 * rows returns SQLITE_DONE with *columns 0. A statement that returns no
 * columns (UPDATE, DELETE, CREATE, ...) is refused without running it; one
 * that returns rows runs, also when it changes the database (INSERT ...
 * RETURNING, some PRAGMAs). Statements after the first are not run and are
 * named on standard error. *stmt may be set whatever the result; release it
 * with sqlite_clear_stmt.
 */
int sqlite_query_record(void *handle, const char *sql, void **stmt, int *columns);
/* 0 when a further row has become current; non-zero at the end. */
int sqlite_query_next(void *stmt);
/*
 * Writes the current row's value of COLUMN into TEXT as a terminated string
 * cut to SIZE - 1 bytes. NULL comes back as an empty string (result 0); no
 * current row or no such column gives an empty string and a non-zero result.
 */
int sqlite_query_column_text(void *stmt, int column, char *text, int size);
/* The column's name, absent when there is no such column. */
const char *sqlite_query_column_name(void *handle, void *stmt, int column);
int sqlite_clear_stmt(void *stmt);

#ifdef __cplusplus
}
#endif

#endif
