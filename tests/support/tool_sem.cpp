// Another program of the camera that shares a System V semaphore without
// SEM_UNDO: one semop on semaphore 0 of the set keyed from DIR and the
// project letter, which stays done when the program ends.
//     tool_sem DIR LETTER DELTA      for example: tool_sem /mnt/nand/ s -1
// Exits with 0 once done, 1 when the set is missing or the operation fails.
#include <stdio.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/sem.h>

int main(int argc, char **argv)
{
    if (argc != 4 || argv[2][0] == '\0') {
        fprintf(stderr, "usage: tool_sem DIR LETTER DELTA\n");
        return 2;
    }
    key_t key = ftok(argv[1], argv[2][0]);
    int id = key == -1 ? -1 : semget(key, 0, 0);
    struct sembuf op = {0, (short)atoi(argv[3]), IPC_NOWAIT};
    if (id < 0 || semop(id, &op, 1) != 0) {
        perror("tool_sem");
        return 1;
    }
    return 0;
}
