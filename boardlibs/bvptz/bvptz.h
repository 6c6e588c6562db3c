/*
 * The camera's PTZ library: drives a pan-tilt-zoom head on the board's
 * RS-485 serial port in the Pelco-D or Pelco-P protocol. Every call builds
 * one frame for the head, camera 1 (address 1 in Pelco-D, 0 in Pelco-P),
 * and writes it at once; nothing is read back. The port is opened by the
 * first frame and kept open until pt_tty_deinit().
 *
 * All calls return 0, or -1 after a message on standard error (prefix
 * "bvptz: ") saying what failed and why.
 */
#ifndef BVPTZ_H
#define BVPTZ_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Command codes of pt_run(). */
enum pt_command {
    PT_CMD_UP = 0,
    PT_CMD_DOWN = 1,
    PT_CMD_LEFT = 2,
    PT_CMD_RIGHT = 3,
    PT_CMD_UPLEFT = 4,
    PT_CMD_DOWNRIGHT = 5,
    PT_CMD_DOWNLEFT = 6,
    PT_CMD_UPRIGHT = 7,
    PT_CMD_IRIS_IN = 8,  /* iris close */
    PT_CMD_IRIS_OUT = 9, /* iris open */
    PT_CMD_ZOOM_IN = 10, /* zoom tele */
    PT_CMD_ZOOM_OUT = 11,
    PT_CMD_FOCUS_IN = 14, /* focus near */
    PT_CMD_FOCUS_OUT = 15,
    PT_CMD_AUTO_FOCUS = 17,
    PT_CMD_RESET_FOCUS = 18,
    PT_CMD_AUTO_SCAN = 21,
    PT_CMD_LIGHT_ON = 27,
    PT_CMD_LIGHT_OFF = 28,
    PT_CMD_WIPER_ON = 29,
    PT_CMD_WIPER_OFF = 30,
    PT_CMD_STOP = 32,
};

/* Protocols of pt_set_link(). */
#define PT_PELCO_D 0u
#define PT_PELCO_P 1u

/*
 * Pan and tilt speeds of the motion frames that follow, on the protocols'
 * scale 0 (slowest) to 0x3F (fastest); larger values count as 0x3F.
 * Sends nothing.
 */
int pt_set_speed(uint32_t pan_speed, uint32_t tilt_speed);

/*
 * Link settings: baud rate 2400, 4800, 9600 (the default) or 19200, and
 * protocol PT_PELCO_D (the default) or PT_PELCO_P. An open port is set to
 * the new rate once the frames already written have left it. Frames sent
 * after the call use the new settings. Anything else is refused and
 * changes nothing.
 */
int pt_set_link(uint32_t baudrate, uint32_t protocol);

/* Preset positions 1 to 255: store, clear, go to. Others are refused. */
int pt_set_preset(unsigned long preset);
int pt_remove_preset(unsigned long preset);
int pt_go_preset(unsigned long preset);

/*
 * Starts one command (enum pt_command) and returns at once: a motion goes
 * on until the next command.
 */
int pt_run(int command);

/*
 * Releases the link: with stop non-zero, a head that the last command left
 * moving is stopped first. Waits until everything written has left the
 * port, then closes it. A later frame opens the port again.
 */
int pt_tty_deinit(int stop);

#ifdef __cplusplus
}
#endif

#endif
