// tool_pelco FILE: the PTZ head's end of the RS-485 link. Opens a
// pseudo-terminal pair, writes the name of its other end to FILE (which a
// test then binds over the board's /dev/ttyS1), and decodes the Pelco-D and
// Pelco-P frames that arrive there, one line each on standard output:
//
//     1733630000.123456 D ff 01 00 08 26 26 55 up pan=38 tilt=38
//
// arrival time (wall clock, microseconds), protocol, the bytes, and what
// they ask of the head, read from the protocols' bit tables; a frame for
// another camera than camera 1 names it ("camera=2"), a frame whose
// checksum is wrong ends in "checksum-bad", bytes that start no frame are
// shown as "junk". The decoder keeps its own handle on the port's end, so
// the port's settings stay readable between runs of the tool:
//
//     SIGUSR1   prints "TIME link 9600 8N1 raw": the port's rate, character
//               format and whether it is raw (else the cooked flags found)
//     SIGTERM   prints what is still pending and ends
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>

static volatile sig_atomic_t want_link;
static volatile sig_atomic_t want_end;

static void on_signal(int sig)
{
    if (sig == SIGUSR1)
        want_link = 1;
    else
        want_end = 1;
}

static void emit(const std::string &line)
{
    std::string text = line + "\n";
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= (size_t)n;
    }
}

static std::string hex(unsigned v)
{
    char buf[8];
    snprintf(buf, sizeof buf, "%02x", v & 0xFF);
    return buf;
}

/* ---- what a frame asks ------------------------------------------------------ */

struct bit_name {
    uint8_t bit;
    const char *name;
};

// Second command byte, both protocols (Pelco-D adds focus far in bit 7).
static const bit_name motion_bits[] = {
    {0x08, "up"},    {0x10, "down"},      {0x04, "left"},
    {0x02, "right"}, {0x20, "zoom-tele"}, {0x40, "zoom-wide"},
};

static void add(std::string &out, const char *name)
{
    if (!out.empty())
        out += '+';
    out += name;
}

static std::string extended(uint8_t opcode, uint8_t data1, uint8_t data2)
{
    static const struct {
        uint8_t opcode;
        const char *name;
    } ops[] = {{0x03, "preset-set"}, {0x05, "preset-clear"}, {0x07, "preset-go"},
               {0x09, "aux-on"},     {0x0B, "aux-off"},      {0x2B, "focus-mode"}};
    for (const auto &op : ops)
        if (op.opcode == opcode && data1 == 0)
            return std::string(op.name) + " " + std::to_string(data2);
    return "extended-" + hex(opcode) + " " + hex(data1) + " " + hex(data2);
}

static std::string standard(char proto, uint8_t cmd1, uint8_t cmd2, uint8_t data1, uint8_t data2)
{
    std::string out;
    if (proto == 'D') {
        if ((cmd1 & 0x90) == 0x90)
            add(out, "scan-auto");
        else if (cmd1 & 0x10)
            add(out, "scan-manual");
        if (cmd1 & 0x08)
            add(out, cmd1 & 0x80 ? "camera-on" : "camera-off");
        if (cmd1 & 0x04)
            add(out, "iris-close");
        if (cmd1 & 0x02)
            add(out, "iris-open");
        if (cmd1 & 0x01)
            add(out, "focus-near");
        if (cmd2 & 0x80)
            add(out, "focus-far");
        if (cmd1 & 0x60)
            add(out, "reserved-bits");
    } else {
        if (cmd1 & 0x40)
            add(out, "camera-on");
        if (cmd1 & 0x20)
            add(out, "scan-auto");
        if (cmd1 & 0x10)
            add(out, "camera-onoff");
        if (cmd1 & 0x08)
            add(out, "iris-close");
        if (cmd1 & 0x04)
            add(out, "iris-open");
        if (cmd1 & 0x02)
            add(out, "focus-near");
        if (cmd1 & 0x01)
            add(out, "focus-far");
        if ((cmd1 | cmd2) & 0x80)
            add(out, "bit7-set");
    }
    for (const bit_name &b : motion_bits)
        if (cmd2 & b.bit)
            add(out, b.name);
    if (out.empty())
        out = "stop";
    if (cmd2 & 0x1E)
        out += " pan=" + std::to_string(data1) + " tilt=" + std::to_string(data2);
    else if (data1 != 0 || data2 != 0)
        out += " data=" + hex(data1) + "," + hex(data2);
    return out;
}

// One whole frame: D is 7 bytes, P 8.
static std::string decode(const uint8_t *f, size_t len)
{
    char proto = len == 7 ? 'D' : 'P';
    std::string line(1, proto);
    for (size_t i = 0; i < len; i++)
        line += " " + hex(f[i]);
    uint8_t cmd1 = f[2], cmd2 = f[3], data1 = f[4], data2 = f[5];
    line += " ";
    line += cmd2 & 1 ? extended(cmd2, data1, data2) : standard(proto, cmd1, cmd2, data1, data2);
    if (cmd2 & 1 && cmd1 != 0)
        line += " cmd1=" + hex(cmd1);
    // The head is camera 1: address 1 in Pelco-D, whose addresses count
    // from 1, and address 0 in Pelco-P, whose addresses count from 0.
    unsigned camera = proto == 'D' ? f[1] : f[1] + 1u;
    if (camera != 1)
        line += " camera=" + std::to_string(camera);
    unsigned want = 0;
    if (proto == 'D') {
        for (size_t i = 1; i < 6; i++)
            want += f[i];
    } else {
        for (size_t i = 0; i < 7; i++)
            want ^= f[i];
    }
    if ((want & 0xFF) != f[len - 1])
        line += " checksum-bad(want " + hex(want) + ")";
    return line;
}

/* ---- the byte stream ------------------------------------------------------------ */

static uint8_t pending[4096];
static size_t npending;

static std::string stamp()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    char buf[32];
    snprintf(buf, sizeof buf, "%lld.%06ld", (long long)ts.tv_sec, ts.tv_nsec / 1000);
    return buf;
}

// Frames whole in the buffer are printed; a partial one waits for more.
static void parse()
{
    size_t at = 0;
    while (at < npending) {
        uint8_t b = pending[at];
        size_t need = b == 0xFF ? 7 : b == 0xA0 ? 8 : 0;
        if (need != 0 && npending - at < need)
            break;
        if (need == 8 && pending[at + 6] != 0xAF)
            need = 0; // an A0 that is no Pelco-P frame
        if (need == 0) {
            emit(stamp() + " junk " + hex(b));
            at++;
            continue;
        }
        emit(stamp() + " " + decode(pending + at, need));
        at += need;
    }
    memmove(pending, pending + at, npending - at);
    npending -= at;
}

// Reads what the port's end holds; waits up to quiet_ms for more.
static void drain(int master, int quiet_ms)
{
    for (;;) {
        struct pollfd in = {master, POLLIN, 0};
        if (poll(&in, 1, quiet_ms) <= 0)
            return;
        ssize_t n = read(master, pending + npending, sizeof pending - npending);
        if (n <= 0)
            return;
        npending += (size_t)n;
        parse();
        if (npending == sizeof pending) // no frame in a full buffer
            npending = 0;
    }
}

/* ---- the port's settings --------------------------------------------------------- */

static unsigned baud_of(speed_t s)
{
    static const struct {
        speed_t speed;
        unsigned baud;
    } rates[] = {{B0, 0},         {B1200, 1200},   {B2400, 2400},   {B4800, 4800},    {B9600, 9600},
                 {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto &r : rates)
        if (r.speed == s)
            return r.baud;
    return 1;
}

static std::string link_line(int fd)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return std::string("link unreadable: ") + strerror(errno);
    std::string line = "link " + std::to_string(baud_of(cfgetospeed(&t)));
    if (cfgetispeed(&t) != cfgetospeed(&t))
        line += "/in=" + std::to_string(baud_of(cfgetispeed(&t)));
    static const char sizes[] = "5678";
    line += " ";
    line += sizes[(t.c_cflag & CSIZE) == CS5   ? 0
                  : (t.c_cflag & CSIZE) == CS6 ? 1
                  : (t.c_cflag & CSIZE) == CS7 ? 2
                                               : 3];
    line += t.c_cflag & PARENB ? (t.c_cflag & PARODD ? "O" : "E") : "N";
    line += t.c_cflag & CSTOPB ? "2" : "1";
    static const struct {
        tcflag_t termios::*field;
        tcflag_t flag;
        const char *name;
    } cooked[] = {
        {&termios::c_lflag, ICANON, "icanon"}, {&termios::c_lflag, ECHO, "echo"},
        {&termios::c_lflag, ISIG, "isig"},     {&termios::c_lflag, IEXTEN, "iexten"},
        {&termios::c_oflag, OPOST, "opost"},   {&termios::c_iflag, ICRNL, "icrnl"},
        {&termios::c_iflag, INLCR, "inlcr"},   {&termios::c_iflag, IGNCR, "igncr"},
        {&termios::c_iflag, IXON, "ixon"},     {&termios::c_iflag, IXOFF, "ixoff"},
        {&termios::c_iflag, ISTRIP, "istrip"}, {&termios::c_cflag, CRTSCTS, "crtscts"},
    };
    std::string found;
    for (const auto &c : cooked)
        if (t.*c.field & c.flag)
            found += found.empty() ? c.name : std::string(",") + c.name;
    line += found.empty() ? " raw" : " not-raw(" + found + ")";
    return line;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: tool_pelco FILE\n");
        return 2;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        perror("tool_pelco: pseudo-terminal");
        return 1;
    }
    const char *name = ptsname(master);
    int slave = name ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        perror("tool_pelco: the port's end");
        return 1;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    sigset_t handled, old;
    sigemptyset(&handled);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigprocmask(SIG_BLOCK, &handled, &old);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGUSR1, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    std::string tmp = std::string(argv[1]) + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (f == NULL || fprintf(f, "%s\n", name) < 0 || fclose(f) != 0 ||
        rename(tmp.c_str(), argv[1]) != 0) {
        perror(argv[1]);
        return 1;
    }

    // Signals are taken only inside ppoll: none is lost between a check of
    // the flags and the wait.
    for (;;) {
        struct pollfd in = {master, POLLIN, 0};
        int n = ppoll(&in, 1, NULL, &old);
        if (n > 0 && (in.revents & POLLIN))
            drain(master, 0);
        else if (n > 0)
            usleep(10000); // hung up for a moment: no reader of the other end
        if (want_link) {
            want_link = 0;
            drain(master, 20);
            emit(stamp() + " " + link_line(slave));
        }
        if (want_end) {
            drain(master, 100);
            return 0;
        }
    }
}
