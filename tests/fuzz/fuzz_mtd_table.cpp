// The /proc/mtd reader over any contents: at most the table's partitions,
// each with a terminated device path under /dev and a terminated name, and
// start addresses that add up the sizes before them.
#include "bv_mtd.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *fp = fuzz_open_bytes(data, size);
    int dropped = mtd_read_table(fp);
    fclose(fp);
    FUZZ_CHECK(dropped >= 0);
    FUZZ_CHECK(mtd_partition_count >= 0 && mtd_partition_count <= MTD_MAX_PARTITIONS);
    FUZZ_CHECK(dropped == 0 || mtd_partition_count == MTD_MAX_PARTITIONS);
    uint32_t start = 0;
    for (int i = 0; i < mtd_partition_count; i++) {
        const mtd_partition &p = mtd_partitions[i];
        FUZZ_CHECK(memchr(p.dev_path, '\0', sizeof p.dev_path) != NULL);
        FUZZ_CHECK(strncmp(p.dev_path, "/dev/", 5) == 0);
        FUZZ_CHECK(memchr(p.name, '\0', sizeof p.name) != NULL);
        FUZZ_CHECK(p.start == start && p.bad_count == 0);
        start += p.size;
    }
    return 0;
}
