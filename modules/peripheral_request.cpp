// Hands a request record to another process on the camera through a System V
// shared-memory segment with a fixed key. The segment is never removed: it
// belongs to the reading process as much as to this tool.
#include "peripheral_request.h"
#include "osa.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

// The unit in reports; the modules that include this file name their own.
static const char REQUEST_UNIT[] = "peripheral_request";

// Where the segment is attached during one publish.
static void *request_addr;

// Why the segment of KEY could not be had for SIZE bytes (ERR from shmget).
// One made before, by another program or user, that is smaller than a
// request or that this user may not write is named with its owner, mode
// and size, so that it can be found and removed.
static void report_segment(key_t key, size_t size, int err)
{
    struct shmid_ds ds;
    int id = shmget(key, 0, 0);
    if ((err != EINVAL && err != EACCES) || id < 0 || shmctl(id, IPC_STAT, &ds) != 0) {
        OSA_errorPrefix(REQUEST_UNIT, __func__, __LINE__);
        fprintf(stderr, "shared memory 0x%x: %s\n", (unsigned int)key, strerror(err));
        return;
    }
    char why[64];
    if (err == EINVAL)
        snprintf(why, sizeof why, "has %zu bytes, fewer than the %zu of a request",
                 (size_t)ds.shm_segsz, size);
    else
        snprintf(why, sizeof why, "may not be written by uid %u", (unsigned int)geteuid());
    OSA_errorPrefix(REQUEST_UNIT, __func__, __LINE__);
    fprintf(stderr,
            "shared memory 0x%x: the segment there, made by uid %u with mode %03o, %s: "
            "nothing sent\n",
            (unsigned int)key, (unsigned int)ds.shm_perm.uid,
            (unsigned int)(ds.shm_perm.mode & 0777), why);
}

int publish_request(key_t key, size_t size, const void *record)
{
    int id = shmget(key, size, IPC_CREAT | 0666);
    if (id < 0) {
        int err = errno;
        OSA_printfUnlocked("faild to get shm id==%d\n", id);
        report_segment(key, size, err);
        return -1;
    }
    request_addr = shmat(id, NULL, 0);
    if (request_addr == (void *)-1) {
        // Writing through the failure value would crash the tool.
        perror("attach error");
        request_addr = NULL;
        return -1;
    }
    memcpy(request_addr, record, size); // one copy; the reader takes it as it finds it
    if (shmdt(request_addr) != 0) {
        perror("detach error");
        return -1;
    }
    request_addr = NULL;
    return 0;
}
