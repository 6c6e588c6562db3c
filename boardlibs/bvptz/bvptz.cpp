// PTZ library of the camera: Pelco-D and Pelco-P frames on the RS-485 port.
#include "bvptz.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// The head's RS-485 link.
static const char PTZ_PORT[] = "/dev/ttyS1";
static const uint32_t DEFAULT_BAUDRATE = 9600;
// Receiver address of the one head on the link, camera 1. Pelco-D counts
// addresses from 1, Pelco-P from 0: a Pelco-P head set to camera 1 takes
// only frames for address 0.
static const uint8_t D_ADDRESS = 0x01;
static const uint8_t P_ADDRESS = 0x00;
static const uint8_t DEFAULT_SPEED = 0x20;
static const uint8_t MAX_SPEED = 0x3F; // 0x40 would be "turbo" on some heads
static const unsigned long PRESET_MIN = 1;
static const unsigned long PRESET_MAX = 255;
// A frame takes 33 ms at 2400 baud: a port that takes nothing for a whole
// second is stuck (flow control, a wedged driver) and the frame is dropped.
static const int WRITE_TIMEOUT_MS = 1000;

// Frame layouts: Pelco-D  FF addr cmd1 cmd2 data1 data2 sum(2..6)
//                Pelco-P  A0 addr cmd1 cmd2 data1 data2 AF  xor(1..7)
static const uint8_t D_SYNC = 0xFF;
static const uint8_t P_STX = 0xA0;
static const uint8_t P_ETX = 0xAF;
enum { FRAME_MAX = 8 };

// Command bytes of the standard commands. Pan, tilt and zoom share one
// layout in both protocols' second byte; focus, iris and scan differ.
enum : uint8_t {
    D1_SENSE = 0x80, // with D1_SCAN: auto scan on
    D1_SCAN = 0x10,
    D1_IRIS_CLOSE = 0x04,
    D1_IRIS_OPEN = 0x02,
    D1_FOCUS_NEAR = 0x01,
    D2_FOCUS_FAR = 0x80,
    P1_AUTO_SCAN = 0x20,
    P1_IRIS_CLOSE = 0x08,
    P1_IRIS_OPEN = 0x04,
    P1_FOCUS_NEAR = 0x02,
    P1_FOCUS_FAR = 0x01,
    ZOOM_WIDE = 0x40,
    ZOOM_TELE = 0x20,
    TILT_DOWN = 0x10,
    TILT_UP = 0x08,
    PAN_LEFT = 0x04,
    PAN_RIGHT = 0x02,
};

// Extended commands (command 1 = 0, command 2 odd, value in data 2), the
// same in both protocols.
enum : uint8_t {
    EXT_SET_PRESET = 0x03,
    EXT_CLEAR_PRESET = 0x05,
    EXT_GO_PRESET = 0x07,
    EXT_SET_AUX = 0x09,
    EXT_CLEAR_AUX = 0x0B,
    EXT_AUTO_FOCUS = 0x2B,
};
// Auxiliary outputs of the head, and the modes of EXT_AUTO_FOCUS.
static const uint8_t AUX_LIGHT = 1;
static const uint8_t AUX_WIPER = 2;
static const uint8_t FOCUS_AUTOMATIC = 0; // the lens's own default mode
static const uint8_t FOCUS_AUTO_ON = 1;

// What a frame does to the head's motion: pan, tilt and lens motions go on
// until a stop or a preset recall; the extended commands leave them be.
enum motion { KEEPS, MOVES, STOPS };
enum data_kind { DATA_NONE, DATA_SPEEDS, DATA_VALUE };

struct pt_code {
    int command;
    uint8_t d[2]; // Pelco-D command 1, command 2
    uint8_t p[2]; // Pelco-P command 1, command 2
    data_kind data;
    uint8_t value; // data 2 of DATA_VALUE
    motion effect;
};

static const pt_code pt_codes[] = {
    {PT_CMD_UP, {0, TILT_UP}, {0, TILT_UP}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_DOWN, {0, TILT_DOWN}, {0, TILT_DOWN}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_LEFT, {0, PAN_LEFT}, {0, PAN_LEFT}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_RIGHT, {0, PAN_RIGHT}, {0, PAN_RIGHT}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_UPLEFT, {0, TILT_UP | PAN_LEFT}, {0, TILT_UP | PAN_LEFT}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_DOWNRIGHT,
     {0, TILT_DOWN | PAN_RIGHT},
     {0, TILT_DOWN | PAN_RIGHT},
     DATA_SPEEDS,
     0,
     MOVES},
    {PT_CMD_DOWNLEFT, {0, TILT_DOWN | PAN_LEFT}, {0, TILT_DOWN | PAN_LEFT}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_UPRIGHT, {0, TILT_UP | PAN_RIGHT}, {0, TILT_UP | PAN_RIGHT}, DATA_SPEEDS, 0, MOVES},
    {PT_CMD_IRIS_IN, {D1_IRIS_CLOSE, 0}, {P1_IRIS_CLOSE, 0}, DATA_NONE, 0, MOVES},
    {PT_CMD_IRIS_OUT, {D1_IRIS_OPEN, 0}, {P1_IRIS_OPEN, 0}, DATA_NONE, 0, MOVES},
    {PT_CMD_ZOOM_IN, {0, ZOOM_TELE}, {0, ZOOM_TELE}, DATA_NONE, 0, MOVES},
    {PT_CMD_ZOOM_OUT, {0, ZOOM_WIDE}, {0, ZOOM_WIDE}, DATA_NONE, 0, MOVES},
    {PT_CMD_FOCUS_IN, {D1_FOCUS_NEAR, 0}, {P1_FOCUS_NEAR, 0}, DATA_NONE, 0, MOVES},
    {PT_CMD_FOCUS_OUT, {0, D2_FOCUS_FAR}, {P1_FOCUS_FAR, 0}, DATA_NONE, 0, MOVES},
    {PT_CMD_AUTO_FOCUS, {0, EXT_AUTO_FOCUS}, {0, EXT_AUTO_FOCUS}, DATA_VALUE, FOCUS_AUTO_ON, KEEPS},
    {PT_CMD_RESET_FOCUS,
     {0, EXT_AUTO_FOCUS},
     {0, EXT_AUTO_FOCUS},
     DATA_VALUE,
     FOCUS_AUTOMATIC,
     KEEPS},
    {PT_CMD_AUTO_SCAN, {D1_SENSE | D1_SCAN, 0}, {P1_AUTO_SCAN, 0}, DATA_NONE, 0, MOVES},
    {PT_CMD_LIGHT_ON, {0, EXT_SET_AUX}, {0, EXT_SET_AUX}, DATA_VALUE, AUX_LIGHT, KEEPS},
    {PT_CMD_LIGHT_OFF, {0, EXT_CLEAR_AUX}, {0, EXT_CLEAR_AUX}, DATA_VALUE, AUX_LIGHT, KEEPS},
    {PT_CMD_WIPER_ON, {0, EXT_SET_AUX}, {0, EXT_SET_AUX}, DATA_VALUE, AUX_WIPER, KEEPS},
    {PT_CMD_WIPER_OFF, {0, EXT_CLEAR_AUX}, {0, EXT_CLEAR_AUX}, DATA_VALUE, AUX_WIPER, KEEPS},
    {PT_CMD_STOP, {0, 0}, {0, 0}, DATA_NONE, 0, STOPS},
};

static const struct {
    uint32_t baudrate;
    speed_t speed;
} pt_baudrates[] = {{2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};

static struct pt_link {
    int fd;       // -1 while closed
    int unusable; // opening failed (reported once): no further attempt until deinit
    uint32_t baudrate;
    uint32_t protocol;
    uint8_t pan_speed;
    uint8_t tilt_speed;
    int moving; // the last frame sent left the head moving
} pt_link = {-1, 0, DEFAULT_BAUDRATE, PT_PELCO_D, DEFAULT_SPEED, DEFAULT_SPEED, 0};

static void report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static void report(const char *fmt, ...)
{
    char text[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    fprintf(stderr, "bvptz: %s\n", text);
}

/* ---- frames ---------------------------------------------------------------- */

static size_t pt_frame(uint32_t protocol, uint8_t cmd1, uint8_t cmd2, uint8_t data1, uint8_t data2,
                       uint8_t out[FRAME_MAX])
{
    if (protocol == PT_PELCO_P) {
        const uint8_t frame[] = {P_STX, P_ADDRESS, cmd1, cmd2, data1, data2, P_ETX};
        uint8_t check = 0;
        for (uint8_t b : frame)
            check ^= b;
        memcpy(out, frame, sizeof frame);
        out[sizeof frame] = check;
        return sizeof frame + 1;
    }
    const uint8_t frame[] = {D_SYNC, D_ADDRESS, cmd1, cmd2, data1, data2};
    unsigned sum = 0;
    for (size_t i = 1; i < sizeof frame; i++)
        sum += frame[i];
    memcpy(out, frame, sizeof frame);
    out[sizeof frame] = (uint8_t)sum;
    return sizeof frame + 1;
}

static const pt_code *pt_find(int command)
{
    for (const pt_code &code : pt_codes)
        if (code.command == command)
            return &code;
    return NULL;
}

/* ---- the port -------------------------------------------------------------- */

static speed_t pt_speed(uint32_t baudrate)
{
    for (const auto &b : pt_baudrates)
        if (b.baudrate == baudrate)
            return b.speed;
    return B0;
}

// Raw 8N1 at the given rate, no flow control, no line discipline on either
// side. `when` is TCSANOW on a fresh port, TCSADRAIN on one with frames in
// flight, so that they leave at the rate they were written for.
static int pt_configure(int fd, uint32_t baudrate, int when)
{
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return -1;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(tcflag_t)(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t speed = pt_speed(baudrate);
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0)
        return -1;
    if (tcsetattr(fd, when, &tio) != 0)
        return -1;
    // tcsetattr() succeeds when any of the settings took: check them all.
    struct termios got;
    if (tcgetattr(fd, &got) != 0)
        return -1;
    if (cfgetospeed(&got) != speed || (got.c_cflag & (CSIZE | PARENB | CSTOPB)) != CS8 ||
        (got.c_lflag & (ICANON | ECHO | ISIG)) != 0 || (got.c_oflag & OPOST) != 0) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

static int pt_unsupported(int err)
{
    return err == ENOTTY || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// The transceiver's driver enable follows RTS, switched by the kernel around
// each transmission. A port without RS-485 support (an RS-232 UART, a
// pseudo-terminal) is driven as it is; one already in RS-485 mode keeps the
// polarity and delays its board set up.
static void pt_rs485_on(int fd)
{
    struct serial_rs485 rs;
    memset(&rs, 0, sizeof rs);
    if (ioctl(fd, TIOCGRS485, &rs) != 0) {
        if (!pt_unsupported(errno))
            report("%s: cannot read the RS-485 settings: %s", PTZ_PORT, strerror(errno));
        return;
    }
    if (rs.flags & SER_RS485_ENABLED)
        return;
    rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs.flags &= ~(uint32_t)SER_RS485_RTS_AFTER_SEND;
    // The serial core answers TIOCGRS485 for every UART and only the
    // setting shows whether its driver has RS-485 at all (ENOTTY without).
    if (ioctl(fd, TIOCSRS485, &rs) != 0 && !pt_unsupported(errno))
        report("%s: RS-485 direction control not switched on: %s", PTZ_PORT, strerror(errno));
}

static int pt_open(void)
{
    if (pt_link.fd >= 0)
        return 0;
    if (pt_link.unusable)
        return -1;
    // Non-blocking: the open does not wait for a carrier, a write for a
    // stuck line.
    int fd = open(PTZ_PORT, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report("cannot open %s: %s", PTZ_PORT, strerror(errno));
        pt_link.unusable = 1;
        return -1;
    }
    if (pt_configure(fd, pt_link.baudrate, TCSANOW) != 0) {
        report("cannot set %s to %u 8N1 raw: %s", PTZ_PORT, (unsigned)pt_link.baudrate,
               strerror(errno));
        close(fd);
        pt_link.unusable = 1;
        return -1;
    }
    pt_rs485_on(fd);
    pt_link.fd = fd;
    return 0;
}

static int pt_write(const uint8_t *frame, size_t len)
{
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(pt_link.fd, frame + done, len - done);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            struct pollfd out = {pt_link.fd, POLLOUT, 0};
            int ready = poll(&out, 1, WRITE_TIMEOUT_MS);
            if (ready > 0 || (ready < 0 && errno == EINTR))
                continue;
            if (ready == 0) {
                report("cannot write to %s: nothing taken for %d ms", PTZ_PORT, WRITE_TIMEOUT_MS);
                return -1;
            }
        }
        report("cannot write to %s: %s", PTZ_PORT, n == 0 ? "nothing written" : strerror(errno));
        return -1;
    }
    return 0;
}

static int pt_send(uint8_t cmd1, uint8_t cmd2, uint8_t data1, uint8_t data2, motion effect)
{
    if (pt_open() != 0)
        return -1;
    uint8_t frame[FRAME_MAX];
    size_t len = pt_frame(pt_link.protocol, cmd1, cmd2, data1, data2, frame);
    if (pt_write(frame, len) != 0)
        return -1;
    if (effect != KEEPS)
        pt_link.moving = effect == MOVES;
    return 0;
}

static int pt_send_code(const pt_code *code)
{
    const uint8_t *cmd = pt_link.protocol == PT_PELCO_P ? code->p : code->d;
    uint8_t data1 = 0, data2 = 0;
    if (code->data == DATA_SPEEDS) {
        data1 = pt_link.pan_speed;
        data2 = pt_link.tilt_speed;
    } else if (code->data == DATA_VALUE) {
        data2 = code->value;
    }
    return pt_send(cmd[0], cmd[1], data1, data2, code->effect);
}

/* ---- calls ----------------------------------------------------------------- */

int pt_set_speed(uint32_t pan_speed, uint32_t tilt_speed)
{
    pt_link.pan_speed = (uint8_t)(pan_speed < MAX_SPEED ? pan_speed : MAX_SPEED);
    pt_link.tilt_speed = (uint8_t)(tilt_speed < MAX_SPEED ? tilt_speed : MAX_SPEED);
    return 0;
}

int pt_set_link(uint32_t baudrate, uint32_t protocol)
{
    if (pt_speed(baudrate) == B0) {
        report("baud rate %u not supported (2400, 4800, 9600, 19200)", (unsigned)baudrate);
        return -1;
    }
    if (protocol != PT_PELCO_D && protocol != PT_PELCO_P) {
        report("protocol %u not supported (0: Pelco-D, 1: Pelco-P)", (unsigned)protocol);
        return -1;
    }
    if (pt_link.fd >= 0 && baudrate != pt_link.baudrate &&
        pt_configure(pt_link.fd, baudrate, TCSADRAIN) != 0) {
        report("cannot set %s to %u 8N1 raw: %s", PTZ_PORT, (unsigned)baudrate, strerror(errno));
        return -1;
    }
    pt_link.baudrate = baudrate;
    pt_link.protocol = protocol;
    return 0;
}

static int pt_preset(uint8_t opcode, unsigned long preset, motion effect)
{
    if (preset < PRESET_MIN || preset > PRESET_MAX) {
        report("preset %lu not sent: presets are %lu to %lu", preset, PRESET_MIN, PRESET_MAX);
        return -1;
    }
    return pt_send(0, opcode, 0, (uint8_t)preset, effect);
}

int pt_set_preset(unsigned long preset)
{
    return pt_preset(EXT_SET_PRESET, preset, KEEPS);
}

int pt_remove_preset(unsigned long preset)
{
    return pt_preset(EXT_CLEAR_PRESET, preset, KEEPS);
}

// The head drives to the preset and stays there: nothing is left moving.
int pt_go_preset(unsigned long preset)
{
    return pt_preset(EXT_GO_PRESET, preset, STOPS);
}

int pt_run(int command)
{
    const pt_code *code = pt_find(command);
    if (code == NULL) {
        report("command %d has no frame: not sent", command);
        return -1;
    }
    return pt_send_code(code);
}

int pt_tty_deinit(int stop)
{
    int status = 0;
    if (pt_link.fd >= 0) {
        if (stop && pt_link.moving)
            status = pt_run(PT_CMD_STOP);
        // No flow control: the queue empties in a few frame times.
        while (tcdrain(pt_link.fd) != 0) {
            if (errno == EINTR)
                continue;
            report("cannot drain %s: %s", PTZ_PORT, strerror(errno));
            status = -1;
            break;
        }
        close(pt_link.fd);
    }
    pt_link.fd = -1;
    pt_link.unusable = 0;
    pt_link.moving = 0;
    return status;
}
