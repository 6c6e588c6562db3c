/*
 * A board library's sysfs attribute files: one open, one read or write and
 * one close a call. The kernel takes an attribute's new value in one
 * write and refuses it as a whole, so the errno of the write is the
 * kernel's answer (EBUSY from an export, EINVAL from a value it refuses).
 */
#ifndef BOARDLIBS_BOARD_SYSFS_H
#define BOARDLIBS_BOARD_SYSFS_H

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

// Writes text to the attribute: 0, or the errno of the open or the write.
inline int board_sysfs_write(const char *path, const char *text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ssize_t len = (ssize_t)strlen(text);
    int err = write(fd, text, (size_t)len) == len ? 0 : errno;
    close(fd);
    return err;
}

// Writes a number in decimal, as the kernel reads it.
inline int board_sysfs_write_number(const char *path, uint64_t number)
{
    char text[24];
    snprintf(text, sizeof text, "%llu", (unsigned long long)number);
    return board_sysfs_write(path, text);
}

// Reads the attribute into text (size at least 1), cut to fit and ended
// with a NUL, its newline kept: 0, or the errno of the open or the read
// (text is then empty).
inline int board_sysfs_read(const char *path, char *text, size_t size)
{
    text[0] = '\0';
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ssize_t got = read(fd, text, size - 1);
    int err = got < 0 ? errno : 0;
    text[got < 0 ? 0 : got] = '\0';
    close(fd);
    return err;
}

#endif
