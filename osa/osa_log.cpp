// System V semaphore layer and the debug log on the NAND flash.
//
// Appends to the log are serialised between processes by one binary
// semaphore keyed from the log's directory. Lock and unlock carry SEM_UNDO,
// so a writer killed while it holds the log gives the semaphore back when it
// dies. Another program of the camera that shares the semaphore without
// SEM_UNDO can still leave it at 0: the log then waits LOG_WAIT_MS for it,
// reports the wedged semaphore, writes the record without it and frees the
// semaphore again. Each record is one write() to a file opened with
// O_APPEND, which the kernel never interleaves with another writer's, so
// writing without the semaphore neither loses nor tears a record. On a full
// disk a record is written whole or cut off again (log_write).
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const char OSA_UNIT[] = "osa_log";

static const char LOG_KEY_DIR[] = "/mnt/nand/";
static const int LOG_KEY_PROJECT = 's';
// A writer holds the semaphore for one write and one fsync.
static const unsigned int LOG_WAIT_MS = 2000;

static struct log_state {
    char path[128];
    int fd;
    int initialised;
    key_t key;
    ipc_sem sem;
    bool sync_failed; // said once
} log_state = {"/mnt/nand/debug.log", -1, 0, -1, {0, 0, 0}, false};

union semun {
    int val;
    struct semid_ds *buf;
    unsigned short *array;
};

key_t OSA_ipcMakeKey(const char *path, int project) { return ftok(path, project & 0xFF); }

int OSA_ipcSemOpen(ipc_sem *sem, key_t key, unsigned int count, unsigned int initial,
                   int max_value, unsigned int flags)
{
    sem->count = count;
    sem->max_value = max_value;
    if (initial > (unsigned int)max_value)
        initial = (unsigned int)max_value;

    if (flags & OSA_IPC_CREATE) {
        if (count > OSA_IPC_MAX_SEMS)
            return -1;
        sem->id = semget(key, (int)count, IPC_CREAT | IPC_EXCL | 0666);
        if (sem->id < 0)
            return -1;
        union semun arg;
        arg.val = (int)initial;
        for (unsigned int i = 0; i < count; i++)
            semctl(sem->id, (int)i, SETVAL, arg);
    } else {
        sem->id = semget(key, 0, 0666);
    }
    return sem->id < 0 ? -1 : 0;
}

static int sem_step(ipc_sem *sem, unsigned int index, short delta, int wait)
{
    struct sembuf op;
    op.sem_num = (unsigned short)index;
    op.sem_op = delta;
    op.sem_flg = (short)(SEM_UNDO | (wait == 0 ? IPC_NOWAIT : 0));
    int rc;
    do
        rc = semop(sem->id, &op, 1);
    while (rc < 0 && errno == EINTR && wait != 0);
    return rc < 0 ? -1 : 0;
}

int OSA_ipcSemLock(ipc_sem *sem, unsigned int index, int wait)
{
    if (index >= sem->count)
        return -1;
    return sem_step(sem, index, -1, wait);
}

int OSA_ipcSemUnlock(ipc_sem *sem, unsigned int index, int wait)
{
    if (index >= sem->count)
        return -1;
    if (OSA_ipcSemGetValue(sem, index) >= sem->max_value)
        return 0;
    return sem_step(sem, index, +1, wait);
}

int OSA_ipcSemGetValue(ipc_sem *sem, unsigned int index)
{
    return semctl(sem->id, (int)index, GETVAL);
}

static uint64_t monotonic_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

// Takes the log's semaphore, waiting at most LOG_WAIT_MS in all (signals do
// not cut the wait short: the record is still to be written). 0 when taken,
// -1 when the wait ran out or failed.
static int log_lock(void)
{
    struct sembuf op;
    op.sem_num = 0;
    op.sem_op = -1;
    op.sem_flg = SEM_UNDO;
    uint64_t deadline = monotonic_ms() + LOG_WAIT_MS;
    for (;;) {
        uint64_t now = monotonic_ms();
        uint64_t left = deadline > now ? deadline - now : 0;
        struct timespec wait;
        wait.tv_sec = (time_t)(left / 1000u);
        wait.tv_nsec = (long)(left % 1000u) * 1000000L;
        if (semtimedop(log_state.sem.id, &op, 1, &wait) == 0)
            return 0;
        if (errno != EINTR || left == 0)
            return -1;
    }
}

int OSA_logInit(void)
{
    if (log_state.initialised == 1)
        return 0;
    log_state.key = OSA_ipcMakeKey(LOG_KEY_DIR, LOG_KEY_PROJECT);
    if (log_state.key == -1) {
        OSA_ERROR("OSA_ipcMakeKey() \n");
        return -1;
    }
    if (OSA_ipcSemOpen(&log_state.sem, log_state.key, 1, 1, 1, OSA_IPC_CREATE) != 0 &&
        OSA_ipcSemOpen(&log_state.sem, log_state.key, 1, 0, 1, 0) != 0) {
        OSA_ERROR("OSA_ipcSemOpen() \n");
        return -1;
    }
    log_state.initialised = 1;
    return 0;
}

// Gives the semaphore back. A taken one is raised with SEM_UNDO, which
// cancels the lock's undo entry even when a take-over has freed the
// semaphore meanwhile (leaving the entry would raise it again when this
// process ends); the excess is then taken back, so that the value stays at
// most 1. One that was not taken is freed only if it is still at 0, in one
// step (wait-for-zero and raise together), and without SEM_UNDO: it stays
// free when this process ends.
static void log_unlock(bool taken)
{
    if (taken) {
        struct sembuf give = {0, 1, SEM_UNDO};
        semop(log_state.sem.id, &give, 1);
        struct sembuf excess = {0, -1, IPC_NOWAIT};
        if (OSA_ipcSemGetValue(&log_state.sem, 0) > log_state.sem.max_value)
            semop(log_state.sem.id, &excess, 1);
        return;
    }
    struct sembuf free_if_zero[2] = {{0, 0, IPC_NOWAIT}, {0, 1, IPC_NOWAIT}};
    semop(log_state.sem.id, free_if_zero, 2);
}

static int log_open(void)
{
    if (log_state.fd != -1)
        return 0;
    log_state.fd = open(log_state.path, O_RDWR | O_CREAT | O_APPEND, 0666);
    if (log_state.fd == -1) {
        perror("open log:");
        return -1;
    }
    return 0;
}

// Appends the record whole or not at all. A short write (a disk that fills
// up) is tried once more for the rest; a record still short is cut off
// again, unless another writer has appended after it meanwhile (a record
// written without the semaphore), whose record must not go with it. On
// failure errno tells why.
static int log_write(const void *data, unsigned int len)
{
    off_t start = lseek(log_state.fd, 0, SEEK_END);
    ssize_t done = write(log_state.fd, data, len);
    if (done > 0 && (size_t)done < len) {
        ssize_t more = write(log_state.fd, (const char *)data + done, len - (size_t)done);
        if (more >= 0)
            done += more;
    }
    if (done == (ssize_t)len)
        return 0;
    if (done >= 0) // short without an error of its own: the disk is full
        errno = ENOSPC;
    int err = errno;
    struct stat st;
    if (done > 0 && start >= 0 && fstat(log_state.fd, &st) == 0 && st.st_size == start + done &&
        ftruncate(log_state.fd, start) != 0)
        perror("cut log");
    errno = err;
    return -1;
}

int OSA_log(const void *data, unsigned int len)
{
    if (log_state.initialised == 0 && OSA_logInit() != 0) {
        OSA_ERROR("Faild init semphare \n");
        return -1;
    }
    if (log_open() != 0) {
        OSA_ERROR("Faild to open log: %s \n", log_state.path);
        return -1;
    }
    bool taken = log_lock() == 0;
    if (!taken)
        OSA_ERROR("log semaphore not released within %u ms, record written without it \n",
                  LOG_WAIT_MS);
    int status = log_write(data, len);
    int err = errno;
    bool synced = status != 0 || fsync(log_state.fd) == 0;
    int sync_err = errno;
    log_unlock(taken);
    if (status != 0) {
        errno = err;
        perror("write log");
        OSA_ERROR("Faild to write log: %s: %s \n", log_state.path, strerror(err));
        return status;
    }
    // The record is in the file but not known to be on the flash: said
    // once a run, as every later record would meet the same flash.
    if (!synced) {
        if (!log_state.sync_failed)
            OSA_ERROR("Faild to sync log: %s: %s \n", log_state.path, strerror(sync_err));
        log_state.sync_failed = true;
        return -1;
    }
    return 0;
}

int OSA_logDeinit(void)
{
    if (log_state.fd != -1)
        close(log_state.fd);
    log_state.fd = -1;
    return 0;
}
