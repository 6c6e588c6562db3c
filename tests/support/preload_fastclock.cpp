// Test-only clock, preloaded (LD_PRELOAD) under the tool: its time runs
// FASTCLOCK_FACTOR times faster (default 20). CLOCK_MONOTONIC readings are
// scaled up and poll() waits scaled down alike, so that a bounded wait of
// the tool ends in a fraction of its real time and still ends by the
// tool's own clock, as on the board.
#include <dlfcn.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>

namespace
{

long factor()
{
    static long value = 0;
    if (value == 0) {
        const char *text = getenv("FASTCLOCK_FACTOR");
        value = text != NULL ? atol(text) : 0;
        if (value < 1)
            value = 20;
    }
    return value;
}

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec *ts)
{
    using clock_fn = int (*)(clockid_t, struct timespec *);
    static clock_fn real_clock = real<clock_fn>("clock_gettime");
    int status = real_clock(id, ts);
    if (status == 0 && id == CLOCK_MONOTONIC) {
        long long ns = ((long long)ts->tv_sec * 1000000000LL + ts->tv_nsec) * factor();
        ts->tv_sec = (time_t)(ns / 1000000000LL);
        ts->tv_nsec = (long)(ns % 1000000000LL);
    }
    return status;
}

extern "C" int poll(struct pollfd *fds, nfds_t count, int timeout)
{
    using poll_fn = int (*)(struct pollfd *, nfds_t, int);
    static poll_fn real_poll = real<poll_fn>("poll");
    if (timeout > 0) {
        timeout = (int)(timeout / factor());
        if (timeout == 0)
            timeout = 1;
    }
    return real_poll(fds, count, timeout);
}
