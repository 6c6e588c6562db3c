/*
 * Files in folders that other users can write (/tmp), and the locks kept
 * in such files.
 *
 * The tool runs as root, and a camera runs other programs under other
 * users. A name in /tmp may have been made by one of them first: a link to
 * the configuration database, a FIFO that no one writes, a file of theirs.
 * board_file_open opens only a regular file of our own, through no link,
 * without ever waiting (a FIFO is refused, not waited on), and leaves it
 * with no more permissions than asked for; board_lock_holder names the
 * process that holds a lock on a file, as far as the kernel says.
 *
 * Like board_report.h, a header of inline functions: each library that
 * includes it carries its own copy.
 */
#ifndef BOARDLIBS_BOARD_FILE_H
#define BOARDLIBS_BOARD_FILE_H

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

// board_file_open's answer for a name that is no file of ours to use.
enum { BOARD_FILE_REFUSED = -2 };
// Room for a reason (board_file_open) or a holder (board_lock_holder).
enum { BOARD_FILE_TEXT_SIZE = 64 };

// What kind of file MODE is, for a report.
inline const char *board_file_kind(mode_t mode)
{
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "a regular file";
}

// Why the open file FD (ST its status) is no file of ours to use, into WHY;
// 0 when it is one.
inline int board_file_refuse(const struct stat *st, char *why, size_t size)
{
    if (!S_ISREG(st->st_mode))
        snprintf(why, size, "%s, not a regular file", board_file_kind(st->st_mode));
    else if (st->st_uid != geteuid())
        snprintf(why, size, "owned by uid %u, not by uid %u", (unsigned int)st->st_uid,
                 (unsigned int)geteuid());
    else if (st->st_nlink != 1)
        snprintf(why, size, "a file with %lu names (hard links)", (unsigned long)st->st_nlink);
    else
        return 0;
    return 1;
}

// Opens PATH with FLAGS (O_RDONLY, O_WRONLY or O_RDWR, and O_CREAT,
// O_TRUNC, O_APPEND as wanted); a file it creates gets MODE. Returns the
// descriptor (close-on-exec, blocking), or:
//  - -1 when the system refused (errno is kept; WHY gets its text),
//  - BOARD_FILE_REFUSED when the name is no file of ours: a symbolic link,
//    a FIFO, a folder or a device, a file of another user, or one with
//    other names (hard links). WHY says which.
// Nothing is truncated before these checks. With O_CREAT, a file of ours
// that grants more than MODE is narrowed to MODE: one made world-writable
// under umask 000 (or by an older program) is not left so.
inline int board_file_open(const char *path, int flags, mode_t mode, char *why, size_t size)
{
    int fd = open(path, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    struct stat st;
    if (fd < 0) {
        int err = errno;
        // ELOOP: a link; ENXIO: a FIFO without a reader; EISDIR: a folder.
        if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
            snprintf(why, size, "%s, not a regular file", board_file_kind(st.st_mode));
            errno = err;
            return BOARD_FILE_REFUSED;
        }
        snprintf(why, size, "%s", strerror(err));
        errno = err;
        return -1;
    }
    int bad = 1;
    if (fstat(fd, &st) != 0)
        snprintf(why, size, "%s", strerror(errno));
    else
        bad = board_file_refuse(&st, why, size);
    if (bad) {
        close(fd);
        errno = EPERM;
        return BOARD_FILE_REFUSED;
    }
    if ((flags & O_CREAT) != 0 && (st.st_mode & 07777 & ~mode) != 0)
        fchmod(fd, st.st_mode & 07777 & mode); // a read-only disk keeps what it has
    if ((flags & O_TRUNC) != 0 && ftruncate(fd, 0) != 0) {
        int err = errno;
        snprintf(why, size, "%s", strerror(err));
        close(fd);
        errno = err;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// 1 when another user than us may write the folder that holds PATH (/tmp,
// or a folder of another user's): a name there may be theirs, and is to be
// opened with board_file_open. A folder that cannot be looked at counts as
// one too.
inline int board_file_in_shared_folder(const char *path)
{
    char dir[256];
    const char *slash = strrchr(path, '/');
    if (slash == NULL)
        snprintf(dir, sizeof dir, ".");
    else if (slash == path)
        snprintf(dir, sizeof dir, "/");
    else if ((size_t)(slash - path) < sizeof dir)
        snprintf(dir, sizeof dir, "%.*s", (int)(slash - path), path);
    else
        return 1;
    struct stat st;
    if (stat(dir, &st) != 0)
        return 1;
    return st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// A folder we rely on in a folder others can write (/tmp/media) is ours:
// a folder, no link, owned by us, writable by no one else. 0 when it is;
// -1 when it cannot be looked at (errno kept; WHY its text, ENOENT for one
// that is not there), BOARD_FILE_REFUSED when it is not ours (WHY says why).
inline int board_folder_check(const char *path, char *why, size_t size)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        int err = errno;
        snprintf(why, size, "%s", strerror(err));
        errno = err;
        return -1;
    }
    if (!S_ISDIR(st.st_mode))
        snprintf(why, size, "%s, not a folder", board_file_kind(st.st_mode));
    else if (st.st_uid != geteuid())
        snprintf(why, size, "owned by uid %u, not by uid %u", (unsigned int)st.st_uid,
                 (unsigned int)geteuid());
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        snprintf(why, size, "writable by other users (mode %03o)",
                 (unsigned int)(st.st_mode & 0777));
    else
        return 0;
    return BOARD_FILE_REFUSED;
}

// "pid N (name)" of a process, the name when /proc shows it.
inline void board_process_text(long pid, char *text, size_t size)
{
    char path[40], name[32] = "";
    snprintf(path, sizeof path, "/proc/%ld/comm", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t got = read(fd, name, sizeof name - 1);
        name[got > 0 ? got : 0] = '\0';
        name[strcspn(name, "\n")] = '\0';
        close(fd);
    }
    if (name[0] != '\0')
        snprintf(text, size, "pid %ld (%s)", pid, name);
    else
        snprintf(text, size, "pid %ld", pid);
}

// The holder of a conflicting record lock (fcntl, lockf) on the whole file
// FD: "pid N (name)"; "another process" when the kernel does not say (an
// open-file lock, a process of another PID namespace, or none by now).
inline void board_lock_holder(int fd, char *text, size_t size)
{
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK && fl.l_pid > 0)
        board_process_text((long)fl.l_pid, text, size);
    else
        snprintf(text, size, "another process");
}

// The holder of a flock() lock on FD, from /proc/locks (whose pids are
// those of the reader's namespace): "pid N (name)", else "another process".
inline void board_flock_holder(int fd, char *text, size_t size)
{
    snprintf(text, size, "another process");
    struct stat st;
    FILE *locks = fstat(fd, &st) == 0 ? fopen("/proc/locks", "re") : NULL;
    if (locks == NULL)
        return;
    char line[160];
    while (fgets(line, sizeof line, locks) != NULL) {
        long pid;
        unsigned int major_dev, minor_dev;
        unsigned long inode;
        // "1: FLOCK  ADVISORY  WRITE 321 08:02:1234 0 EOF"; waiters read "1: -> FLOCK ...".
        if (sscanf(line, "%*d: FLOCK %*s %*s %ld %x:%x:%lu", &pid, &major_dev, &minor_dev,
                   &inode) == 4 &&
            major_dev == major(st.st_dev) && minor_dev == minor(st.st_dev) &&
            inode == (unsigned long)st.st_ino && pid > 0) {
            board_process_text(pid, text, size);
            break;
        }
    }
    fclose(locks);
}

#endif
