// Runs a shell command while holding lockf on a file: another process of
// the camera that shares the database lock file.
//     tool_lockf FILE COMMAND
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: tool_lockf FILE COMMAND\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_CREAT, 0666);
    if (fd < 0 || lockf(fd, F_LOCK, 0) != 0) {
        perror(argv[1]);
        return 1;
    }
    int status = system(argv[2]);
    lockf(fd, F_ULOCK, 0);
    close(fd);
    return status == 0 ? 0 : 1;
}
