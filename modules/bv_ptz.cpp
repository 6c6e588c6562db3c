// ptz: drives the pan-tilt-zoom head on the RS-485 link through the PTZ
// library. Presets are stored, cleared and recalled while the command line
// is read; then one motion, lens, light or wiper command runs for a fixed
// time, or the built-in test sequence moves the head every way and
// switches the light and the wiper. The library builds the frames; this
// module decides what to call, in which order, and how long to wait.
#include "bvptz.h"
#include "debug_module.h"
#include "osa.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>

static const char OSA_UNIT[] = "bv_ptz";

enum { PTZ_ID = 7 };

// command: what runs after parsing; the letter t plays the test sequence.
static const int32_t PTZ_TEST_ALL = 't';

static struct ptz_settings {
    int32_t command;
    uint32_t baudrate;
    uint32_t protocol;
    uint32_t speed1;
    uint32_t speed2;
    uint32_t run_delay; // seconds after each command; the help's "[5]s" is not what runs
} ptz_settings = {PTZ_TEST_ALL, 9600, PT_PELCO_D, 38, 38, 50};

static const char PTZ_SHORT_OPTIONS[] = "M:d:S:B:P:s:c:g:t";

// The command options carry their pt_run() code as value.
static const struct option ptz_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"delay", required_argument, NULL, 'd'},
    {"speed", required_argument, NULL, 'S'},
    {"baudrate", required_argument, NULL, 'B'},
    {"protocol", required_argument, NULL, 'P'},
    {"spreset", required_argument, NULL, 's'},
    {"cpreset", required_argument, NULL, 'c'},
    {"gpreset", required_argument, NULL, 'g'},
    {"testall", no_argument, NULL, 't'},
    {"up", no_argument, NULL, PT_CMD_UP},
    {"upleft", no_argument, NULL, PT_CMD_UPLEFT},
    {"upright", no_argument, NULL, PT_CMD_UPRIGHT},
    {"down", no_argument, NULL, PT_CMD_DOWN},
    {"downleft", no_argument, NULL, PT_CMD_DOWNLEFT},
    {"downright", no_argument, NULL, PT_CMD_DOWNRIGHT},
    {"auto", no_argument, NULL, PT_CMD_AUTO_SCAN},
    {"stop", no_argument, NULL, PT_CMD_STOP},
    {"zoomin", no_argument, NULL, PT_CMD_ZOOM_IN},
    {"zoomout", no_argument, NULL, PT_CMD_ZOOM_OUT},
    {"irisin", no_argument, NULL, PT_CMD_IRIS_IN},
    {"irisout", no_argument, NULL, PT_CMD_IRIS_OUT},
    {"focusin", no_argument, NULL, PT_CMD_FOCUS_IN},
    {"focusout", no_argument, NULL, PT_CMD_FOCUS_OUT},
    {"autofocus", no_argument, NULL, PT_CMD_AUTO_FOCUS},
    {"rstfocus", no_argument, NULL, PT_CMD_RESET_FOCUS},
    {"lightoff", no_argument, NULL, PT_CMD_LIGHT_OFF},
    {"lighton", no_argument, NULL, PT_CMD_LIGHT_ON},
    {"brushoff", no_argument, NULL, PT_CMD_WIPER_OFF},
    {"brushon", no_argument, NULL, PT_CMD_WIPER_ON},
    {NULL, 0, NULL, 0},
};
// Paired by position: the light and brush rows print each other's text.
static const help_entry ptz_help[] = {
    {"module", "module name: ptz"},
    {"digit", "Set ptz run delay [n]s, default [5]s"},
    {"digit", "Set ptz speed percentage[0 - 100] default 50"},
    {"digit", "Set rs485 baudrate default[9600] [2400 4800 9600 19200]"},
    {"digit", "Set ptz protocol default[0], 0: PELCO_D, 1: PELCO_P"},
    {"digit", "Set ptz preset position"},
    {"digit", "Clean ptz preset position"},
    {"digit", "Goto ptz preset position"},
    {"", "PTZ test all function, default will test all"},
    {"", "PTZ run top"},
    {"", "PTZ run top left"},
    {"", "PTZ run top right"},
    {"", "PTZ run bottom "},
    {"", "PTZ run bottom left"},
    {"", "PTZ run bottom right"},
    {"", "PTZ run auto scanning"},
    {"", "PTZ stop running all"},
    {"", "PTZ run zoom in"},
    {"", "PTZ run zoom out"},
    {"", "PTZ run iris in"},
    {"", "PTZ run iris out"},
    {"", "PTZ run focus in"},
    {"", "PTZ run focus out"},
    {"", "PTZ run auto focus"},
    {"", "PTZ run reset focus"},
    {"", "PTZ run light on"},
    {"", "PTZ run light off"},
    {"", "PTZ run brush on"},
    {"", "PTZ run brush off"},
};
static_assert(OPTION_ROWS(ptz_options) == ARRAY_SIZE(ptz_help), "one help row per option");
static_assert(ARRAY_SIZE(ptz_help) == 29, "the usage prints 29 rows");

// Codes the parser takes for command: 0-11, 14, 15, 17, 18, 21, 27-30, 32.
static const uint64_t PTZ_CODES = 0xFFFull | 1ull << 14 | 1ull << 15 | 1ull << 17 | 1ull << 18 |
                                  1ull << 21 | 0xFull << 27 | 1ull << 32;
static const int PTZ_CODE_MAX = 32;

// The test sequence, then auto scanning for AUTO_SCAN_SECONDS.
static const int ptz_sequence[] = {
    PT_CMD_UP,       PT_CMD_DOWN,      PT_CMD_UP,        PT_CMD_LEFT,      PT_CMD_RIGHT,
    PT_CMD_LEFT,     PT_CMD_UPRIGHT,   PT_CMD_DOWNRIGHT, PT_CMD_UPLEFT,    PT_CMD_DOWNLEFT,
    PT_CMD_LIGHT_ON, PT_CMD_LIGHT_OFF, PT_CMD_WIPER_ON,  PT_CMD_WIPER_OFF,
};
static_assert(ARRAY_SIZE(ptz_sequence) == 14, "fourteen steps");
static const uint32_t AUTO_SCAN_SECONDS = 15;

static const uint32_t ptz_baudrates[] = {2400, 4800, 9600, 19200};

static int ptz_usage(void);

/* ---- parser ---------------------------------------------------------------- */

static unsigned long ptz_number(const char *text)
{
    return strtoul(text, NULL, 0);
}

static int ptz_baudrate_valid(unsigned long value)
{
    for (uint32_t b : ptz_baudrates)
        if (value == b)
            return 1;
    return 0;
}

// Values are checked as converted, before they are cut to the fields' 32
// bits: 4294977896 is not 9600.
static int ptz_init_param(int argc, char **argv)
{
    int error = 0;
    int opt;

    opterr = 1; // getopt's own diagnostics come first
    optind = 0; // a scan of its own, whatever ran before
    while (!error && (opt = getopt_long(argc, argv, PTZ_SHORT_OPTIONS, ptz_options, NULL)) != -1) {
        unsigned long value = 0;
        switch (opt) {
        case 't':
            ptz_settings.command = PTZ_TEST_ALL;
            break;
        case 's':
            pt_set_preset(ptz_number(optarg));
            break;
        case 'c':
            pt_remove_preset(ptz_number(optarg));
            break;
        case 'g':
            pt_go_preset(ptz_number(optarg));
            break;
        case 'S':
            value = ptz_number(optarg);
            ptz_settings.speed1 = ptz_settings.speed2 = (uint32_t)value;
            if (value > 9) {
                OSA_ERROR("Error speed!\r\n");
                error = 1;
                break;
            }
            ptz_settings.speed1++;
            ptz_settings.speed2++;
            break;
        case 'B':
            value = ptz_number(optarg);
            ptz_settings.baudrate = (uint32_t)value;
            if (!ptz_baudrate_valid(value)) {
                OSA_ERROR("Error baudrate!\r\n");
                error = 1;
                break;
            }
            pt_set_link(ptz_settings.baudrate, ptz_settings.protocol);
            break;
        case 'P':
            value = ptz_number(optarg);
            ptz_settings.protocol = (uint32_t)value;
            if (value > PT_PELCO_P) {
                OSA_ERROR("Error procotol\r\n");
                error = 1;
                break;
            }
            pt_set_link(ptz_settings.baudrate, ptz_settings.protocol);
            break;
        case 'M':
        case 'd':
            break;
        case '?':
            OSA_ERROR("Unknow option\n");
            error = 1;
            break;
        default:
            if (opt >= 0 && opt <= PTZ_CODE_MAX && (PTZ_CODES >> opt & 1))
                ptz_settings.command = opt;
            break;
        }
    }
    if (error) {
        // What the library was already told stands; the link is left as it is.
        ptz_usage();
        exit(-1);
    }
    return 0;
}

/* ---- actions --------------------------------------------------------------- */

// -1 as soon as a stop was asked for (checked once a second), else 0.
static int wait_seconds(uint32_t seconds)
{
    for (uint32_t i = 0; i < seconds; i++) {
        if (stop_flag)
            return -1;
        OSA_sleepMs(1000);
    }
    return 0;
}

static int ptz_test_all(void)
{
    for (int code : ptz_sequence) {
        pt_run(code);
        if (wait_seconds(ptz_settings.run_delay) != 0)
            return -1;
    }
    pt_run(PT_CMD_AUTO_SCAN);
    return wait_seconds(AUTO_SCAN_SECONDS);
}

/* ---- operations ------------------------------------------------------------ */

// An interrupted wait still ends with the link released, and the run
// counts as done.
static int ptz_run(int argc, char **argv)
{
    pt_set_speed(ptz_settings.speed1, ptz_settings.speed2);
    ptz_init_param(argc, argv);
    if (ptz_settings.command == PTZ_TEST_ALL) {
        ptz_test_all();
    } else {
        pt_run(ptz_settings.command);
        wait_seconds(ptz_settings.run_delay);
    }
    pt_tty_deinit(1);
    return 0;
}

static int ptz_usage(void)
{
    module_print_usage(PTZ_ID, ptz_options, ptz_help, ARRAY_SIZE(ptz_help));
    return 0;
}

static debug_module ptz_module = {"ptz", PTZ_ID, ptz_run, ptz_usage, NULL};

MODULE_REGISTER(ptz_module)
