// The camera's common board library.
#include "bvcommon.h"

#include <fcntl.h>
#include <unistd.h>

// The kernel's cache control: "3" drops the page cache and the dentry and
// inode caches. Only clean pages can be dropped, hence the sync before.
static const char DROP_CACHES_PATH[] = "/proc/sys/vm/drop_caches";
static const char DROP_ALL_CACHES[] = "3";

int bv_free_system_caches(void)
{
    sync();
    int fd = open(DROP_CACHES_PATH, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t len = (ssize_t)(sizeof DROP_ALL_CACHES - 1);
    ssize_t written = write(fd, DROP_ALL_CACHES, (size_t)len);
    int closed = close(fd);
    return written == len && closed == 0 ? 0 : -1;
}
