// System V semaphore layer and the debug log. These run on the simulated
// board: private IPC namespace, private /mnt/nand.
#include "osa.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char LOG[] = "/mnt/nand/debug.log";

std::string read_file(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void remove_set(key_t key)
{
    int id = semget(key, 0, 0);
    if (id >= 0)
        semctl(id, 0, IPC_RMID);
}

class SemLayer : public testing::Test {
protected:
    key_t key = OSA_ipcMakeKey("/mnt/nand2/", 'T');
    void SetUp() override { ASSERT_NE(key, -1); remove_set(key); }
    void TearDown() override { remove_set(key); }
};

TEST_F(SemLayer, CreateOpenAndCountLimits)
{
    ipc_sem sem = {};
    EXPECT_EQ(OSA_ipcSemOpen(&sem, key, 33, 1, 1, OSA_IPC_CREATE), -1);
    EXPECT_LT(semget(key, 0, 0), 0) << "nothing created for 33 semaphores";

    EXPECT_EQ(OSA_ipcSemOpen(&sem, key, 2, 5, 3, OSA_IPC_CREATE), 0);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 3) << "initial value capped at the maximum";
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 1), 3);
    ipc_sem again = {};
    EXPECT_EQ(OSA_ipcSemOpen(&again, key, 2, 1, 3, OSA_IPC_CREATE), -1) << "exists already";
    EXPECT_EQ(OSA_ipcSemOpen(&again, key, 2, 0, 3, 0), 0);
    EXPECT_EQ(again.id, sem.id);
    EXPECT_EQ(OSA_ipcSemGetValue(&again, 0), 3) << "opening leaves the value alone";

    ipc_sem missing = {};
    EXPECT_EQ(OSA_ipcSemOpen(&missing, OSA_ipcMakeKey("/mnt/mmc/", 'T'), 1, 0, 1, 0), -1);
}

TEST_F(SemLayer, LockUnlockStayWithinZeroAndTheMaximum)
{
    ipc_sem sem = {};
    ASSERT_EQ(OSA_ipcSemOpen(&sem, key, 1, 1, 1, OSA_IPC_CREATE), 0);
    EXPECT_EQ(OSA_ipcSemUnlock(&sem, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 1) << "unlocking a free semaphore leaves it at 1";
    EXPECT_EQ(OSA_ipcSemLock(&sem, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 0);
    EXPECT_EQ(OSA_ipcSemLock(&sem, 0, 0), -1) << "held: no wait fails at once";
    EXPECT_EQ(OSA_ipcSemUnlock(&sem, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemUnlock(&sem, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 1);
    EXPECT_EQ(OSA_ipcSemLock(&sem, 1, 1), -1) << "index past the set";
    EXPECT_EQ(OSA_ipcSemUnlock(&sem, 1, 1), -1);
}

TEST_F(SemLayer, WriterKilledWhileHoldingGivesTheSemaphoreBack)
{
    ipc_sem sem = {};
    ASSERT_EQ(OSA_ipcSemOpen(&sem, key, 1, 1, 1, OSA_IPC_CREATE), 0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        ipc_sem mine = {};
        OSA_ipcSemOpen(&mine, key, 1, 0, 1, 0);
        OSA_ipcSemLock(&mine, 0, 1);
        if (write(ready[1], "x", 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 0);
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 1);
    EXPECT_EQ(OSA_ipcSemLock(&sem, 0, 0), 0);
    OSA_ipcSemUnlock(&sem, 0, 0);
}

class DebugLog : public testing::Test {
protected:
    void SetUp() override
    {
        OSA_logDeinit();
        unlink(LOG);
    }
    void TearDown() override { OSA_logDeinit(); }
};

TEST_F(DebugLog, AppendsBytesAsGivenAndReopensAfterDeinit)
{
    ASSERT_EQ(OSA_logInit(), 0);
    ASSERT_EQ(OSA_logInit(), 0) << "a second init is a no-op";
    char record[32] = "IR test 3 times\n";
    EXPECT_EQ(OSA_log(record, 16), 0);
    EXPECT_EQ(OSA_log(record, sizeof record), 0) << "padding included";
    OSA_logDeinit();
    EXPECT_EQ(OSA_log("x", 1), 0);
    std::string expect = std::string(record, 16) + std::string(record, sizeof record) + "x";
    EXPECT_EQ(read_file(LOG), expect);

    struct stat st;
    ASSERT_EQ(stat(LOG, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~0022u);
}

TEST_F(DebugLog, WaitsNotForEverAfterAHolderWasKilled)
{
    ASSERT_EQ(OSA_logInit(), 0);
    key_t key = OSA_ipcMakeKey("/mnt/nand/", 's');
    pid_t holder = fork();
    if (holder == 0) {
        ipc_sem sem = {};
        OSA_ipcSemOpen(&sem, key, 1, 0, 1, 0);
        OSA_ipcSemLock(&sem, 0, 1);
        raise(SIGKILL);
        _exit(0);
    }
    waitpid(holder, NULL, 0);
    pid_t writer = fork();
    if (writer == 0) {
        alarm(10); // a wedged semaphore would end the writer here
        _exit(OSA_log("after\n", 6) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "writer killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(LOG), "after\n");
}

// WRITERS processes append RECORDS records each, of varying length, so that
// a torn write would show; then every record must be there, whole, and in
// each writer's order.
void write_concurrently(int writers, int records)
{
    std::vector<pid_t> pids;
    for (int w = 0; w < writers; w++) {
        pid_t pid = fork();
        if (pid == 0) {
            alarm(60); // a wedged semaphore would end the writer here
            char buf[256];
            for (int r = 0; r < records; r++) {
                int pad = (w * 7 + r) % 97;
                int n = snprintf(buf, sizeof buf, "w%02d r%04d %.*s|\n", w, r, pad,
                                 "................................................."
                                 "................................................");
                if (OSA_log(buf, (unsigned)n) != 0)
                    _exit(1);
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::istringstream log(read_file(LOG));
    std::map<int, int> next;
    std::string line;
    int total = 0;
    while (std::getline(log, line)) {
        int w = -1, r = -1;
        ASSERT_EQ(sscanf(line.c_str(), "w%d r%d", &w, &r), 2) << line;
        int pad = (w * 7 + r) % 97;
        ASSERT_EQ(line.size(), 10u + pad + 1) << "torn record: " << line;
        EXPECT_EQ(r, next[w]) << "writer " << w << " out of order";
        next[w] = r + 1;
        total++;
    }
    EXPECT_EQ(total, writers * records);
}

TEST_F(DebugLog, ConcurrentWritersLoseNothingAndKeepTheirOrder) { write_concurrently(16, 200); }

// Another program took the semaphore without SEM_UNDO and ended: every
// writer that finds it taken waits a bounded time, then writes without it;
// the first to finish frees it for the rest.
TEST_F(DebugLog, WritersTakeOverAWedgedSemaphoreAndLoseNothing)
{
    ASSERT_EQ(OSA_logInit(), 0);
    ipc_sem sem = {};
    ASSERT_EQ(OSA_ipcSemOpen(&sem, OSA_ipcMakeKey("/mnt/nand/", 's'), 1, 0, 1, 0), 0);
    struct sembuf take = {0, -1, IPC_NOWAIT};
    ASSERT_EQ(semop(sem.id, &take, 1), 0);
    int saved = dup(STDERR_FILENO); // the writers' reports of the take-over
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    write_concurrently(8, 50);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(null);
    EXPECT_EQ(OSA_ipcSemGetValue(&sem, 0), 1) << "free again, and not above 1";
}

} // namespace
