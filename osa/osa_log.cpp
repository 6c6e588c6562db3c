// System V semaphore layer and the debug log on the NAND flash.
//
// Appends to the log are serialised between processes by one binary
// semaphore keyed from the log's directory. Lock and unlock carry SEM_UNDO,
// so a writer killed while it holds the log gives the semaphore back when it
// dies instead of leaving every later writer waiting for ever.
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

static const char OSA_UNIT[] = "osa_log";

static const char LOG_KEY_DIR[] = "/mnt/nand/";
static const int LOG_KEY_PROJECT = 's';

static struct log_state {
    char path[128];
    int fd;
    int initialised;
    key_t key;
    ipc_sem sem;
} log_state = {"/mnt/nand/debug.log", -1, 0, -1, {0, 0, 0}};

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
    OSA_ipcSemLock(&log_state.sem, 0, -1);
    ssize_t written = write(log_state.fd, data, len);
    if (written <= 0) {
        perror("write log");
        OSA_ipcSemUnlock(&log_state.sem, 0, -1);
        return -1;
    }
    fsync(log_state.fd);
    OSA_ipcSemUnlock(&log_state.sem, 0, -1);
    return 0;
}

int OSA_logDeinit(void)
{
    if (log_state.fd != -1)
        close(log_state.fd);
    log_state.fd = -1;
    return 0;
}
