// tool_feed FIFO FILE...: hands the files one by one to whoever opens the
// FIFO for reading, one file per open, and then the last file again for
// every further open, until it is killed. A reader that stops reading early
// (after the line it wanted) never gets two files in one open: the next file
// is written only after the previous reader has closed its end.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const size_t MAX_FILE = 4096; // one atomic pipe write at most

static int load(const char *path, char *buf, size_t *len)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        return -1;
    }
    ssize_t n = read(fd, buf, MAX_FILE);
    char extra;
    ssize_t more = n >= 0 ? read(fd, &extra, 1) : 0;
    close(fd);
    if (n < 0 || more != 0) {
        fprintf(stderr, "%s: unreadable or longer than %zu bytes\n", path, MAX_FILE);
        return -1;
    }
    *len = (size_t)n;
    return 0;
}

// Opening the write end without waiting fails with ENXIO once no reader
// has the FIFO open any more. (A reader that opens within the polling
// millisecond would see an empty file: the readers fed here come seconds
// apart.)
static void wait_reader_gone(const char *fifo)
{
    const struct timespec pause = {0, 1000000};
    for (;;) {
        int fd = open(fifo, O_WRONLY | O_NONBLOCK);
        if (fd < 0 && errno == ENXIO)
            return;
        if (fd >= 0)
            close(fd);
        nanosleep(&pause, NULL);
    }
}

static int feed(const char *fifo, const char *buf, size_t len)
{
    int fd = open(fifo, O_WRONLY); // waits for a reader
    if (fd < 0) {
        perror(fifo);
        return -1;
    }
    ssize_t n = write(fd, buf, len);
    close(fd);
    if (n != (ssize_t)len && !(n < 0 && errno == EPIPE)) {
        perror(fifo);
        return -1;
    }
    wait_reader_gone(fifo);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s FIFO FILE...\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN); // a reader may close before reading it all
    static char buf[MAX_FILE];
    size_t len = 0;
    for (int i = 2;; i = i + 1 < argc ? i + 1 : i) {
        if (load(argv[i], buf, &len) != 0 || feed(argv[1], buf, len) != 0)
            return 1;
    }
}
