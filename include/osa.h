/*
 * OS layer: console lock, error reports, time helpers, shell helpers,
 * the System V semaphore layer and the debug log.
 */
#ifndef DEBUG_OSA_H
#define DEBUG_OSA_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DEBUG_EXPORT __attribute__((visibility("default")))
#define DEBUG_PRINTF(f, a) __attribute__((format(printf, f, a)))

/* ---- osa_mutex ---------------------------------------------------------- */
int OSA_mutexCreate(pthread_mutex_t *mutex);
int OSA_mutexDelete(pthread_mutex_t *mutex);
int OSA_mutexLock(pthread_mutex_t *mutex);
int OSA_mutexUnlock(pthread_mutex_t *mutex);

/* ---- osa ---------------------------------------------------------------- */
extern pthread_mutex_t console_lock;

int OSA_init(void);
int OSA_deinit(void);
uint32_t OSA_timeNowMs(void);
/*
 * Sleeps MS milliseconds in ppoll(2) (no descriptors, the time as its
 * timeout). A signal that is handled ends the sleep early; it is not
 * resumed. The stop signals (SIGINT, SIGQUIT, SIGTERM, SIGHUP) are blocked
 * from the check below until ppoll() unblocks them atomically, so that one
 * landing just before the sleep ends it like one landing during it; once a
 * stop has been requested (OSA_stopRequest) the sleep returns at once. A
 * loop that checks stop_flag and then sleeps thus ends within one pass of a
 * signal.
 */
void OSA_sleepMs(uint32_t ms);

/*
 * Stop requests. The tool's handler of SIGINT, SIGQUIT, SIGTERM and SIGHUP
 * (unless SIGHUP was ignored at start, as under nohup) calls
 * OSA_stopRequest(signo) (async-signal-safe): from then on OSA_sleepMs()
 * returns at once and OSA_systemUnlessStopped() starts nothing, and the
 * signal is passed on to the shell command that OSA_system() runs, if one
 * runs. OSA_stopRequested() is 1 once that has happened; it is never reset.
 */
void OSA_stopRequest(int signo);
int OSA_stopRequested(void);

/*
 * Console writes. Each one is a single write to standard output between
 * OSA_mutexLock(console_lock) and OSA_mutexUnlock(console_lock), and each
 * is flushed before the lock is released: outside a locked write the stdio
 * buffer of standard output is always empty, so a child process started
 * next, or the signal notice written straight to the descriptor, lands in
 * command-line order.
 */
int OSA_printf(const char *fmt, ...) DEBUG_PRINTF(1, 2);
int OSA_putchar(int ch);
int OSA_puts(const char *text); /* like puts(): appends a newline */
/* The few messages printed without the console lock; flushed all the same. */
int OSA_printfUnlocked(const char *fmt, ...) DEBUG_PRINTF(1, 2);

/*
 * Called from a signal handler: writes the text at once when the console is
 * free, otherwise keeps it until the interrupted write releases the lock.
 * Never waits for the lock.
 */
void OSA_consoleNoticeFromSignal(const char *text, size_t len);
/* Writes notices kept by OSA_consoleNoticeFromSignal(); called at shutdown. */
void OSA_consoleDrainNotices(void);

/*
 * system() and popen() after flushing both standard streams. OSA_system()
 * keeps the tool's signal handlers while the command runs and starts it in a
 * process group of its own, to which a stop signal is passed on: a command
 * that reads the terminal would be stopped there, so commands get their
 * input from a pipe (OSA_popen) or a file. A simple command (one program,
 * its arguments and redirections) is run with exec, so that the program
 * gets the stop whatever the shell does with the signal itself (BusyBox ash
 * ignores SIGQUIT); a built-in is no program: "sh -c 'exit 3'". COMMAND
 * has at most OSA_SHELL_LINE_SIZE - 6 characters (longer: -1, errno
 * E2BIG). OSA_systemUnlessStopped() is OSA_system() for commands
 * that change something (a format, a repair, a write): once a stop has been
 * requested it starts nothing and returns -1 with errno ECANCELED.
 * OSA_systemTimed() is either, as UNLESS_STOPPED says, and also tells what
 * the command took (SPENT, when it ran): the monotonic clock from start to
 * end, and the kernel's account of the resources it and the processes it
 * waited for used, as time(1) reports them.
 */
#define OSA_SHELL_LINE_SIZE 512

typedef struct OSA_commandTime {
    uint64_t elapsed_us; /* start to end, monotonic clock */
    struct rusage usage; /* from wait4() */
} OSA_commandTime;

int OSA_system(const char *command);
int OSA_systemUnlessStopped(const char *command);
int OSA_systemTimed(const char *command, int unless_stopped, OSA_commandTime *spent);
FILE *OSA_popen(const char *command, const char *mode);
/*
 * 1 when the shell that runs the commands finds NAME as a program (its path;
 * a keyword or a built-in does not count), else 0.
 */
int OSA_programFound(const char *name);

/*
 * Error report on standard error: " ERROR  (unit|function|line): " as one
 * write, the message as a second. Every unit defines its name once:
 *     static const char OSA_UNIT[] = "bv_cpu";
 */
void OSA_errorPrefix(const char *unit, const char *function, int line);
#define OSA_ERROR(...)                                                                             \
    do {                                                                                           \
        OSA_errorPrefix(OSA_UNIT, __func__, __LINE__);                                             \
        fprintf(stderr, __VA_ARGS__);                                                              \
    } while (0)

/* Dotted-quad IPv4 check, exported for the camera's other programs. */
DEBUG_EXPORT int CheckIPAddr(const char *str);

/* ---- osa_log: System V semaphores and the debug log ---------------------- */
typedef struct ipc_sem {
    int id;             /* set identifier, negative when not open */
    unsigned int count; /* semaphores in the set */
    int max_value;      /* unlock never raises a semaphore above this */
} ipc_sem;

#define OSA_IPC_CREATE 0x1u /* OSA_ipcSemOpen flags bit 0: create a new set */
#define OSA_IPC_MAX_SEMS 32u

key_t OSA_ipcMakeKey(const char *path, int project);
int OSA_ipcSemOpen(ipc_sem *sem, key_t key, unsigned int count, unsigned int initial,
                   int max_value, unsigned int flags);
int OSA_ipcSemLock(ipc_sem *sem, unsigned int index, int wait);
int OSA_ipcSemUnlock(ipc_sem *sem, unsigned int index, int wait);
int OSA_ipcSemGetValue(ipc_sem *sem, unsigned int index);

int OSA_logInit(void);
int OSA_log(const void *data, unsigned int len);
int OSA_logDeinit(void);

#ifdef __cplusplus
}
#endif

#endif
