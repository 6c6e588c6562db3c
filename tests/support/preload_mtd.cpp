// Stand-in for the kernel's MTD driver, preloaded (LD_PRELOAD) under the
// tool on the simulated board, whose /dev/mtdN are plain files. The file
// itself describes the partition, one directive a line:
//
//     size 0x400000        offsets outside 0..size-1 fail with EINVAL
//     bad 0x20000          MEMGETBADBLOCK at that offset answers 1
//     bad 0x60000 2        ... or the positive value given
//     fail 0x80000 5       ... fails: -1 with errno 5 (EIO)
//
// Every other offset is a good block (0). Requests on anything else go to
// the real ioctl. With MTD_TRACE=FILE set, the opens of /proc/mtd and of
// /dev/mtd*, their closes and every MEMGETBADBLOCK are appended to FILE.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/ioctl.h> // _IOW, without the ioctl() declaration
#include <mtd/mtd-user.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using ioctl_fn = int (*)(int, unsigned long, void *);
using open_fn = int (*)(const char *, int, ...);
using fopen_fn = FILE *(*)(const char *, const char *);
using close_fn = int (*)(int);

bool watched(const char *path)
{
    return strncmp(path, "/dev/mtd", 8) == 0 || strcmp(path, "/proc/mtd") == 0;
}

void trace(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void trace(const char *fmt, ...)
{
    const char *file = getenv("MTD_TRACE");
    if (file == NULL || *file == '\0')
        return;
    static open_fn real_open = real<open_fn>("open");
    int fd = real_open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof(line), fmt, ap);
    va_end(ap);
    if (n > 0)
        (void)!write(fd, line, (size_t)n < sizeof(line) ? (size_t)n : sizeof(line) - 1);
    static close_fn real_close = real<close_fn>("close");
    real_close(fd);
}

bool fd_path(int fd, char *path, size_t size)
{
    char link[64];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, size - 1);
    if (n < 0)
        return false;
    path[n] = '\0';
    return true;
}

// Answers MEMGETBADBLOCK from the description in the open file fd.
int answer(int fd, long long offset)
{
    static char text[256 * 1024];
    ssize_t n = pread(fd, text, sizeof(text) - 1, 0);
    if (n < 0)
        return -1;
    text[n] = '\0';

    long long size = -1;
    int result = 0, error = 0;
    for (char *line = text; line != NULL && *line != '\0';) {
        char *next = strchr(line, '\n');
        if (next != NULL)
            *next++ = '\0';
        char word[16];
        long long a = 0, b = 0;
        int got = sscanf(line, "%15s %lli %lli", word, &a, &b);
        if (got >= 2 && strcmp(word, "size") == 0)
            size = a;
        else if (got >= 2 && strcmp(word, "bad") == 0 && a == offset)
            result = got == 3 ? (int)b : 1;
        else if (got == 3 && strcmp(word, "fail") == 0 && a == offset)
            error = (int)b;
        line = next;
    }
    if (offset < 0 || (size >= 0 && offset >= size))
        error = EINVAL;
    if (error != 0) {
        errno = error;
        return -1;
    }
    return result;
}

} // namespace

extern "C" {

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    static ioctl_fn real_ioctl = real<ioctl_fn>("ioctl");
    char path[256];
    struct stat st;
    if (request != MEMGETBADBLOCK || !fd_path(fd, path, sizeof(path)) ||
        strncmp(path, "/dev/mtd", 8) != 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return real_ioctl(fd, request, arg);

    long long offset = *static_cast<const __kernel_loff_t *>(arg);
    int ret = answer(fd, offset);
    int saved = errno;
    if (ret < 0)
        trace("ioctl %s 0x%llx = -1 errno %d\n", path, offset, saved);
    else
        trace("ioctl %s 0x%llx = %d\n", path, offset, ret);
    errno = saved;
    return ret;
}

static int traced_open(const char *name, const char *path, int flags, va_list ap)
{
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
    static open_fn real_open = real<open_fn>("open");
    int fd = real_open(path, flags, mode);
    if (watched(path))
        trace("%s %s%s\n", name, path, fd < 0 ? " failed" : "");
    return fd;
}

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int fd = traced_open("open", path, flags, ap);
    va_end(ap);
    return fd;
}

int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int fd = traced_open("open", path, flags, ap);
    va_end(ap);
    return fd;
}

FILE *fopen(const char *path, const char *mode)
{
    static fopen_fn real_fopen = real<fopen_fn>("fopen");
    FILE *fp = real_fopen(path, mode);
    if (watched(path))
        trace("fopen %s%s\n", path, fp == NULL ? " failed" : "");
    return fp;
}

FILE *fopen64(const char *path, const char *mode) { return fopen(path, mode); }

int close(int fd)
{
    static close_fn real_close = real<close_fn>("close");
    char path[256];
    bool traced = getenv("MTD_TRACE") != NULL && fd_path(fd, path, sizeof(path)) &&
                  strncmp(path, "/dev/mtd", 8) == 0;
    int ret = real_close(fd);
    if (traced)
        trace("close %s\n", path);
    return ret;
}
}
