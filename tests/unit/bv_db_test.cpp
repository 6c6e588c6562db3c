// The db module's result formatter, lock and statement files, and the
// database library's answers for NULL values, empty results and refusals.
#include "bv_db.cpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

static std::vector<std::string> executed; // statements, as passed
static int unwritten_column = -1;         // a column the library leaves alone

extern "C" {
int __real_sqlite_execute(void *handle, const char *sql);
int __real_sqlite_query_column_text(void *stmt, int column, char *text, int size);

int __wrap_sqlite_execute(void *handle, const char *sql)
{
    executed.push_back(sql);
    return __real_sqlite_execute(handle, sql);
}

int __wrap_sqlite_query_column_text(void *stmt, int column, char *text, int size)
{
    if (column == unwritten_column)
        return SQLITE_ERROR;
    return __real_sqlite_query_column_text(stmt, column, text, size);
}
}

namespace {

const char DB[] = "/tmp/unit.db";

// A scratch database chosen as the module's current one.
class Db : public testing::Test {
protected:
    void SetUp() override
    {
        unlink(DB);
        sql("create table t (a, b, c);");
        snprintf(db_path, sizeof db_path, "%s", DB);
        snprintf(db_lock_path, sizeof db_lock_path, "/tmp/unit.fl");
        executed.clear();
        unwritten_column = -1;
    }
    void TearDown() override { db_disconnect(); }

    static void sql(const char *text)
    {
        sqlite3 *db = NULL;
        ASSERT_EQ(sqlite3_open(DB, &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, text, NULL, NULL, NULL), SQLITE_OK) << text;
        sqlite3_close(db);
    }
    // The formatted result of QUERY in a buffer of SIZE bytes; the bytes
    // after it must stay untouched.
    static std::string query(const char *q, size_t size, int *status = NULL)
    {
        std::vector<char> buf(size + 64, '\0');
        memset(buf.data() + size, '#', 64);
        EXPECT_EQ(db_con_init(), 0);
        int rc = db_query(q, buf.data(), size);
        if (status != NULL)
            *status = rc;
        db_disconnect();
        EXPECT_EQ(std::string(buf.data() + size, 64), std::string(64, '#')) << "overrun";
        return std::string(buf.data());
    }
};

TEST_F(Db, PadsEveryColumnButTheLastAndPrintsLongValuesWhole)
{
    sql("insert into t values (1, 'x', NULL), (22, NULL, 'z'),"
        " ('abcdefghijklmnopq', '%s%n', 3.5);");
    EXPECT_EQ(query("select * from t;", DB_RESULT_SIZE),
              "\na               b               c               "
              "\n1               x               "
              "\n22                              z"
              "\nabcdefghijklmnopq%s%n            3.5"
              "\n");
}

TEST_F(Db, CutsALongResultAtTheBufferNeverPastIt)
{
    sql("with recursive n(i) as (select 1 union all select i + 1 from n where i < 200)"
        " insert into t select i, 'value ' || i, i * i from n;");
    std::string whole = query("select * from t;", 16384);
    ASSERT_GT(whole.size(), 4096u);
    std::string cut = query("select * from t;", DB_RESULT_SIZE);
    EXPECT_EQ(cut.size(), 2047u);
    EXPECT_EQ(cut, whole.substr(0, 2047));
    for (size_t size : {1, 2, 17, 18})
        EXPECT_EQ(query("select * from t;", size), whole.substr(0, size - 1)) << size;
}

TEST_F(Db, NoRowsFailsWithNoMatchAndLeavesTheBuffer)
{
    int status = 0;
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(query("select * from t;", DB_RESULT_SIZE, &status), "");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(query("select * from nosuch;", DB_RESULT_SIZE, &status), "");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(GetCapturedStderr(), "bvdb: sqlite_query_record: no such table: nosuch\n");
    EXPECT_EQ(GetCapturedStdout(),
              "[0 Items, No Match Records!] \n[0 Items, No Match Records!] \n");

    // Without a connection nothing is asked of the library.
    CaptureStderr();
    char buf[4] = "";
    EXPECT_EQ(db_query("select 1;", buf, sizeof buf), -1);
    std::string err = GetCapturedStderr();
    EXPECT_EQ(err.rfind(" ERROR  (bv_db|is_db_init|", 0), 0u) << err;
    EXPECT_NE(err.find("): db=[/tmp/unit.db] not init. \n"), std::string::npos) << err;
}

TEST_F(Db, AValueTheLibraryDoesNotWriteReadsEmpty)
{
    sql("insert into t values ('first', 'second', 'third');");
    unwritten_column = 1;
    EXPECT_EQ(query("select * from t;", DB_RESULT_SIZE),
              "\na               b               c               "
              "\nfirst                           third\n");
}

TEST_F(Db, StatementFileLinesPassWithTheirNewlineAndOverlongLinesNot)
{
    FILE *fp = fopen("/tmp/unit.sql", "wb");
    ASSERT_NE(fp, nullptr);
    std::string head = "insert into t values (1, 2, '", tail = "');";
    std::string exact = head + std::string(255 - head.size() - tail.size(), 'x') + tail;
    std::string over = "delete from t" + std::string(250, ' ') + "where a = 1;";
    ASSERT_EQ(exact.size(), 255u);
    fprintf(fp, "%s\n\n%s\n%s\ninsert into t values (9, 9, 9);", exact.c_str(), over.c_str(),
            "select 1;");
    fclose(fp);

    CaptureStderr();
    db_exec_file("/tmp/unit.sql");
    EXPECT_NE(GetCapturedStderr().find("|db_exec_file|"), std::string::npos);
    EXPECT_EQ(executed, (std::vector<std::string>{exact, "\n", "select 1;\n",
                                                  "insert into t values (9, 9, 9);"}));
    EXPECT_EQ(query("select count(*) from t;", DB_RESULT_SIZE), "\ncount(*)        \n2\n");

    // A NUL byte would end the statement early: such a line is reported
    // like an over-long one, wherever the byte is, and the file goes on.
    executed.clear();
    fp = fopen("/tmp/unit.sql", "wb");
    const char nul_lines[] = "select 1;\n\0select 2;\ndelete from t\0 where a = 1;\nselect 3;";
    fwrite(nul_lines, 1, sizeof nul_lines - 1, fp);
    fclose(fp);
    CaptureStderr();
    db_exec_file("/tmp/unit.sql");
    std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("/tmp/unit.sql:2: line with a NUL byte, not executed."), std::string::npos);
    EXPECT_NE(err.find("/tmp/unit.sql:3: line with a NUL byte, not executed."), std::string::npos);
    EXPECT_EQ(executed, (std::vector<std::string>{"select 1;\n", "select 3;"}));
}

TEST_F(Db, LockKeepsOtherProcessesOutUntilUnlocked)
{
    auto other_can_lock = [] {
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open("/tmp/unit.fl", O_RDWR);
            _exit(fd >= 0 && lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    int fd = db_lock();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(other_can_lock());
    EXPECT_NE(pthread_rwlock_trywrlock(&db_rwlock), 0);
    EXPECT_EQ(db_unlock(fd), 0);
    EXPECT_TRUE(other_can_lock());

    // A lock file that cannot be opened: no lock, and the thread lock free.
    snprintf(db_lock_path, sizeof db_lock_path, "/nosuch/db.fl");
    EXPECT_EQ(db_lock(), -1);
    EXPECT_EQ(db_unlock(-1), -1);
    EXPECT_EQ(pthread_rwlock_trywrlock(&db_rwlock), 0);
    pthread_rwlock_unlock(&db_rwlock);
}

TEST_F(Db, RunRestoresAMissingDatabaseFile)
{
    unlink("/mnt/nand/bvdb.db");
    char arg0[] = "debug", arg1[] = "-M", arg2[] = "db";
    char *argv[] = {arg0, arg1, arg2, NULL};
    CaptureStdout();
    EXPECT_EQ(db_run(3, argv), 0);
    EXPECT_EQ(GetCapturedStdout(), "Current Database File: [/mnt/nand/bvdb.db] \n");
    EXPECT_EQ(access("/mnt/nand/bvdb.db", F_OK), 0);
}

/* ---- the library ------------------------------------------------------------ */

TEST_F(Db, LibraryGivesNullAsEmptyAndRefusesWhatIsNotThere)
{
    sql("insert into t values (NULL, '', 'abcdef');");
    void *h = NULL, *st = NULL;
    int columns = -1;
    ASSERT_EQ(sqlite_conn(DB, "", &h), 0);
    ASSERT_EQ(sqlite_query_record(h, "select * from t;", &st, &columns), 0);
    EXPECT_EQ(columns, 3);
    char text[8];
    auto read = [&](int column, int size) {
        memset(text, '#', sizeof text);
        int rc = sqlite_query_column_text(st, column, text, size);
        return std::to_string(rc) + ":" + text;
    };
    EXPECT_EQ(read(0, 8), "0:");
    EXPECT_EQ(read(1, 8), "0:");
    EXPECT_EQ(read(2, 4), "0:abc");
    EXPECT_EQ(read(2, 1), "0:");
    EXPECT_EQ(read(3, 8), std::to_string(SQLITE_RANGE) + ":");
    EXPECT_EQ(sqlite_query_column_name(h, st, 2), std::string("c"));
    EXPECT_EQ(sqlite_query_column_name(h, st, 3), nullptr);
    // After the last row there is no current row, and no fresh start.
    EXPECT_NE(sqlite_query_next(st), 0);
    EXPECT_NE(sqlite_query_next(st), 0);
    EXPECT_EQ(read(0, 8), std::to_string(SQLITE_RANGE) + ":");
    sqlite_clear_stmt(st);

    // No rows: the end at once, no columns. A statement that writes: not run.
    EXPECT_EQ(sqlite_query_record(h, "select * from t where 0;", &st, &columns), SQLITE_DONE);
    EXPECT_EQ(columns, 0);
    sqlite_clear_stmt(st);
    CaptureStderr();
    EXPECT_NE(sqlite_query_record(h, "delete from t;", &st, &columns), 0);
    sqlite_clear_stmt(st);
    EXPECT_NE(sqlite_query_record(h, "selec 1;", &st, &columns), 0);
    EXPECT_EQ(st, nullptr);
    EXPECT_EQ(sqlite_query_record(h, " -- nothing\n", &st, &columns), SQLITE_DONE);
    EXPECT_EQ(st, nullptr);
    GetCapturedStderr();
    EXPECT_EQ(sqlite_query_record(h, "select count(*) from t;", &st, &columns), 0);
    EXPECT_EQ(read(0, 8), "0:1");
    sqlite_clear_stmt(st);
    sqlite_disconn(h);
}

TEST_F(Db, LibraryConnectsOnlyToExistingDatabasesWithKnownOptions)
{
    void *h = &h;
    CaptureStderr();
    EXPECT_NE(sqlite_conn("/tmp/nosuch.db", "", &h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_NE(access("/tmp/nosuch.db", F_OK), 0);
    FILE *fp = fopen("/tmp/text.db", "w");
    fputs("this is not a database file, whatever its name says\n", fp);
    fclose(fp);
    EXPECT_EQ(sqlite_conn("/tmp/text.db", "", &h), SQLITE_NOTADB);
    for (const char *bad : {"rw", "busy=", "busy=-1", "busy=1x", ",ro", "busy=99999999999"})
        EXPECT_EQ(sqlite_conn(DB, bad, &h), SQLITE_MISUSE) << bad;
    EXPECT_EQ(h, nullptr);

    ASSERT_EQ(sqlite_conn(DB, "ro,busy=10", &h), 0);
    EXPECT_EQ(sqlite_execute(h, "insert into t values (1, 2, 3);"), SQLITE_READONLY);
    GetCapturedStderr();
    sqlite_disconn(h);
}

TEST_F(Db, LibraryStatementFailsLoudlyOnAWriterThatDoesNotLetGo)
{
    sqlite3 *writer = NULL;
    ASSERT_EQ(sqlite3_open(DB, &writer), SQLITE_OK);
    void *h = NULL;
    ASSERT_EQ(sqlite_conn(DB, "busy=20", &h), 0);
    ASSERT_EQ(sqlite3_exec(writer, "begin exclusive;", NULL, NULL, NULL), SQLITE_OK);
    CaptureStderr();
    EXPECT_EQ(sqlite_execute(h, "insert into t values (1, 2, 3);"), SQLITE_BUSY);
    EXPECT_EQ(GetCapturedStderr(), "bvdb: sqlite_execute: database is locked\n");
    ASSERT_EQ(sqlite3_exec(writer, "commit;", NULL, NULL, NULL), SQLITE_OK);
    EXPECT_EQ(sqlite_execute(h, "insert into t values (1, 2, 3);"), 0);
    sqlite3_close(writer);
    sqlite_disconn(h);
}

} // namespace
