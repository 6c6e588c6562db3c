// Link-time doubles for the clock and sleep calls of the OS layer
// (-Wl,--wrap): they record arguments and can feed chosen readings.
#include "wraps.h"

#include <pthread.h>

extern "C" {
int __real_nanosleep(const struct timespec *req, struct timespec *rem);
int __real_gettimeofday(struct timeval *tv, void *tz);
int __real_pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *attr);

int __wrap_pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *attr)
{
    if (wraps.mutex_init_result != 0)
        return wraps.mutex_init_result;
    return __real_pthread_mutex_init(mutex, attr);
}

int __wrap_nanosleep(const struct timespec *req, struct timespec *rem)
{
    wraps.sleeps.push_back(*req);
    if (!wraps.really_sleep)
        return 0;
    return __real_nanosleep(req, rem);
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
