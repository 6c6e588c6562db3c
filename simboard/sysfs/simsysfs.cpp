// simsysfs: serves the simulated board's /sys/class/gpio and /sys/class/pwm,
// and its ADC's IIO device, in user space (FUSE), with the kernel's rules
// (sysfs_model.cpp).
//   simsysfs DESCRIPTION LOG MOUNTPOINT
// DESCRIPTION names the chips, lines and channels; every attribute write
// is appended to LOG as it happens. The mount shows gpio/ and pwm/ (and
// iio:device0/ when described); the board binds them over /sys/class (and
// /sys/bus/iio/devices). Runs in the foreground, single-threaded
// so that the log is in the order of the writes, until it is unmounted or
// killed. A host program: it runs beside the board's tool, never on it.
#define FUSE_USE_VERSION 26
#define _FILE_OFFSET_BITS 64

#include "sysfs_model.h"

#include <fuse/fuse.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <fstream>
#include <map>
#include <sstream>

namespace
{

simsysfs::Model model;
FILE *log_file;
struct timespec started;
std::map<uint64_t, simsysfs::Node> handles; // open files by FUSE handle
uint64_t next_handle = 1;

// Sysfs attributes show one page, whatever their text.
const off_t ATTRIBUTE_SIZE = 4096;

uint64_t now_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)(ts.tv_sec - started.tv_sec) * 1000000u +
           (uint64_t)((ts.tv_nsec - started.tv_nsec) / 1000);
}

int fs_getattr(const char *path, struct stat *st)
{
    simsysfs::Node node;
    int r = model.lookup(path, &node);
    if (r != 0)
        return r;
    memset(st, 0, sizeof *st);
    st->st_mode = model.mode(node) | (node.is_dir() ? S_IFDIR : S_IFREG);
    st->st_nlink = node.is_dir() ? 2 : 1;
    st->st_size = node.is_dir() ? 0 : ATTRIBUTE_SIZE;
    return 0;
}

int fs_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t, struct fuse_file_info *)
{
    simsysfs::Node node;
    int r = model.lookup(path, &node);
    if (r != 0)
        return r;
    if (!node.is_dir())
        return -ENOTDIR;
    fill(buf, ".", nullptr, 0);
    fill(buf, "..", nullptr, 0);
    for (const std::string &name : model.list(node))
        fill(buf, name.c_str(), nullptr, 0);
    return 0;
}

int fs_open(const char *path, struct fuse_file_info *fi)
{
    simsysfs::Node node;
    int r = model.lookup(path, &node);
    if (r != 0)
        return r;
    int access = fi->flags & O_ACCMODE;
    r = model.open(node, access != O_WRONLY, access != O_RDONLY);
    if (r != 0)
        return r;
    fi->direct_io = 1; // every read and write reaches the model
    fi->fh = next_handle++;
    handles[fi->fh] = node;
    return 0;
}

int fs_read(const char *, char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    std::string text;
    int r = model.read(handles.at(fi->fh), &text);
    if (r != 0)
        return r;
    if (offset >= (off_t)text.size())
        return 0;
    size_t n = text.size() - (size_t)offset < size ? text.size() - (size_t)offset : size;
    memcpy(buf, text.data() + offset, n);
    return (int)n;
}

// Like the kernel's, a store takes each write whole, at any offset.
int fs_write(const char *, const char *buf, size_t size, off_t, struct fuse_file_info *fi)
{
    int r = model.write(handles.at(fi->fh), std::string(buf, size), now_us());
    return r != 0 ? r : (int)size;
}

// Opening with O_TRUNC (the shell's ">") truncates first: nothing to do.
int fs_truncate(const char *path, off_t)
{
    simsysfs::Node node;
    return model.lookup(path, &node);
}

int fs_release(const char *, struct fuse_file_info *fi)
{
    handles.erase(fi->fh);
    return 0;
}

void write_log(const std::string &line)
{
    fprintf(log_file, "%s\n", line.c_str());
    fflush(log_file);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: simsysfs DESCRIPTION LOG MOUNTPOINT\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream description;
    description << in.rdbuf();
    std::string error;
    if (!in || !model.load(description.str(), &error)) {
        fprintf(stderr, "simsysfs: %s: %s\n", argv[1], in ? error.c_str() : strerror(errno));
        return 2;
    }
    log_file = fopen(argv[2], "w");
    if (log_file == nullptr) {
        fprintf(stderr, "simsysfs: %s: %s\n", argv[2], strerror(errno));
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &started);
    model.log = write_log;

    struct fuse_operations ops;
    memset(&ops, 0, sizeof ops);
    ops.getattr = fs_getattr;
    ops.readdir = fs_readdir;
    ops.open = fs_open;
    ops.read = fs_read;
    ops.write = fs_write;
    ops.truncate = fs_truncate;
    ops.release = fs_release;
    // No caching of names or attributes: an export or unexport shows at once.
    char options[] = "fsname=sysfs,subtype=simsysfs,entry_timeout=0,attr_timeout=0,"
                     "negative_timeout=0";
    char *fuse_argv[] = {argv[0],      argv[3], (char *)"-f", (char *)"-s",
                         (char *)"-o", options, nullptr};
    return fuse_main(6, fuse_argv, &ops, nullptr);
}
