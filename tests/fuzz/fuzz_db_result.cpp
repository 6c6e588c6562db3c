// db's result formatter over any table: column names and values from the
// fuzz bytes, queried on an in-memory database through the board's db
// library. The text stays within the result buffer and is terminated where
// its length says.
#include "bv_db.cpp"
#include "fuzz.h"

#include <stdlib.h>
#include <string>

static void *memory_db;

// WORD quoted for SQL: as a name ("...") or a text literal ('...').
static void append_quoted(std::string &sql, const char *word, char quote)
{
    sql += quote;
    for (const char *p = word; *p != '\0'; p++) {
        if (*p == quote)
            sql += quote;
        sql += *p;
    }
    sql += quote;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    if (sqlite_conn(":memory:", "", &memory_db) != 0)
        fuzz_fail(__FILE__, __LINE__, "in-memory database");
    return 0;
}

// The first byte gives the number of columns (1..8); the NUL-separated words
// after it are the column names, then the values, row by row. The table is
// a query of its own (SELECT ... UNION ALL SELECT ...): nothing is stored.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    int columns = 1 + data[0] % 8;
    fuzz_args words;
    fuzz_args_build(&words, "db", data + 1, size - 1);
    int first = 3, count = words.argc - first;

    std::string sql;
    int at = columns;
    do {
        sql += at == columns ? "SELECT " : " UNION ALL SELECT ";
        for (int i = 0; i < columns; i++) {
            if (i > 0)
                sql += ", ";
            if (at + i < count)
                append_quoted(sql, words.argv[first + at + i], '\'');
            else
                sql += "NULL";
            if (at == columns) {
                // Names must differ: the column's number comes first.
                std::string name = std::to_string(i) + (i < count ? words.argv[first + i] : "");
                sql += " AS ";
                append_quoted(sql, name.c_str(), '"');
            }
        }
        at += columns;
    } while (at < count);
    sql += ";";

    void *stmt = NULL;
    int got = 0;
    if (sqlite_query_record(memory_db, sql.c_str(), &stmt, &got) == 0) {
        FUZZ_CHECK(got == columns);
        char buffer[DB_RESULT_SIZE];
        text_out out = {buffer, sizeof buffer, 0};
        db_format_result(&out, memory_db, stmt, got);
        FUZZ_CHECK(out.len < sizeof buffer);
        FUZZ_CHECK(strlen(buffer) == out.len);
    }
    if (stmt != NULL)
        sqlite_clear_stmt(stmt);
    fuzz_args_free(&words);
    return 0;
}
