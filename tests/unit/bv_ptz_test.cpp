// The PTZ library where the module cannot take it: the protocols' published
// example frames, calls the module's own checks never let through, the
// motion left at the end, RS-485 direction control on a port that has it
// (ioctl through a double: a pseudo-terminal has none) and a port that
// takes nothing. /dev/ttyS1 is a pseudo-terminal whose other end the test
// reads.
#include "bv_ptz.cpp"
#include "bvptz.cpp"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// RS-485 requests on the port: answered here when a test plays a port that
// supports them, else passed on (a pseudo-terminal refuses them).
static struct {
    bool supported;
    uint32_t flags;     // what TIOCGRS485 reports
    int get_error;      // errno of TIOCGRS485, 0: it succeeds
    int set_error;      // errno of TIOCSRS485, 0: it succeeds
    int sets;           // TIOCSRS485 calls
    uint32_t set_flags; // the flags of the last one
} rs485;

extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!rs485.supported || (request != TIOCGRS485 && request != TIOCSRS485))
        return __real_ioctl(fd, request, arg);
    auto *rs = static_cast<struct serial_rs485 *>(arg);
    if (request == TIOCGRS485) {
        if (rs485.get_error != 0) {
            errno = rs485.get_error;
            return -1;
        }
        memset(rs, 0, sizeof *rs);
        rs->flags = rs485.flags;
        return 0;
    }
    rs485.sets++;
    rs485.set_flags = rs->flags;
    if (rs485.set_error != 0) {
        errno = rs485.set_error;
        return -1;
    }
    return 0;
}

namespace
{

using Bytes = std::vector<int>;

class Link : public testing::Test
{
  protected:
    void SetUp() override
    {
        rs485 = {};
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master, 0) << strerror(errno);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        // Our own handle on the port's end keeps it open between opens.
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        unlink(PTZ_PORT);
        ASSERT_EQ(symlink(ptsname(master), PTZ_PORT), 0) << strerror(errno);
    }
    void TearDown() override
    {
        pt_tty_deinit(0);
        pt_set_link(9600, PT_PELCO_D);
        pt_set_speed(DEFAULT_SPEED, DEFAULT_SPEED);
        unlink(PTZ_PORT);
        close(slave);
        if (master >= 0)
            close(master);
    }

    // Everything the port has sent so far.
    Bytes taken()
    {
        Bytes bytes;
        unsigned char buf[256];
        struct pollfd in = {master, POLLIN, 0};
        while (poll(&in, 1, bytes.empty() ? 200 : 20) > 0) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buf, buf + n);
        }
        return bytes;
    }

    speed_t port_speed()
    {
        struct termios t;
        tcgetattr(slave, &t);
        return cfgetospeed(&t);
    }

    int master = -1;
    int slave = -1;
};

struct Example {
    const char *what;
    int (*call)(void);
    Bytes d; // Pelco-D, camera 1 at address 1
    Bytes p; // Pelco-P, camera 1 at address 0
};

// Frames as the protocols' documents and the heads' manuals print them:
// Pelco-D checksum the sum of bytes 2 to 6, Pelco-P the XOR of bytes 1 to 7.
const Example examples[] = {
    {"stop",
     [] { return pt_run(PT_CMD_STOP); },
     {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01},
     {0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0F}},
    {"set preset 1",
     [] { return pt_set_preset(1); },
     {0xFF, 0x01, 0x00, 0x03, 0x00, 0x01, 0x05},
     {0xA0, 0x00, 0x00, 0x03, 0x00, 0x01, 0xAF, 0x0D}},
    {"clear preset 1",
     [] { return pt_remove_preset(1); },
     {0xFF, 0x01, 0x00, 0x05, 0x00, 0x01, 0x07},
     {0xA0, 0x00, 0x00, 0x05, 0x00, 0x01, 0xAF, 0x0B}},
    {"go to preset 1",
     [] { return pt_go_preset(1); },
     {0xFF, 0x01, 0x00, 0x07, 0x00, 0x01, 0x09},
     {0xA0, 0x00, 0x00, 0x07, 0x00, 0x01, 0xAF, 0x09}},
    {"set auxiliary 1",
     [] { return pt_run(PT_CMD_LIGHT_ON); },
     {0xFF, 0x01, 0x00, 0x09, 0x00, 0x01, 0x0B},
     {0xA0, 0x00, 0x00, 0x09, 0x00, 0x01, 0xAF, 0x07}},
    {"clear auxiliary 1",
     [] { return pt_run(PT_CMD_LIGHT_OFF); },
     {0xFF, 0x01, 0x00, 0x0B, 0x00, 0x01, 0x0D},
     {0xA0, 0x00, 0x00, 0x0B, 0x00, 0x01, 0xAF, 0x05}},
    {"zoom tele",
     [] { return pt_run(PT_CMD_ZOOM_IN); },
     {0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21},
     {0xA0, 0x00, 0x00, 0x20, 0x00, 0x00, 0xAF, 0x2F}},
    {"zoom wide",
     [] { return pt_run(PT_CMD_ZOOM_OUT); },
     {0xFF, 0x01, 0x00, 0x40, 0x00, 0x00, 0x41},
     {0xA0, 0x00, 0x00, 0x40, 0x00, 0x00, 0xAF, 0x4F}},
    {"focus far",
     [] { return pt_run(PT_CMD_FOCUS_OUT); },
     {0xFF, 0x01, 0x00, 0x80, 0x00, 0x00, 0x81},
     {0xA0, 0x00, 0x01, 0x00, 0x00, 0x00, 0xAF, 0x0E}},
    {"focus near",
     [] { return pt_run(PT_CMD_FOCUS_IN); },
     {0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02},
     {0xA0, 0x00, 0x02, 0x00, 0x00, 0x00, 0xAF, 0x0D}},
    {"iris open",
     [] { return pt_run(PT_CMD_IRIS_OUT); },
     {0xFF, 0x01, 0x02, 0x00, 0x00, 0x00, 0x03},
     {0xA0, 0x00, 0x04, 0x00, 0x00, 0x00, 0xAF, 0x0B}},
    {"iris close",
     [] { return pt_run(PT_CMD_IRIS_IN); },
     {0xFF, 0x01, 0x04, 0x00, 0x00, 0x00, 0x05},
     {0xA0, 0x00, 0x08, 0x00, 0x00, 0x00, 0xAF, 0x07}},
    {"auto focus",
     [] { return pt_run(PT_CMD_AUTO_FOCUS); },
     {0xFF, 0x01, 0x00, 0x2B, 0x00, 0x01, 0x2D},
     {0xA0, 0x00, 0x00, 0x2B, 0x00, 0x01, 0xAF, 0x25}},
    {"pan left at full speed",
     [] { return pt_set_speed(0x3F, 0), pt_run(PT_CMD_LEFT); },
     {0xFF, 0x01, 0x00, 0x04, 0x3F, 0x00, 0x44},
     {0xA0, 0x00, 0x00, 0x04, 0x3F, 0x00, 0xAF, 0x34}},
    {"tilt up at speed 0x20",
     [] { return pt_set_speed(0, 0x20), pt_run(PT_CMD_UP); },
     {0xFF, 0x01, 0x00, 0x08, 0x00, 0x20, 0x29},
     {0xA0, 0x00, 0x00, 0x08, 0x00, 0x20, 0xAF, 0x27}},
};

TEST_F(Link, PublishedExampleFramesInBothProtocols)
{
    for (uint32_t protocol : {PT_PELCO_D, PT_PELCO_P}) {
        ASSERT_EQ(pt_set_link(9600, protocol), 0);
        for (const Example &e : examples) {
            EXPECT_EQ(e.call(), 0) << e.what;
            EXPECT_EQ(taken(), protocol == PT_PELCO_D ? e.d : e.p) << e.what;
        }
    }
}

TEST_F(Link, SpeedsAboveTheScaleAreSentAsItsTop)
{
    pt_set_speed(0x40, 100);
    pt_run(PT_CMD_DOWNRIGHT);
    EXPECT_EQ(taken(), (Bytes{0xFF, 0x01, 0x00, 0x12, 0x3F, 0x3F, 0x91}));
    pt_set_speed(0, 1);
    pt_run(PT_CMD_RIGHT);
    EXPECT_EQ(taken(), (Bytes{0xFF, 0x01, 0x00, 0x02, 0x00, 0x01, 0x04}));
}

TEST_F(Link, CallsWithoutAFrameAreRefusedAndSendNothing)
{
    CaptureStderr();
    for (int code : {12, 13, 16, 19, 31, 33, 116, -1})
        EXPECT_EQ(pt_run(code), -1) << code;
    EXPECT_EQ(pt_set_preset(0), -1);
    EXPECT_EQ(pt_go_preset(256), -1);
    EXPECT_EQ(pt_set_link(115200, PT_PELCO_D), -1);
    EXPECT_EQ(pt_set_link(9600, 2), -1);
    EXPECT_EQ(GetCapturedStderr(), "bvptz: command 12 has no frame: not sent\n"
                                   "bvptz: command 13 has no frame: not sent\n"
                                   "bvptz: command 16 has no frame: not sent\n"
                                   "bvptz: command 19 has no frame: not sent\n"
                                   "bvptz: command 31 has no frame: not sent\n"
                                   "bvptz: command 33 has no frame: not sent\n"
                                   "bvptz: command 116 has no frame: not sent\n"
                                   "bvptz: command -1 has no frame: not sent\n"
                                   "bvptz: preset 0 not sent: presets are 1 to 255\n"
                                   "bvptz: preset 256 not sent: presets are 1 to 255\n"
                                   "bvptz: baud rate 115200 not supported (2400, 4800, 9600, "
                                   "19200)\n"
                                   "bvptz: protocol 2 not supported (0: Pelco-D, 1: Pelco-P)\n");
    // Nothing was opened or changed: the next frame is Pelco-D at 9600.
    EXPECT_EQ(pt_run(PT_CMD_STOP), 0);
    EXPECT_EQ(taken(), (Bytes{0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(port_speed(), B9600);
}

// The stop at the end: after a motion, not after a preset recall, and
// not undone by the extended commands that follow a motion.
TEST_F(Link, DeinitStopsAHeadLeftMoving)
{
    const Bytes stop = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
    const struct {
        const char *what;
        void (*calls)(void);
        int stop_arg;
        bool stopped;
    } cases[] = {
        {"pan", [] { pt_run(PT_CMD_LEFT); }, 1, true},
        {"auto scan", [] { pt_run(PT_CMD_AUTO_SCAN); }, 1, true},
        {"zoom", [] { pt_run(PT_CMD_ZOOM_OUT); }, 1, true},
        {"light after a tilt", [] { pt_run(PT_CMD_UP), pt_run(PT_CMD_LIGHT_ON); }, 1, true},
        {"stored preset after a tilt", [] { pt_run(PT_CMD_UP), pt_set_preset(2); }, 1, true},
        {"light alone", [] { pt_run(PT_CMD_LIGHT_ON); }, 1, false},
        {"stop", [] { pt_run(PT_CMD_DOWN), pt_run(PT_CMD_STOP); }, 1, false},
        {"preset recall", [] { pt_run(PT_CMD_DOWN), pt_go_preset(3); }, 1, false},
        {"left moving on purpose", [] { pt_run(PT_CMD_LEFT); }, 0, false},
    };
    for (const auto &c : cases) {
        c.calls();
        taken();
        EXPECT_EQ(pt_tty_deinit(c.stop_arg), 0) << c.what;
        EXPECT_EQ(taken(), c.stopped ? stop : Bytes{}) << c.what;
    }
    // Closed: a further deinit sends nothing, a frame opens the port again.
    EXPECT_EQ(pt_tty_deinit(1), 0);
    EXPECT_EQ(pt_run(PT_CMD_STOP), 0);
    EXPECT_EQ(taken(), stop);
}

TEST_F(Link, RS485DirectionControlIsSwitchedOnWhereThePortHasIt)
{
    rs485.supported = true;
    pt_run(PT_CMD_STOP);
    EXPECT_EQ(rs485.sets, 1);
    EXPECT_EQ(rs485.set_flags, (uint32_t)(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND));
    pt_tty_deinit(1);

    // Already on, as the board set it up (here: driver enable low when
    // sending): left as it is.
    rs485.sets = 0;
    rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND;
    pt_run(PT_CMD_STOP);
    EXPECT_EQ(rs485.sets, 0);
    pt_tty_deinit(1);

    // Refused: said so, and the frame still goes out.
    rs485.flags = 0;
    rs485.set_error = EPERM;
    CaptureStderr();
    EXPECT_EQ(pt_run(PT_CMD_STOP), 0);
    EXPECT_EQ(GetCapturedStderr(),
              "bvptz: /dev/ttyS1: RS-485 direction control not switched on: Operation not "
              "permitted\n");
    taken();
    pt_tty_deinit(1);
    EXPECT_EQ(taken(), Bytes{});
}

TEST_F(Link, PortFailuresAreReportedWithTheirReason)
{
    rs485.supported = true;
    rs485.get_error = EIO;
    CaptureStderr();
    EXPECT_EQ(pt_run(PT_CMD_UP), 0);
    // The head's end goes away: the port's writes fail from now on.
    close(master);
    master = -1;
    EXPECT_EQ(pt_run(PT_CMD_DOWN), -1);
    EXPECT_EQ(pt_tty_deinit(1), -1); // nor its stop, nor the drain
    EXPECT_EQ(GetCapturedStderr(), "bvptz: /dev/ttyS1: cannot read the RS-485 settings: "
                                   "Input/output error\n"
                                   "bvptz: cannot write to /dev/ttyS1: Input/output error\n"
                                   "bvptz: cannot write to /dev/ttyS1: Input/output error\n"
                                   "bvptz: cannot drain /dev/ttyS1: Input/output error\n");
}

TEST_F(Link, APortThatTakesNothingFailsTheFrameInsteadOfHanging)
{
    // Nobody reads the other end: the pseudo-terminal's buffers fill up.
    CaptureStderr();
    int status = 0;
    for (int i = 0; i < 100000 && status == 0; i++)
        status = pt_run(PT_CMD_STOP);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(GetCapturedStderr(),
              "bvptz: cannot write to /dev/ttyS1: nothing taken for 1000 ms\n");
    // The link still works once the head reads again.
    taken();
    while (!taken().empty()) {
    }
    EXPECT_EQ(pt_run(PT_CMD_STOP), 0);
}

} // namespace
