// The camera's lens stepper library on our GPIO library. Each motor is a
// two-phase stepper on four phase lines, stepped in the half-step sequence
// at a fixed rate from one thread: STEPPER_run waits between the steps
// itself, a P-iris duty move advances in the caller's STEPPER_check_busy
// calls. Positions are counted from each motor's back end stop and kept in
// a small file on the board's flash.
#include "stepper.h"

#include "board_file.h"
#include "board_report.h"
#include "gpio.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

// The positions, on the camera's NAND flash, which keeps them across runs
// and power cuts. Replaced whole through the temporary file and a rename.
static const char STEPPER_STATE_DIR[] = "/mnt/nand";
static const char STEPPER_STATE_PATH[] = "/mnt/nand/stepper.pos";
static const char STEPPER_STATE_TEMP_PATH[] = "/mnt/nand/stepper.pos.tmp";
// Held by the program that drives the lens, from its first move to
// STEPPER_close: the positions it read are its own until it has saved them.
static const char STEPPER_LOCK_PATH[] = "/mnt/nand/stepper.lock";

// How often a run that waits for the lens looks whether it is free.
static const long STEPPER_LOCK_POLL_NS = 10000000;
// How long it waits at most: twice the longest move (a focus homed, then
// driven across its whole travel: 27 s at the step rate). A program that
// holds the lens longer is stuck, or keeps it on purpose.
static const long long STEPPER_LOCK_WAIT_S = 60;

// 500 half-steps a second: two steps of a motor are never closer than 2 ms.
// The lens's small geared steppers start and stop at this rate without a
// ramp and without losing steps; the focus crosses its whole travel in
// under 14 s.
static const long long STEPPER_STEP_NS = 2000000;

// Homing drives a motor whose position is unknown back over its whole
// travel and one more cycle of the sequence, so that it surely ends
// against the end stop, wherever it was.
static const int64_t STEPPER_HOME_MARGIN = 8;

namespace
{

enum { PHASES = 4, HALF_STEPS = 8 };

// Levels of the phase lines A+, A-, B+, B- for position p: half_steps[p % 8].
// A step forward takes the next row, a step back the one before. Neighbours
// differ in one line, so that a step is one GPIO write.
const uint8_t half_steps[HALF_STEPS][PHASES] = {
    {1, 0, 0, 0}, {1, 0, 1, 0}, {0, 0, 1, 0}, {0, 1, 1, 0},
    {0, 1, 0, 0}, {0, 1, 0, 1}, {0, 0, 0, 1}, {1, 0, 0, 1},
};

struct motor {
    const char *name; // in reports
    const char *key;  // in the state file
    int64_t travel;
    const ext_gpio_motor *lines;

    int64_t pos = 0; // from the back end stop; counts down to it while homing
    bool known = false;
    char why[96] = ""; // why the position is not known

    bool moving = false; // stepping, or settling after the last step
    bool homing = false;
    int64_t target = 0;
    int64_t then = 0;  // the target once homed
    int64_t start = 0; // where the asked part of the move began
    long long next_ns = 0;

    int8_t level[PHASES] = {-1, -1, -1, -1}; // as last set; -1 before the first write
};

motor motors[] = {
    {"focus", "focus", STEPPER_FOCUS_TRAVEL, &extGpio.focus},
    {"zoom", "zoom", STEPPER_ZOOM_TRAVEL, &extGpio.zoom},
    {"P-iris", "piris", STEPPER_PIRIS_TRAVEL, &extGpio.piris},
};
const size_t MOTORS = sizeof motors / sizeof motors[0];

bool opened;      // the lens locked, the positions read from the file
int lock_fd = -1; // the lock file, held while opened
char saved[128];  // what the file holds, as this library would write it
// Who held the lens when the wait for it ran out; later calls of the
// program do not wait again until STEPPER_close.
char lens_holder[BOARD_FILE_TEXT_SIZE];
bool lens_busy;

// A report that repeats (positions that cannot be saved, at every move)
// is said once, and how often again at STEPPER_close.
board_reports reports;

void report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void report(const char *fmt, ...)
{
    char text[BOARD_REPORT_TEXT - 16];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    board_report(&reports, "libstepper: %s", text);
}

long long now_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// Sleeps until the monotonic time ns, through any signal.
void wait_until(long long ns)
{
    struct timespec ts;
    ts.tv_sec = (time_t)(ns / 1000000000LL);
    ts.tv_nsec = (long)(ns % 1000000000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR)
        ;
}

uint32_t line_of(const motor *m, int phase)
{
    const uint32_t *lines[PHASES] = {&m->lines->a_plus, &m->lines->a_minus, &m->lines->b_plus,
                                     &m->lines->b_minus};
    return *lines[phase];
}

// Writes the lines whose level differs from the pattern's, those that go
// off before those that go on, so that no coil is ever driven both ways at
// once. 0, or the number of the line that failed (reported by the GPIO
// library).
int set_phases(motor *m, const uint8_t pattern[PHASES], uint32_t *failed)
{
    for (int level = 0; level <= 1; level++) {
        for (int i = 0; i < PHASES; i++) {
            if (pattern[i] != level || m->level[i] == level)
                continue;
            if (gpio_write(line_of(m, i), (uint32_t)level) != 0) {
                *failed = line_of(m, i);
                return -1;
            }
            m->level[i] = (int8_t)level;
        }
    }
    return 0;
}

// Switches off every line of the motor that this library switched on.
void phases_off(motor *m)
{
    for (int i = 0; i < PHASES; i++)
        if (m->level[i] == 1 && gpio_write(line_of(m, i), 0) == 0)
            m->level[i] = 0;
}

/* ---- the state file ------------------------------------------------------ */

void state_text(char *text, size_t size)
{
    size_t len = 0;
    text[0] = '\0';
    for (const motor &m : motors)
        if (m.known && !m.moving && len < size)
            len += (size_t)snprintf(text + len, size - len, "%s %lld\n", m.key, (long long)m.pos);
}

// One line per motor whose position is known: "focus 1200". Lines that
// are not of this form are passed over.
void parse_state(char *text)
{
    char *save = NULL;
    for (char *line = strtok_r(text, "\n", &save); line; line = strtok_r(NULL, "\n", &save)) {
        char *space = strchr(line, ' ');
        if (space == NULL)
            continue;
        *space = '\0';
        char *end;
        errno = 0;
        long long pos = strtoll(space + 1, &end, 10);
        if (errno != 0 || end == space + 1 || *end != '\0')
            continue;
        for (motor &m : motors) {
            if (strcmp(m.key, line) != 0)
                continue;
            m.known = pos >= 0 && pos <= m.travel;
            m.pos = m.known ? pos : 0;
            if (!m.known)
                snprintf(m.why, sizeof m.why, "%s gives %lld, outside its travel",
                         STEPPER_STATE_PATH, pos);
        }
    }
}

void load_state()
{
    char reason[80];
    snprintf(reason, sizeof reason, "not in %s", STEPPER_STATE_PATH);
    char text[256] = "";
    int fd = open(STEPPER_STATE_PATH, O_RDONLY | O_CLOEXEC);
    ssize_t got = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
    if (got < 0)
        snprintf(reason, sizeof reason, "%s: %s", STEPPER_STATE_PATH, strerror(errno));
    else if ((size_t)got == sizeof text - 1)
        snprintf(reason, sizeof reason, "%s: too long to be ours", STEPPER_STATE_PATH);
    else
        text[got] = '\0';
    if (fd >= 0)
        close(fd);
    for (motor &m : motors) {
        m.known = false;
        snprintf(m.why, sizeof m.why, "%s", reason);
    }
    if (got >= 0 && (size_t)got < sizeof text - 1)
        parse_state(text);
    state_text(saved, sizeof saved);
}

int write_all(int fd, const char *text, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, text, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        text += n;
        len -= (size_t)n;
    }
    return 0;
}

// A rename or a removal of the file reaches the flash with its folder.
void sync_state_dir()
{
    int dir = open(STEPPER_STATE_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
}

// After a save that failed, the file must not keep positions the motors
// may leave: it is removed (a full flash still takes a removal). When even
// that fails (a read-only flash), saved keeps what the file still says.
void forget_state()
{
    if (saved[0] == '\0')
        return;
    if (unlink(STEPPER_STATE_PATH) != 0 && errno != ENOENT) {
        report("cannot remove the old lens positions either: %s: %s", STEPPER_STATE_PATH,
               strerror(errno));
        return;
    }
    sync_state_dir();
    saved[0] = '\0';
}

// Replaces the file when what it should hold has changed. A run cut off at
// any moment leaves the old file or the new one, never a part of either.
// false when it could not be replaced.
bool save_state()
{
    char text[sizeof saved];
    state_text(text, sizeof text);
    if (strcmp(text, saved) == 0)
        return true;
    const char *failed = STEPPER_STATE_TEMP_PATH;
    int fd = open(STEPPER_STATE_TEMP_PATH, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write_all(fd, text, strlen(text)) == 0 && fsync(fd) == 0;
    int err = errno;
    if (fd >= 0)
        close(fd);
    if (ok) {
        failed = STEPPER_STATE_PATH;
        ok = rename(STEPPER_STATE_TEMP_PATH, STEPPER_STATE_PATH) == 0;
        err = errno;
    }
    if (!ok) {
        report("cannot save the lens positions: %s: %s", failed, strerror(err));
        unlink(STEPPER_STATE_TEMP_PATH);
        forget_state();
        return false;
    }
    sync_state_dir();
    memcpy(saved, text, sizeof saved);
    return true;
}

// Whether the file still gives a position for motor m ("piris 104").
bool saved_holds(const motor *m)
{
    size_t len = strlen(m->key);
    for (const char *line = saved; line != NULL && *line != '\0';) {
        if (strncmp(line, m->key, len) == 0 && line[len] == ' ')
            return true;
        line = strchr(line, '\n');
        if (line != NULL)
            line++;
    }
    return false;
}

/* ---- one program at a time ---------------------------------------------- */

enum { LENS_BUSY = -1 };

void unlock_lens()
{
    if (lock_fd >= 0)
        close(lock_fd);
    lock_fd = -1;
}

// Takes the lens, waiting while another program holds it: two programs
// would drive the same lines at once, and the one that saves last would
// save over the other's moves. The lock file is readable by root alone:
// flock needs no more than reading, so a file that anyone can open, anyone
// can hold. The stop signals of stops (blocked by the caller) end the wait:
// 0, or the signal that ended it; LENS_BUSY when another program still
// holds the lens after STEPPER_LOCK_WAIT_S (named in lens_holder). A lock
// file that cannot be opened is said, and the lens is driven all the same,
// as positions that cannot be saved are.
int lock_lens(const sigset_t *stops)
{
    char why[BOARD_FILE_TEXT_SIZE];
    if (lens_busy)
        return LENS_BUSY;
    lock_fd = board_file_open(STEPPER_LOCK_PATH, O_RDWR | O_CREAT, 0600, why, sizeof why);
    if (lock_fd == -1) // a read-only flash may still hold the file
        lock_fd = board_file_open(STEPPER_LOCK_PATH, O_RDONLY, 0600, why, sizeof why);
    if (lock_fd < 0) {
        lock_fd = -1;
        report("cannot lock the lens: %s: %s", STEPPER_LOCK_PATH, why);
        return 0;
    }
    long long deadline = now_ns() + STEPPER_LOCK_WAIT_S * 1000000000LL;
    bool said = false;
    while (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            report("cannot lock the lens: %s: %s", STEPPER_LOCK_PATH, strerror(errno));
            break;
        }
        if (now_ns() >= deadline) {
            board_flock_holder(lock_fd, lens_holder, sizeof lens_holder);
            unlock_lens();
            lens_busy = true;
            return LENS_BUSY;
        }
        if (!said) {
            board_flock_holder(lock_fd, lens_holder, sizeof lens_holder);
            report("%s holds the lens (%s): waiting for it to end", lens_holder, STEPPER_LOCK_PATH);
        }
        said = true;
        struct timespec poll = {0, STEPPER_LOCK_POLL_NS};
        int sig = sigtimedwait(stops, NULL, &poll);
        if (sig > 0) {
            unlock_lens();
            return sig;
        }
    }
    return 0;
}

// The lens taken and the positions read, for a call that moves motor m
// with the stop signals of stops blocked: 0, the stop signal that ended
// the wait for the lens, or LENS_BUSY when the wait ran out (each said so;
// nothing has moved).
int open_library(const motor *m, const sigset_t *stops)
{
    if (opened)
        return 0;
    int signo = lock_lens(stops);
    if (signo == LENS_BUSY) {
        report("%s: the lens is still held by %s after %lld s (%s): nothing moved", m->name,
               lens_holder, STEPPER_LOCK_WAIT_S, STEPPER_LOCK_PATH);
        return signo;
    }
    if (signo != 0) {
        report("%s: stopped by signal %d while waiting for the lens: nothing moved", m->name,
               signo);
        return signo;
    }
    load_state();
    opened = true;
    return 0;
}

/* ---- moves --------------------------------------------------------------- */

// Homing starts a whole travel and a margin away from the end stop, on the
// phase the motor is at, so that its first step is one half-step too.
int64_t homing_start(const motor *m)
{
    int64_t from = m->travel + STEPPER_HOME_MARGIN;
    return from + ((m->pos - from) % HALF_STEPS + HALF_STEPS) % HALF_STEPS;
}

// Starts a move to target (0 .. travel), through the end stop first when
// the position is unknown. A move under way takes the new target. -1, and
// nothing changed, when the move cannot be taken out of the file: the file
// would hold a position the lens is not at.
int begin_move(motor *m, int64_t target)
{
    const motor before = *m;
    if (!m->known && !m->homing) {
        m->pos = homing_start(m);
        m->homing = true;
        report("%s: position unknown (%s): homing it, %lld steps back to its end stop", m->name,
               m->why, (long long)m->pos);
    }
    if (m->homing) {
        m->target = 0;
        m->then = target;
    } else {
        m->target = target;
        m->start = m->pos;
    }
    if (!m->moving) {
        m->moving = true;
        m->next_ns = now_ns();
    }
    // While it moves, the file holds no position for it.
    if (!save_state() && saved_holds(m)) {
        report("%s: not moved: %s keeps its old position and can be neither replaced nor removed",
               m->name, STEPPER_STATE_PATH);
        *m = before;
        return -1;
    }
    return 0;
}

// Homing from wherever the motor is, for a position that may be wrong.
int begin_homing(motor *m)
{
    m->known = false;
    m->homing = true;
    m->pos = homing_start(m);
    snprintf(m->why, sizeof m->why, "its homing was cut short");
    return begin_move(m, 0);
}

// The move ends where the motor is, after the step under way.
void stop_move(motor *m)
{
    if (m->homing) {
        m->homing = false;
        snprintf(m->why, sizeof m->why, "its homing was cut short");
    }
    m->target = m->pos;
}

void finish_move(motor *m)
{
    phases_off(m);
    m->moving = false;
    save_state();
}

void fail_move(motor *m, uint32_t line)
{
    report("%s: phase line %u failed: position unknown until it is homed", m->name, line);
    m->known = false;
    m->homing = false;
    snprintf(m->why, sizeof m->why, "a phase line failed during its last move");
    finish_move(m);
}

// At time now: the motor's next step when it is due, or one step period
// after the last step, the end of the move. -1 when a line failed.
int service(motor *m, long long now)
{
    if (!m->moving || now < m->next_ns)
        return 0;
    if (m->homing && m->pos == 0) { // against the end stop
        m->homing = false;
        m->known = true;
        m->target = m->then;
        m->start = 0;
    }
    if (m->pos == m->target) {
        finish_move(m);
        return 0;
    }
    int64_t next = m->pos + (m->target > m->pos ? 1 : -1);
    uint32_t failed = 0;
    if (set_phases(m, half_steps[next % HALF_STEPS], &failed) != 0) {
        fail_move(m, failed);
        return -1;
    }
    m->pos = next;
    m->next_ns = now_ns() + STEPPER_STEP_NS;
    return 0;
}

// The stop signals the caller neither blocks nor ignores.
void stop_signals(sigset_t *set)
{
    static const int signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
    sigset_t blocked;
    pthread_sigmask(SIG_BLOCK, NULL, &blocked);
    sigemptyset(set);
    for (int sig : signals) {
        struct sigaction sa;
        if (sigaction(sig, NULL, &sa) == 0 && sa.sa_handler == SIG_IGN)
            continue;
        if (!sigismember(&blocked, sig))
            sigaddset(set, sig);
    }
}

// Steps every moving motor at the step rate until m is at rest, looking
// for a stop signal of the set (blocked by the caller) before each step:
// one that arrived at any moment since the move began stops the motors
// after the step under way, with their phases off and their positions
// saved. Sets *signo to that signal.
int drive(motor *m, const sigset_t *set, int *signo)
{
    int result = 0;
    while (m->moving) {
        struct timespec zero = {0, 0};
        int sig = *signo == 0 ? sigtimedwait(set, NULL, &zero) : -1;
        if (sig > 0) {
            *signo = sig;
            if (m->pos != m->target || m->homing) // not when only settling
                result = STEPPER_STOPPED;
            for (motor &x : motors)
                if (x.moving)
                    stop_move(&x);
        }
        long long now = now_ns();
        for (motor &x : motors)
            if (service(&x, now) != 0 && &x == m)
                result = -1;
        if (!m->moving)
            break;
        long long due = m->next_ns;
        for (const motor &x : motors)
            if (x.moving && x.next_ns < due)
                due = x.next_ns;
        wait_until(due);
    }
    return result;
}

motor *motor_of(uint32_t type)
{
    return type < MOTORS ? &motors[type] : NULL;
}

int64_t clamp(int64_t pos, int64_t travel)
{
    return pos < 0 ? 0 : pos > travel ? travel : pos;
}

// Where the request takes the motor from position from. A move spans the
// travel at most and never leaves it.
int64_t target_of(const motor *m, const stepper_request *req, int64_t from)
{
    int64_t span = req->steps > (uint64_t)m->travel ? m->travel : (int64_t)req->steps;
    switch (req->dir) {
    case STEPPER_FORWARD:
        return clamp(from + span, m->travel);
    case STEPPER_BACK:
        return clamp(from - span, m->travel);
    case STEPPER_GOTO:
        if (req->steps > (uint64_t)m->travel)
            report("%s: position %llu is past its travel: going to %lld", m->name,
                   (unsigned long long)req->steps, (long long)m->travel);
        return span;
    default: // home
        return 0;
    }
}

// Says how a run that did not go as asked ended.
void report_run(const motor *m, const stepper_request *req, int result, int signo, uint64_t planned)
{
    uint64_t ran = (uint64_t)(m->pos > m->start ? m->pos - m->start : m->start - m->pos);
    if (result == STEPPER_STOPPED && !m->known)
        report("%s: stopped by signal %d while homing: position unknown", m->name, signo);
    else if (result == STEPPER_STOPPED)
        report("%s: stopped by signal %d after %llu of %llu steps, at %lld", m->name, signo,
               (unsigned long long)ran, (unsigned long long)planned, (long long)m->pos);
    else if (result == 0 && req->dir <= STEPPER_BACK && ran < req->steps)
        report("%s: ran %llu of %llu steps %s, to the end of its travel (%lld)", m->name,
               (unsigned long long)ran, (unsigned long long)req->steps,
               req->dir == STEPPER_FORWARD ? "forward" : "back", (long long)m->pos);
}

} // namespace

extern "C" int STEPPER_run(const stepper_request *req)
{
    if (req == NULL) {
        report("no request");
        return -1;
    }
    motor *m = motor_of(req->type);
    if (m == NULL) {
        report("motor type %u is not 0 (focus), 1 (zoom) or 2 (P-iris)", req->type);
        return -1;
    }
    if (req->dir > STEPPER_HOME) {
        report("%s: direction %u is not 0 (forward), 1 (back), 2 (to a position) or 3 (home)",
               m->name, req->dir);
        return -1;
    }
    // From here on a stop signal waits for drive() to see it.
    sigset_t set, old;
    stop_signals(&set);
    pthread_sigmask(SIG_BLOCK, &set, &old);
    int signo = open_library(m, &set);
    if (signo == LENS_BUSY) {
        pthread_sigmask(SIG_SETMASK, &old, NULL);
        return -1;
    }
    if (signo != 0) { // to the program's own handler, as below
        pthread_sigmask(SIG_SETMASK, &old, NULL);
        raise(signo);
        return STEPPER_STOPPED;
    }
    if (!m->moving)
        m->start = m->pos;
    // Relative moves count from the position, or from the end stop when the
    // motor is to be homed first. No steps asked, no move: an unknown
    // position is homed at the first move that is asked.
    int64_t from = m->known && !m->homing ? m->pos : 0;
    int64_t target = target_of(m, req, from);
    bool asked = req->steps != 0 || req->dir == STEPPER_GOTO;
    int refused = 0;
    if (req->dir == STEPPER_HOME)
        refused = begin_homing(m);
    else if (asked && (target != m->pos || !m->known || m->moving))
        refused = begin_move(m, target);
    if (refused != 0) {
        pthread_sigmask(SIG_SETMASK, &old, NULL);
        return -1;
    }

    int result = drive(m, &set, &signo);
    report_run(m, req, result, signo, (uint64_t)(target > from ? target - from : from - target));
    // Signals wait until the report is out; the one that stopped the move
    // goes to the program's own handler (or action) now.
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    if (signo != 0)
        raise(signo);
    return result;
}

extern "C" int STEPPER_set_piris_duty(uint32_t duty)
{
    motor *m = &motors[STEPPER_PIRIS];
    if (duty > m->travel) {
        report("P-iris duty %u is past its travel (%lld)", duty, (long long)m->travel);
        return -1;
    }
    if (!opened) { // a stop signal ends the wait for the lens, as in a run
        sigset_t set, old;
        stop_signals(&set);
        pthread_sigmask(SIG_BLOCK, &set, &old);
        int signo = open_library(m, &set);
        pthread_sigmask(SIG_SETMASK, &old, NULL);
        if (signo == LENS_BUSY)
            return -1;
        if (signo != 0) {
            raise(signo);
            return STEPPER_STOPPED;
        }
    }
    if ((duty != m->pos || !m->known || m->moving) && begin_move(m, duty) != 0)
        return -1;
    return service(m, now_ns()); // the first step at once
}

extern "C" int STEPPER_check_busy(uint32_t type)
{
    motor *m = motor_of(type);
    if (m == NULL)
        return 0;
    long long now = now_ns();
    for (motor &x : motors)
        service(&x, now);
    return m->moving ? 1 : 0;
}

extern "C" int STEPPER_close(void)
{
    for (motor &m : motors) {
        if (!m.moving)
            continue;
        if (m.homing)
            report("%s: stopped while homing: position unknown", m.name);
        else if (m.pos != m.target)
            report("%s: stopped at %lld on its way to %lld", m.name, (long long)m.pos,
                   (long long)m.target);
        stop_move(&m);
        wait_until(m.next_ns); // the last step settles
        finish_move(&m);
    }
    for (motor &m : motors)
        phases_off(&m);
    opened = false;
    lens_busy = false;
    unlock_lens(); // the positions are saved: the next program may move
    board_report_repeats(&reports);
    return 0;
}
