// The PTZ library's frame builder driven through its calls: speeds, link,
// commands and presets in any order and with any values. Every frame sent
// is checked as it comes out of the port (a pipe here): its protocol's
// length, sync byte, receiver address and checksum, and nothing is sent
// for a call that fails.
#include "bvptz.cpp"
#include "fuzz.h"

#include <fcntl.h>

static int port_out = -1;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    int fds[2];
    if (pipe2(fds, O_NONBLOCK) != 0)
        fuzz_fail(__FILE__, __LINE__, "pipe");
    port_out = fds[0];
    pt_link.fd = fds[1]; // counts as the open port
    FUZZ_KEEP(pt_link);
    return 0;
}

static void check_frame(const uint8_t *frame, ssize_t len, uint32_t protocol)
{
    if (protocol == PT_PELCO_P) {
        FUZZ_CHECK(len == 8 && frame[0] == P_STX && frame[6] == P_ETX);
        uint8_t check = 0;
        for (int i = 0; i < 7; i++)
            check ^= frame[i];
        FUZZ_CHECK(frame[7] == check);
    } else {
        FUZZ_CHECK(len == 7 && frame[0] == D_SYNC);
        unsigned sum = 0;
        for (int i = 1; i < 6; i++)
            sum += frame[i];
        FUZZ_CHECK(frame[6] == (uint8_t)sum);
    }
    FUZZ_CHECK(frame[1] == (protocol == PT_PELCO_P ? P_ADDRESS : D_ADDRESS));
}

// One call from five bytes: which call, then its values.
static int one_call(const uint8_t *b)
{
    static const uint32_t rates[] = {2400, 4800, 9600, 19200};
    uint32_t value = (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
    switch (b[0] % 6) {
    case 0:
        return pt_set_speed(b[1], b[2]);
    case 1:
        // Only the current rate: a new one would set up a terminal.
        return pt_set_link(b[1] & 1 ? pt_link.baudrate : rates[b[1] % 4], b[2] % 3);
    case 2:
        return pt_run((int)(int8_t)b[1]);
    case 3:
        return pt_set_preset(value & 0x1FF);
    case 4:
        return pt_remove_preset(b[1]);
    default:
        return pt_go_preset(b[4] ? value : b[1]);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_restore();
    for (size_t at = 0; at + 5 <= size; at += 5) {
        uint32_t protocol = pt_link.protocol;
        int result = one_call(data + at);
        uint8_t frame[16];
        ssize_t len = read(port_out, frame, sizeof frame);
        if (result != 0 || (data[at] % 6) <= 1) {
            FUZZ_CHECK(len < 0); // nothing sent
            continue;
        }
        check_frame(frame, len, protocol);
    }
    return 0;
}
