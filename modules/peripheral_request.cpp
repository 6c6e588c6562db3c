// Hands a request record to another process on the camera through a System V
// shared-memory segment with a fixed key. The segment is never removed: it
// belongs to the reading process as much as to this tool.
#include "peripheral_request.h"
#include "osa.h"

#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

// Where the segment is attached during one publish.
static void *request_addr;

int publish_request(key_t key, size_t size, const void *record)
{
    int id = shmget(key, size, IPC_CREAT | 0666);
    if (id < 0) {
        OSA_printfUnlocked("faild to get shm id==%d\n", id);
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
