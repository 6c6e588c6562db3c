// Start-up and shutdown of the OS layer, the console, time and shell helpers.
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static const char OSA_UNIT[] = "osa";

#ifdef DEBUG_COVERAGE
// libgcov: a child that execs never reaches the exit that writes its counts.
// It writes them before the exec, the parent's counts up to the fork with
// them (so those lines are counted once more per child: coverage is the same).
extern "C" void __gcov_dump(void);
#endif

pthread_mutex_t console_lock = PTHREAD_MUTEX_INITIALIZER;

int OSA_init(void)
{
    int status = OSA_mutexCreate(&console_lock);
    if (status != 0)
        OSA_ERROR("OSA_mutexCreate()\n");
    return status;
}

int OSA_deinit(void)
{
    OSA_mutexDelete(&console_lock);
    return 0;
}

// The clock that commands are timed on: no step of the wall clock counts.
static uint64_t monotonic_us(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000u + (uint64_t)ts.tv_nsec / 1000u;
}

uint32_t OSA_timeNowMs(void)
{
    struct timeval tv;
    if (gettimeofday(&tv, NULL) != 0)
        return 0;
    return (uint32_t)tv.tv_sec * 1000u + (uint32_t)(tv.tv_usec / 1000);
}

/* ---- stop requests ------------------------------------------------------- */

// Raised by the tool's signal handler, never cleared.
static volatile sig_atomic_t stop_requested;
// Process group of the shell command that runs, 0 when none: the signal
// that asks for a stop is passed on to all of it.
static volatile pid_t child_group;

// The signals that ask the tool to stop.
static const int STOP_SIGNALS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// The stop signals as a set: blocked from a check of stop_requested until
// the wait that follows it has begun.
static void stop_signals(sigset_t *set)
{
    sigemptyset(set);
    for (int sig : STOP_SIGNALS)
        sigaddset(set, sig);
}

void OSA_stopRequest(int signo)
{
    int saved = errno;
    stop_requested = 1;
    pid_t group = child_group;
    if (group > 0)
        kill(-group, signo);
    errno = saved;
}

int OSA_stopRequested(void) { return stop_requested != 0; }

// The stop signals stay blocked from the check until ppoll() has unblocked
// them atomically: one that lands just before the sleep ends it like one
// that lands during it, instead of being lost for the whole sleep.
void OSA_sleepMs(uint32_t ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    sigset_t stops, old;
    stop_signals(&stops);
    sigprocmask(SIG_BLOCK, &stops, &old);
    if (!stop_requested)
        ppoll(NULL, 0, &ts, &old); // a signal ends it early; not resumed
    sigprocmask(SIG_SETMASK, &old, NULL);
}

void OSA_errorPrefix(const char *unit, const char *function, int line)
{
    fprintf(stderr, " ERROR  (%s|%s|%d): ", unit, function, line);
}

/* ---- console ------------------------------------------------------------- */

// Notices that arrived while the console was held. Written by the signal
// handler, drained by the holder once it has released the lock.
enum { NOTICE_SLOTS = 4, NOTICE_SIZE = 64 };
static char notice_text[NOTICE_SLOTS][NOTICE_SIZE];
static size_t notice_len[NOTICE_SLOTS];
static volatile sig_atomic_t notice_count;

static void write_all(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        len -= (size_t)n;
    }
}

void OSA_consoleNoticeFromSignal(const char *text, size_t len)
{
    if (pthread_mutex_trylock(&console_lock) == 0) {
        write_all(STDOUT_FILENO, text, len);
        pthread_mutex_unlock(&console_lock);
        return;
    }
    int slot = notice_count;
    if (slot >= NOTICE_SLOTS)
        return;
    if (len > NOTICE_SIZE)
        len = NOTICE_SIZE;
    memcpy(notice_text[slot], text, len);
    notice_len[slot] = len;
    notice_count = slot + 1;
}

void OSA_consoleDrainNotices(void)
{
    if (notice_count == 0)
        return;
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    OSA_mutexLock(&console_lock);
    for (int i = 0; i < notice_count; i++)
        write_all(STDOUT_FILENO, notice_text[i], notice_len[i]);
    notice_count = 0;
    OSA_mutexUnlock(&console_lock);
    sigprocmask(SIG_SETMASK, &old, NULL);
}

static int console_end(int result)
{
    fflush(stdout);
    OSA_mutexUnlock(&console_lock);
    OSA_consoleDrainNotices();
    return result;
}

int OSA_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    OSA_mutexLock(&console_lock);
    int n = vprintf(fmt, ap);
    va_end(ap);
    return console_end(n);
}

int OSA_putchar(int ch)
{
    OSA_mutexLock(&console_lock);
    return console_end(putchar(ch));
}

int OSA_puts(const char *text)
{
    OSA_mutexLock(&console_lock);
    return console_end(puts(text));
}

int OSA_printfUnlocked(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vprintf(fmt, ap);
    va_end(ap);
    fflush(stdout);
    return n;
}

/* ---- shell --------------------------------------------------------------- */

// A command in a process group of its own is not its terminal's foreground
// job: reading the terminal, or setting its modes as dosfsck does, would
// stop it (SIGTTIN, SIGTTOU) with the tool waiting for it for good. The
// tool's commands take no input, so one started from a terminal reads an
// empty one instead; its output still goes where the tool's goes.
static void leave_terminal_input(void)
{
    if (!isatty(STDIN_FILENO))
        return;
    int fd = open("/dev/null", O_RDONLY);
    if (fd > STDIN_FILENO) {
        dup2(fd, STDIN_FILENO);
        close(fd);
    }
}

// One program with its arguments and redirections (2>&1 among them): no
// list, pipeline, background job, subshell or command substitution, no "!",
// no assignment before the program.
static bool simple_command(const char *command)
{
    for (const char *c = command; *c != '\0'; c++) {
        if (strchr(";|()`\n", *c) != NULL)
            return false;
        if (*c == '&' && (c == command || (c[-1] != '>' && c[-1] != '<')))
            return false;
    }
    const char *word = command + strspn(command, " \t");
    size_t len = strcspn(word, " \t");
    return *word != '!' && memchr(word, '=', len) == NULL;
}

// What the shell is given: "exec COMMAND" for a simple command, so that the
// program takes the shell's place with the dispositions the shell was
// started with. BusyBox ash ignores SIGQUIT itself and, running a lone
// command in its own place without being told to exec, leaves it ignored
// there: Ctrl-\ passed on to the group would not end the command (dash runs
// such a command with exec anyway: nothing changes there). Anything else
// runs as it is, since exec would end it after its first command (under
// BusyBox ash, the command of it that the shell runs in its own place keeps
// SIGQUIT ignored). The program must be one: a built-in such as exit is no
// simple command here (sh -c 'exit 3'). False when the line does not fit.
static bool shell_line(char *line, size_t size, const char *command)
{
    int len = snprintf(line, size, "%s%s", simple_command(command) ? "exec " : "", command);
    return len >= 0 && (size_t)len < size;
}

// Like system(), except that the tool's own signal handling stays in effect
// while the child runs: system() ignores SIGINT and SIGQUIT meanwhile, so an
// interrupt sent to the tool during a long command (a dd of a fill) would be
// lost and the loop around it would go on. The child starts with the default
// dispositions, as under system(), in a process group of its own: a stop
// signal sent to the tool alone (kill, timeout) is passed on to the shell and
// everything it started (OSA_stopRequest), so the command ends with it; its
// input is then no terminal (leave_terminal_input). With
// UNLESS_STOPPED nothing is started once a stop has been requested; the check
// and the start cannot be split by a signal.
//
// A simple command runs as "exec COMMAND" (shell_line). SPENT, when
// given, gets the command's time on the monotonic clock from the start to
// its end, and the resources it and the processes it waited for used
// (wait4), as time(1) reports them.
static int run_shell(const char *command, bool unless_stopped, OSA_commandTime *spent)
{
    fflush(stdout);
    fflush(stderr);
    if (command == NULL)
        return system(NULL);
    char line[OSA_SHELL_LINE_SIZE];
    if (!shell_line(line, sizeof line, command)) {
        errno = E2BIG;
        return -1;
    }

    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    if (unless_stopped && stop_requested) {
        sigprocmask(SIG_SETMASK, &old, NULL);
        errno = ECANCELED;
        return -1;
    }
    uint64_t start = monotonic_us();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        leave_terminal_input();
        for (int sig : STOP_SIGNALS)
            if (signal(sig, SIG_DFL) == SIG_IGN) // a hang-up under nohup
                signal(sig, SIG_IGN);
        sigprocmask(SIG_SETMASK, &old, NULL);
#ifdef DEBUG_COVERAGE
        __gcov_dump();
#endif
        execl("/bin/sh", "sh", "-c", line, (char *)NULL);
        _exit(127);
    }
    if (pid < 0) {
        sigprocmask(SIG_SETMASK, &old, NULL);
        return -1;
    }
    setpgid(pid, pid); // also done by the child: whichever runs first
    child_group = pid;
    sigprocmask(SIG_SETMASK, &old, NULL);

    // Waited for without reaping first, so that the group a late signal is
    // passed on to cannot be another one by then.
    siginfo_t info;
    while (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR)
        ;
    uint64_t end = monotonic_us();
    sigprocmask(SIG_BLOCK, &all, NULL);
    child_group = 0;
    sigprocmask(SIG_SETMASK, &old, NULL);
    int status;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            return -1;
    if (spent != NULL) {
        spent->elapsed_us = end - start;
        spent->usage = usage;
    }
    return status;
}

int OSA_system(const char *command) { return run_shell(command, false, NULL); }

int OSA_systemUnlessStopped(const char *command) { return run_shell(command, true, NULL); }

int OSA_systemTimed(const char *command, int unless_stopped, OSA_commandTime *spent)
{
    return run_shell(command, unless_stopped != 0, spent);
}

FILE *OSA_popen(const char *command, const char *mode)
{
    fflush(stdout);
    fflush(stderr);
    return popen(command, mode);
}

// Asks the shell that runs the tool's commands, so that it is found where
// they will be: a program prints its path, a keyword or a built-in (bash's
// time) only its name, and the tool runs every command with exec.
int OSA_programFound(const char *name)
{
    char command[128];
    if (snprintf(command, sizeof command, "command -v %s 2>/dev/null", name) >= (int)sizeof command)
        return 0;
    FILE *shell = OSA_popen(command, "r");
    if (shell == NULL)
        return 0;
    char path[256] = "";
    bool found = fgets(path, sizeof path, shell) != NULL && path[0] == '/';
    while (fgets(path, sizeof path, shell) != NULL) // the rest, so that it can end
        ;
    pclose(shell);
    return found ? 1 : 0;
}
