// A faster clock for the program it is preloaded (LD_PRELOAD) into: with
// CLOCK_FACTOR=F in the environment, every sleep lasts 1/F of what was
// asked and every clock reading runs F times as fast from the moment the
// program started, so that waits of minutes pass in seconds while their
// ratios stay. Without the variable (or with F <= 0) nothing changes.
//
// Sleeps: nanosleep, clock_nanosleep (relative and absolute), usleep, sleep,
// and the timeouts of ppoll, pselect, poll and select (what arrives on a
// descriptor still ends those at once).
// Readings: clock_gettime (wall and monotonic clocks; CPU-time clocks are
// left alone), gettimeofday, time.
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace
{

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using clock_gettime_fn = int (*)(clockid_t, struct timespec *);
using clock_nanosleep_fn = int (*)(clockid_t, int, const struct timespec *, struct timespec *);
using nanosleep_fn = int (*)(const struct timespec *, struct timespec *);
using ppoll_fn = int (*)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
using pselect_fn = int (*)(int, fd_set *, fd_set *, fd_set *, const struct timespec *,
                           const sigset_t *);
using poll_fn = int (*)(struct pollfd *, nfds_t, int);
using select_fn = int (*)(int, fd_set *, fd_set *, fd_set *, struct timeval *);

const long long NS = 1000000000LL;

long long to_ns(const struct timespec &ts)
{
    return ts.tv_sec * NS + ts.tv_nsec;
}

struct timespec from_ns(long long ns)
{
    if (ns < 0)
        ns = 0;
    struct timespec ts;
    ts.tv_sec = (time_t)(ns / NS);
    ts.tv_nsec = (long)(ns % NS);
    return ts;
}

double factor()
{
    static double f = [] {
        const char *text = getenv("CLOCK_FACTOR");
        double v = text ? strtod(text, NULL) : 0;
        return v > 0 ? v : 1.0;
    }();
    return f;
}

bool scaled_clock(clockid_t id)
{
    switch (id) {
    case CLOCK_REALTIME:
    case CLOCK_MONOTONIC:
    case CLOCK_MONOTONIC_RAW:
    case CLOCK_REALTIME_COARSE:
    case CLOCK_MONOTONIC_COARSE:
    case CLOCK_BOOTTIME:
        return true;
    default:
        return false;
    }
}

// Per clock, the real reading at the first use: the scaled clock starts
// there and runs factor() times faster.
const int CLOCKS = 16;
long long origin[CLOCKS];
bool have_origin[CLOCKS];

int real_now(clockid_t id, long long *ns)
{
    static clock_gettime_fn fn = real<clock_gettime_fn>("clock_gettime");
    struct timespec ts;
    if (fn(id, &ts) != 0)
        return -1;
    *ns = to_ns(ts);
    return 0;
}

long long origin_of(clockid_t id)
{
    if (!have_origin[id]) {
        long long now = 0;
        real_now(id, &now);
        origin[id] = now;
        have_origin[id] = true;
    }
    return origin[id];
}

__attribute__((constructor)) void start_clocks()
{
    const clockid_t ids[] = {CLOCK_REALTIME,        CLOCK_MONOTONIC,        CLOCK_MONOTONIC_RAW,
                             CLOCK_REALTIME_COARSE, CLOCK_MONOTONIC_COARSE, CLOCK_BOOTTIME};
    for (clockid_t id : ids)
        origin_of(id);
}

long long scale_up(clockid_t id, long long real_ns)
{
    long long o = origin_of(id);
    return o + (long long)((double)(real_ns - o) * factor());
}

long long scale_down(clockid_t id, long long scaled_ns)
{
    long long o = origin_of(id);
    return o + (long long)((double)(scaled_ns - o) / factor());
}

long long shorter(long long ns)
{
    return (long long)((double)ns / factor());
}

long long longer(long long ns)
{
    return (long long)((double)ns * factor());
}

} // namespace

extern "C" {

int clock_gettime(clockid_t id, struct timespec *ts)
{
    long long ns;
    if (real_now(id, &ns) != 0)
        return -1;
    if (scaled_clock(id) && id < CLOCKS)
        ns = scale_up(id, ns);
    *ts = from_ns(ns);
    return 0;
}

int gettimeofday(struct timeval *tv, void *tz)
{
    (void)tz;
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0)
        return -1;
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
    return 0;
}

time_t time(time_t *out)
{
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0)
        return (time_t)-1;
    if (out != NULL)
        *out = ts.tv_sec;
    return ts.tv_sec;
}

int clock_nanosleep(clockid_t id, int flags, const struct timespec *req, struct timespec *rem)
{
    static clock_nanosleep_fn fn = real<clock_nanosleep_fn>("clock_nanosleep");
    if (req == NULL || !scaled_clock(id) || id >= CLOCKS)
        return fn(id, flags, req, rem);
    if (flags & TIMER_ABSTIME) {
        struct timespec target = from_ns(scale_down(id, to_ns(*req)));
        return fn(id, flags, &target, rem);
    }
    struct timespec shortened = from_ns(shorter(to_ns(*req)));
    int status = fn(id, flags, &shortened, rem);
    if (status == EINTR && rem != NULL)
        *rem = from_ns(longer(to_ns(*rem)));
    return status;
}

int nanosleep(const struct timespec *req, struct timespec *rem)
{
    static nanosleep_fn fn = real<nanosleep_fn>("nanosleep");
    if (req == NULL)
        return fn(req, rem);
    struct timespec shortened = from_ns(shorter(to_ns(*req)));
    int status = fn(&shortened, rem);
    if (status != 0 && errno == EINTR && rem != NULL)
        *rem = from_ns(longer(to_ns(*rem)));
    return status;
}

int usleep(useconds_t us)
{
    struct timespec ts = from_ns((long long)us * 1000);
    return nanosleep(&ts, NULL);
}

unsigned int sleep(unsigned int seconds)
{
    struct timespec ts = from_ns((long long)seconds * NS), rem = {0, 0};
    if (nanosleep(&ts, &rem) != 0)
        return (unsigned int)(rem.tv_sec + (rem.tv_nsec > 0));
    return 0;
}

int ppoll(struct pollfd *fds, nfds_t n, const struct timespec *timeout, const sigset_t *mask)
{
    static ppoll_fn fn = real<ppoll_fn>("ppoll");
    if (timeout == NULL)
        return fn(fds, n, timeout, mask);
    struct timespec shortened = from_ns(shorter(to_ns(*timeout)));
    return fn(fds, n, &shortened, mask);
}

int pselect(int n, fd_set *r, fd_set *w, fd_set *e, const struct timespec *timeout,
            const sigset_t *mask)
{
    static pselect_fn fn = real<pselect_fn>("pselect");
    if (timeout == NULL)
        return fn(n, r, w, e, timeout, mask);
    struct timespec shortened = from_ns(shorter(to_ns(*timeout)));
    return fn(n, r, w, e, &shortened, mask);
}

int poll(struct pollfd *fds, nfds_t n, int timeout_ms)
{
    static poll_fn fn = real<poll_fn>("poll");
    if (timeout_ms <= 0)
        return fn(fds, n, timeout_ms);
    long long ms = shorter(timeout_ms);
    return fn(fds, n, ms > 0 ? (int)ms : 1);
}

int select(int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *timeout)
{
    static select_fn fn = real<select_fn>("select");
    if (timeout == NULL)
        return fn(n, r, w, e, timeout);
    long long us = shorter((long long)timeout->tv_sec * 1000000 + timeout->tv_usec);
    struct timeval shortened = {(time_t)(us / 1000000), (suseconds_t)(us % 1000000)};
    return fn(n, r, w, e, &shortened);
}
}
