// cpu: samples the kernel's CPU counters at an interval, prints the load of
// each interval in colour on the console and plain into a log file, and sums
// the run up with the average, maximum and minimum load.
#include "board_file.h"
#include "debug_module.h"
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char OSA_UNIT[] = "bv_cpu";

static const char CPU_VERSION[] = "1.0.2";
static const unsigned int CPU_MODULE_ID = 8;

// Counters of the whole machine and of this process.
static const char CPU_STAT_FILE[] = "/proc/stat";
static const char CPU_SELF_STAT_FILE[] = "/proc/self/stat";

#define CPU_GREEN "\033[1;32m"
#define CPU_RED "\033[0;31m"
#define CPU_DEFAULT "\033[0;39m"

/* ---- settings ------------------------------------------------------------ */

enum { CPU_LOG_NAME_SIZE = 64 };

static int32_t cpu_delay = 1;  // seconds between two samples
static int32_t cpu_count = 60; // samples reported
static char cpu_log_name[CPU_LOG_NAME_SIZE] = "/tmp/cpulog.txt";

static const struct option cpu_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"delay", required_argument, NULL, 'd'},
    {"count", required_argument, NULL, 'c'},
    {"log", required_argument, NULL, 'l'},
    {"version", no_argument, NULL, 'v'},
    {NULL, 0, NULL, 0},
};
static const help_entry cpu_help[] = {
    {"module", "module name: cpu"},
    {"digit", "cpu check interval seconds, defalut [1]s"},
    {"digit", "cpu repeat count times, defalut [60]"},
    {"file", "cpu log file, default[/tmp/cpulog.txt]"},
    {"", "cpu version information"},
};
static_assert(OPTION_ROWS(cpu_options) == ARRAY_SIZE(cpu_help), "one help row per option");

/* ---- samples ------------------------------------------------------------- */

// The eight time counters of the "cpu" line of /proc/stat, in file order.
enum {
    CPU_USER,
    CPU_NICE,
    CPU_SYSTEM,
    CPU_IDLE,
    CPU_IOWAIT,
    CPU_IRQ,
    CPU_SOFTIRQ,
    CPU_STEAL,
    CPU_TICK_KINDS
};

// One reading of the counters, in clock ticks since boot.
typedef struct cpu_counters {
    uint64_t tick[CPU_TICK_KINDS];
    uint64_t process; // utime + stime + cutime + cstime of this process
} cpu_counters;

// Shares of one interval, in percent of all CPU time of the interval.
typedef struct cpu_load {
    double user; // includes nice time
    double nice;
    double sys; // includes interrupt and soft-interrupt time
    double idle;
    double iowait;
    double irq;
    double softirq;
    double steal;
    double load; // everything but idle: iowait counts as load
    double proc; // this process
} cpu_load;
static_assert(sizeof(cpu_load) == 10 * sizeof(double), "ten plain percentages");

// The previous good reading; all zero until the first one.
static cpu_counters cpu_prev;

static int cpu_counters_empty(const cpu_counters *c)
{
    for (uint64_t t : c->tick)
        if (t != 0)
            return 0;
    return c->process == 0;
}

// Kernels let some counters (iowait above all) step back now and then; such
// a step counts as no time instead of wrapping round to an enormous share.
static uint64_t counter_delta(uint64_t now, uint64_t prev) { return now > prev ? now - prev : 0; }

// Shares of the interval between two readings. Returns -1 and leaves the
// record alone when no clock tick passed in between (nothing to divide by).
static int cpu_compute(const cpu_counters *prev, const cpu_counters *now, cpu_load *out)
{
    // Deltas are summed as doubles: counters no kernel writes (a "-1" reads
    // as 2^64 - 1) could otherwise add up past 64 bits and wrap round into
    // shares beyond the interval.
    double d[CPU_TICK_KINDS];
    double all = 0;
    for (int i = 0; i < CPU_TICK_KINDS; i++) {
        d[i] = (double)counter_delta(now->tick[i], prev->tick[i]);
        all += d[i];
    }
    if (all == 0)
        return -1;

    // No part of the interval exceeds the whole, rounding included.
    auto share = [all](double ticks) {
        double s = ticks * 100.0 / all;
        return s < 100.0 ? s : 100.0;
    };
    out->load = 100.0 - share(d[CPU_IDLE]);
    out->proc = (double)counter_delta(now->process, prev->process) * 100.0 / all;
    out->user = share(d[CPU_USER] + d[CPU_NICE]);
    out->nice = share(d[CPU_NICE]);
    out->sys = share(d[CPU_SYSTEM] + d[CPU_IRQ] + d[CPU_SOFTIRQ]);
    out->idle = share(d[CPU_IDLE]);
    out->iowait = share(d[CPU_IOWAIT]);
    out->irq = share(d[CPU_IRQ]);
    out->softirq = share(d[CPU_SOFTIRQ]);
    out->steal = share(d[CPU_STEAL]);
    return 0;
}

// Finds the aggregate "cpu" line. Counters a short line lacks read as 0.
static int cpu_parse_stat(FILE *fp, cpu_counters *c)
{
    char name[5];
    unsigned long v[CPU_TICK_KINDS];
    for (;;) {
        name[0] = '\0';
        memset(v, 0, sizeof v);
        if (fscanf(fp, "%4s %lu %lu %lu %lu %lu %lu %lu %lu %*[^\n]", name, &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7]) == EOF)
            return -1;
        if (strcmp(name, "cpu") == 0)
            break;
    }
    for (int i = 0; i < CPU_TICK_KINDS; i++)
        c->tick[i] = v[i];
    return 0;
}

// Fields 14 to 17 of /proc/self/stat: utime, stime, cutime, cstime.
static int cpu_parse_self(FILE *fp, cpu_counters *c)
{
    unsigned long t[4];
    if (fscanf(fp, "%*d %*s %*s %*d %*d %*d %*d %*d %*d %*d %*d %*d %*d %lu %lu %lu %lu", &t[0],
               &t[1], &t[2], &t[3]) < 4)
        return -1;
    c->process = (uint64_t)t[0] + t[1] + t[2] + t[3];
    return 0;
}

static FILE *cpu_open_proc(const char *path)
{
    FILE *fp = fopen(path, "r");
    if (fp == NULL)
        fprintf(stderr, CPU_RED "Error: %s not found. Is the /proc filesystem mounted?\n" CPU_DEFAULT
                                " \n",
                path);
    return fp;
}

static int cpu_read(cpu_counters *c)
{
    FILE *fp = cpu_open_proc(CPU_STAT_FILE);
    if (fp == NULL)
        return -1;
    int found = cpu_parse_stat(fp, c);
    if (fclose(fp) != 0 || found != 0)
        return -1;

    fp = cpu_open_proc(CPU_SELF_STAT_FILE);
    if (fp == NULL)
        return -1;
    if (cpu_parse_self(fp, c) != 0) {
        fprintf(stderr, CPU_RED "Error: Failed to get process load information.\n" CPU_DEFAULT " \n");
        fclose(fp);
        return -1;
    }
    return fclose(fp) != 0 ? -1 : 0;
}

// Takes one reading and fills the record with the interval since the
// previous one. The first reading only sets the baseline. A failed reading
// leaves record and baseline as they were; an interval without a clock tick
// leaves the record as it was.
static int cpu_sample(cpu_load *load)
{
    cpu_counters now;
    if (cpu_read(&now) != 0)
        return -1;
    if (cpu_counters_empty(&cpu_prev)) {
        cpu_prev = now;
        return 0;
    }
    cpu_counters prev = cpu_prev;
    cpu_prev = now;
    return cpu_compute(&prev, &now, load);
}

/* ---- console and log lines ------------------------------------------------ */

typedef struct cpu_stats {
    double max;
    double min;
    double sum;
    int reported;
} cpu_stats;

static void cpu_stats_add(cpu_stats *s, double load)
{
    if (load > s->max)
        s->max = load;
    if (load < s->min)
        s->min = load;
    s->sum += load;
    s->reported++;
}

// Without a reported sample there is nothing to average: 0, not 0/0.
static double cpu_stats_average(const cpu_stats *s)
{
    return s->reported > 0 ? s->sum / s->reported : 0.0;
}

static void cpu_format_line(char *buf, size_t size, const cpu_load *l)
{
    snprintf(buf, size, "CPU:%3.0f%% (sys:%3.0f%% user:%3.0f%% wait:%3.0f%% steal:%3.0f%%)", l->load,
             l->sys, l->user, l->iowait, l->steal);
}

static void cpu_format_summary(char *buf, size_t size, const cpu_stats *s)
{
    snprintf(buf, size, "Average:%4.3f%%   Max:%4.2f%%  Min:%4.2f%%", cpu_stats_average(s), s->max,
             s->min);
}

// Set once a line could not be written: the log then ends where its last
// whole line ends, and the console goes on alone.
static int cpu_log_failed = 0;

// Writes one whole line to the log with one write(), so that the log holds
// every reported line whatever happens; a line cut short by a full disk is
// cut off again and the failure reported, once.
static void cpu_log_line(FILE *log, const char *line)
{
    char text[160];
    int len = snprintf(text, sizeof text, "%s\n", line);
    if (len < 0 || len >= (int)sizeof text)
        len = (int)strlen(text);
    int fd = fileno(log);
    off_t start = lseek(fd, 0, SEEK_CUR);
    ssize_t done = write(fd, text, (size_t)len);
    if (done == len)
        return;
    int err = done < 0 ? errno : ENOSPC; // short without an error: the disk is full
    if (done > 0 && start >= 0 && ftruncate(fd, start) == 0)
        lseek(fd, start, SEEK_SET);
    fprintf(stderr, CPU_RED "Error: Can't write log %s: %s\n" CPU_DEFAULT " \n", cpu_log_name,
            strerror(err));
    cpu_log_failed = 1;
}

// One line on the console in green, the same line plain in the log.
static void cpu_emit(FILE *log, const char *line)
{
    if (log != NULL && !cpu_log_failed)
        cpu_log_line(log, line);
    OSA_printf(CPU_GREEN "%s" CPU_DEFAULT " \n", line);
}

/* ---- options --------------------------------------------------------------- */

static int cpu_usage(void)
{
    module_print_usage(CPU_MODULE_ID, cpu_options, cpu_help, ARRAY_SIZE(cpu_help));
    return 0;
}

static void cpu_print_version(void) { OSA_printf("CPU version: %s\n", CPU_VERSION); }

// Counts and delays are C numbers (decimal, 0x hex, 0 octal). Anything that
// does not fit a positive 32-bit value, negative numbers included, comes
// back as -1 rather than wrapped round.
static int32_t cpu_parse_number(const char *text)
{
    unsigned long v = strtoul(text, NULL, 0);
    return v > (unsigned long)INT32_MAX ? -1 : (int32_t)v;
}

static int cpu_init_param(int argc, char **argv)
{
    int bad = 0;
    int index = 0;
    int opt;
    while (!bad && (opt = getopt_long(argc, argv, "M:d:c:l:v", cpu_options, &index)) != -1) {
        switch (opt) {
        case 'v':
            cpu_print_version();
            break;
        case 'l':
            if (strlen(optarg) < sizeof cpu_log_name) {
                snprintf(cpu_log_name, sizeof cpu_log_name, "%s", optarg);
            } else {
                OSA_ERROR("Cpu log name length must < 64!\n");
                bad = 1;
            }
            break;
        case 'd':
            cpu_delay = cpu_parse_number(optarg);
            if (cpu_delay <= 0) {
                OSA_ERROR("Cpu delay must > 0\n");
                bad = 1;
            }
            break;
        case 'c':
            cpu_count = cpu_parse_number(optarg);
            if (cpu_count <= 0) {
                OSA_ERROR("Cpu count must > 0\n");
                bad = 1;
            }
            break;
        case '?':
            OSA_ERROR("Unknow option\n");
            bad = 1;
            break;
        default: // 'M' chose this module already
            break;
        }
    }
    if (bad) {
        cpu_usage();
        return -1;
    }
    return 0;
}

/* ---- run ----------------------------------------------------------------- */

// OSA_sleepMs counts milliseconds in 32 bits (about 49 days): longer pauses
// are taken in parts. A signal ends the pause.
static void cpu_pause(int32_t seconds)
{
    const int32_t part = 4000000;
    do {
        int32_t s = seconds < part ? seconds : part;
        OSA_sleepMs((uint32_t)s * 1000u);
        seconds -= s;
    } while (seconds > 0 && !stop_flag);
}

// The log is created or truncated. In a folder other users can write (by
// default /tmp) never through a link, never a FIFO, device or another
// user's file, and without waiting for anything: such a name is said and
// the run goes on without a log. A log the user names elsewhere is opened
// as it is (a device such as /dev/null included).
static FILE *cpu_open_log(void)
{
    char why[BOARD_FILE_TEXT_SIZE];
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    int fd = board_file_in_shared_folder(cpu_log_name)
                 ? board_file_open(cpu_log_name, flags, 0644, why, sizeof why)
                 : open(cpu_log_name, flags | O_CLOEXEC, 0644);
    FILE *log = fd >= 0 ? fdopen(fd, "wb") : NULL;
    if (log != NULL) {
        OSA_printf(CPU_GREEN "Create cpu log: %s\n" CPU_DEFAULT " \n", cpu_log_name);
        return log;
    }
    if (fd >= 0)
        close(fd);
    if (fd == BOARD_FILE_REFUSED)
        fprintf(stderr, CPU_RED "Error: Can't create log %s: %s\n" CPU_DEFAULT " \n", cpu_log_name,
                why);
    else
        fprintf(stderr, CPU_RED "Error: Can't create log %s\n" CPU_DEFAULT " \n", cpu_log_name);
    return NULL;
}

// Reading 0 sets the baseline, readings 1 to cpu_count are reported, and
// one more reading ends the run: cpu_count + 2 pauses in all. The loop also
// ends on a signal (stop_flag), before the next reading.
static int cpu_run(int argc, char **argv)
{
    cpu_load load;
    memset(&load, 0, sizeof load);
    cpu_stats stats = {0.0, 100.0, 0.0, 0};
    if (cpu_init_param(argc, argv) != 0)
        return 0;

    FILE *log = cpu_open_log();
    OSA_printf(CPU_GREEN "ARM LOAD RUNNING FOR COUNT: %d \n" CPU_DEFAULT " \n", cpu_count);

    char line[128];
    for (int64_t index = 0; !stop_flag; index++) {
        cpu_sample(&load); // a failed reading repeats the last figures
        if (index > 0 && index <= cpu_count) {
            cpu_stats_add(&stats, load.load);
            cpu_format_line(line, sizeof line, &load);
            cpu_emit(log, line);
        } else if (index > cpu_count) {
            stop_flag = 1;
        }
        cpu_pause(cpu_delay);
    }

    cpu_format_summary(line, sizeof line, &stats);
    cpu_emit(log, line);
    if (log != NULL)
        fclose(log);
    return 0;
}

static const debug_module cpu_module = {"cpu", CPU_MODULE_ID, cpu_run, cpu_usage, NULL};
MODULE_REGISTER(cpu_module)
