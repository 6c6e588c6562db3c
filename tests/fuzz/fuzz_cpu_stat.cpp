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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The previous run's reading is the baseline of this one's interval.
    static cpu_counters prev;
    cpu_counters now = {};

    FILE *fp = fuzz_open_bytes(data, size);
    int stat = cpu_parse_stat(fp, &now);
    fclose(fp);
    fp = fuzz_open_bytes(data, size);
    int self = cpu_parse_self(fp, &now);
    fclose(fp);
    if (stat != 0 || self != 0)
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
    prev = now;
    return 0;
}
