// The /proc/stat and /proc/self/stat readers over any contents, and the
// shares of the interval between two readings: each within 0..100.
#include "bv_cpu.cpp"
#include "fuzz.h"

#include <math.h>

static void check_share(double share) { FUZZ_CHECK(isfinite(share) && share >= 0 && share <= 100); }

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

// Both readers over one file's contents; 0 when both found their figures.
static int read_both(const uint8_t *data, size_t size, cpu_counters *c)
{
    FILE *fp = fuzz_open_bytes(data, size);
    int stat = cpu_parse_stat(fp, c);
    fclose(fp);
    fp = fuzz_open_bytes(data, size);
    int self = cpu_parse_self(fp, c);
    fclose(fp);
    return stat == 0 && self == 0 ? 0 : -1;
}

// Two readings, split at the first NUL byte: the baseline, then the reading
// at the end of the interval (without a NUL, all counters 0 at first).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    cpu_counters prev = {}, now = {};
    const uint8_t *nul = (const uint8_t *)memchr(data, '\0', size);
    if (nul != NULL) {
        size_t first = (size_t)(nul - data);
        if (read_both(data, first, &prev) != 0)
            return 0;
        data += first + 1;
        size -= first + 1;
    }
    if (read_both(data, size, &now) != 0)
        return 0;

    cpu_load load;
    if (cpu_compute(&prev, &now, &load) == 0) {
        const double shares[] = {load.user,    load.nice,  load.sys,
                                 load.idle,    load.iowait, load.irq,
                                 load.softirq, load.steal, load.load};
        for (double share : shares)
            check_share(share);
        FUZZ_CHECK(isfinite(load.proc) && load.proc >= 0);
        char line[256];
        cpu_format_line(line, sizeof line, &load);
    }
    return 0;
}
