// Link-time doubles for the clock and sleep calls of the OS layer
// (-Wl,--wrap): they record arguments and can feed chosen readings.
#include "wraps.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

extern "C" {
int __real_nanosleep(const struct timespec *req, struct timespec *rem);
int __real_ppoll(struct pollfd *fds, nfds_t nfds, const struct timespec *timeout,
                 const sigset_t *mask);
int __real_gettimeofday(struct timeval *tv, void *tz);
int __real_pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *attr);

int __wrap_pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *attr)
{
    if (wraps.mutex_init_result != 0)
        return wraps.mutex_init_result;
    return __real_pthread_mutex_init(mutex, attr);
}

// A sleep begins: recorded, and the chosen signal sent as it begins.
static void sleep_begins(const struct timespec *req)
{
    wraps.sleeps.push_back(*req);
    if (wraps.signal_as_sleep_begins != 0)
        raise(wraps.signal_as_sleep_begins);
}

int __wrap_nanosleep(const struct timespec *req, struct timespec *rem)
{
    sleep_begins(req);
    if (!wraps.really_sleep)
        return 0;
    return __real_nanosleep(req, rem);
}

// The OS layer sleeps in ppoll without descriptors; other uses pass through.
int __wrap_ppoll(struct pollfd *fds, nfds_t nfds, const struct timespec *timeout,
                 const sigset_t *mask)
{
    if (nfds == 0 && timeout != NULL) {
        sleep_begins(timeout);
        if (!wraps.really_sleep)
            return 0;
    }
    return __real_ppoll(fds, nfds, timeout, mask);
}

int __wrap_gettimeofday(struct timeval *tv, void *tz)
{
    if (wraps.clock_fails)
        return -1;
    if (wraps.clock_fixed) {
        *tv = wraps.clock_value;
        return 0;
    }
    return __real_gettimeofday(tv, tz);
}
}

Wraps wraps;
