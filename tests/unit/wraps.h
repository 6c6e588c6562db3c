#ifndef TESTS_WRAPS_H
#define TESTS_WRAPS_H

#include <sys/time.h>
#include <time.h>

#include <vector>

struct Wraps {
    std::vector<struct timespec> sleeps; // every sleep request (ppoll or nanosleep), in order
    bool really_sleep = true;
    int signal_as_sleep_begins = 0; // raised at the start of every sleep when set
    bool clock_fails = false;
    bool clock_fixed = false;
    struct timeval clock_value = {0, 0};
    int mutex_init_result = 0; // non-zero: pthread_mutex_init fails with it

    void reset() { *this = Wraps(); }
};

extern Wraps wraps;

#endif
