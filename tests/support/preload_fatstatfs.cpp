// Loaded into fusefat by the simulated board's mount (simboard/bin/mount).
// fusefat answers statfs with cluster counts in the inode fields and zero
// blocks, so df would hide the card and statfs would report nothing. This
// library takes the place of that one operation and answers it as the
// kernel's vfat driver does: one block is one cluster, the blocks are the
// data clusters, and the free blocks are the FAT entries that are zero.
// Everything else stays fusefat's. The image is named by FAT_STATFS_IMAGE.
#define _FILE_OFFSET_BITS 64
#define FUSE_USE_VERSION 26

#include <fuse/fuse.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char IMAGE_VARIABLE[] = "FAT_STATFS_IMAGE";
const uint32_t FAT32_ENTRY_MASK = 0x0FFFFFFFu;

struct fat_geometry {
    uint32_t cluster_bytes;
    uint64_t fat_offset;    // first FAT, in bytes from the start of the image
    uint32_t data_clusters; // clusters 2 .. data_clusters + 1
};

// fusefat's own operations.
struct fuse_operations fusefat;

uint32_t le16(const unsigned char *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }

uint32_t le32(const unsigned char *p) { return le16(p) | le16(p + 2) << 16; }

// Reads the boot sector; only FAT32 volumes are answered here.
bool read_geometry(int fd, fat_geometry *geo)
{
    unsigned char boot[512];
    if (pread(fd, boot, sizeof boot, 0) != (ssize_t)sizeof boot)
        return false;
    uint32_t sector = le16(boot + 11);
    uint32_t per_cluster = boot[13];
    uint32_t reserved = le16(boot + 14);
    uint32_t fats = boot[16];
    uint32_t root_entries = le16(boot + 17);
    uint32_t sectors = le16(boot + 19) != 0 ? le16(boot + 19) : le32(boot + 32);
    uint32_t fat_sectors = le32(boot + 36);
    if (sector == 0 || per_cluster == 0 || le16(boot + 22) != 0 || root_entries != 0 ||
        fat_sectors == 0)
        return false;
    uint64_t meta = (uint64_t)reserved + (uint64_t)fats * fat_sectors;
    if (meta >= sectors)
        return false;
    geo->cluster_bytes = sector * per_cluster;
    geo->fat_offset = (uint64_t)reserved * sector;
    geo->data_clusters = (uint32_t)((sectors - meta) / per_cluster);
    uint64_t fat_entries = (uint64_t)fat_sectors * sector / 4;
    if (fat_entries < (uint64_t)geo->data_clusters + 2)
        geo->data_clusters = (uint32_t)(fat_entries - 2);
    return true;
}

bool count_free(int fd, const fat_geometry &geo, uint64_t *free_clusters)
{
    static unsigned char chunk[64 * 1024];
    uint64_t first = 2, end = (uint64_t)geo.data_clusters + 2, count = 0;
    for (uint64_t entry = 0; entry < end;) {
        uint64_t want = end - entry;
        if (want > sizeof chunk / 4)
            want = sizeof chunk / 4;
        ssize_t got = pread(fd, chunk, want * 4, (off_t)(geo.fat_offset + entry * 4));
        if (got != (ssize_t)(want * 4))
            return false;
        for (uint64_t i = 0; i < want; i++, entry++)
            if (entry >= first && (le32(chunk + i * 4) & FAT32_ENTRY_MASK) == 0)
                count++;
    }
    *free_clusters = count;
    return true;
}

int fat_statfs(const char *path, struct statvfs *st)
{
    const char *image = getenv(IMAGE_VARIABLE);
    int fd = image != nullptr ? open(image, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0)
        return fusefat.statfs != nullptr ? fusefat.statfs(path, st) : -ENOSYS;
    fat_geometry geo;
    uint64_t free_clusters = 0;
    bool known = read_geometry(fd, &geo) && count_free(fd, geo, &free_clusters);
    close(fd);
    if (!known)
        return fusefat.statfs != nullptr ? fusefat.statfs(path, st) : -EIO;
    memset(st, 0, sizeof *st);
    st->f_bsize = geo.cluster_bytes;
    st->f_frsize = geo.cluster_bytes;
    st->f_blocks = geo.data_clusters;
    st->f_bfree = free_clusters;
    st->f_bavail = free_clusters;
    st->f_namemax = 255;
    return 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
fuse_main_real(int argc, char *argv[], const struct fuse_operations *op, size_t op_size,
               void *user_data)
{
    using main_fn = int (*)(int, char **, const struct fuse_operations *, size_t, void *);
    auto real = (main_fn)dlvsym(RTLD_NEXT, "fuse_main_real", "FUSE_2.6");
    if (real == nullptr)
        real = (main_fn)dlsym(RTLD_NEXT, "fuse_main_real");
    if (real == nullptr)
        return 1;
    static struct fuse_operations ops;
    size_t size = op_size < sizeof ops ? op_size : sizeof ops;
    memcpy(&fusefat, op, size);
    ops = fusefat;
    ops.statfs = fat_statfs;
    return real(argc, argv, &ops, size, user_data);
}
