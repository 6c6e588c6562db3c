// Preloaded (LD_PRELOAD) under a program to send it a signal at the worst
// moment for a sleep: as the sleep call begins, after every check the
// program could make before it. SLEEP_SIGNAL=N names the signal (unset: do
// nothing), SLEEP_SIGNAL_AT=K the sleep call it goes with (default 1, the
// first). The sleeping calls are nanosleep, clock_nanosleep, ppoll and
// pselect; the signal is raised in the call, then the real call runs.
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/select.h>
#include <time.h>

namespace
{

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void sleep_begins()
{
    static int calls;
    const char *signo = getenv("SLEEP_SIGNAL");
    if (signo == NULL || *signo == '\0')
        return;
    const char *at = getenv("SLEEP_SIGNAL_AT");
    if (++calls == (at != NULL && *at != '\0' ? atoi(at) : 1))
        raise(atoi(signo));
}

} // namespace

extern "C" {

int nanosleep(const struct timespec *req, struct timespec *rem)
{
    using fn = int (*)(const struct timespec *, struct timespec *);
    static fn next = real<fn>("nanosleep");
    sleep_begins();
    return next(req, rem);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec *req, struct timespec *rem)
{
    using fn = int (*)(clockid_t, int, const struct timespec *, struct timespec *);
    static fn next = real<fn>("clock_nanosleep");
    sleep_begins();
    return next(clock, flags, req, rem);
}

int ppoll(struct pollfd *fds, nfds_t nfds, const struct timespec *timeout, const sigset_t *mask)
{
    using fn = int (*)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
    static fn next = real<fn>("ppoll");
    sleep_begins();
    return next(fds, nfds, timeout, mask);
}

int pselect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
            const struct timespec *timeout, const sigset_t *mask)
{
    using fn =
        int (*)(int, fd_set *, fd_set *, fd_set *, const struct timespec *, const sigset_t *);
    static fn next = real<fn>("pselect");
    sleep_begins();
    return next(nfds, readfds, writefds, exceptfds, timeout, mask);
}
}
