// motor: moves the lens's focus, zoom or P-iris stepper through the board's
// stepper library. A P-iris duty on the command line is applied while the
// line is parsed; every valid command line ends with one stepper run.
#include "debug_module.h"
#include "osa.h"
#include "stepper.h"

#include <getopt.h>
#include <stdint.h>
#include <stdlib.h>

static const char OSA_UNIT[] = "bv_motor";

enum { MOTOR_ID = 9 };
enum { MOTOR_POLL_MS = 5 }; // between two looks at a moving P-iris

// With no option: the focus, 10 steps forward.
static stepper_request stepper_req = {STEPPER_FOCUS, STEPPER_FORWARD, 10};

static const char MOTOR_SHORT_OPTIONS[] = "M:t:d:s:i:p:";

static const struct option motor_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"type", required_argument, NULL, 't'},
    {"dir", required_argument, NULL, 'd'},
    {"step", required_argument, NULL, 's'},
    {"init", required_argument, NULL, 'i'},
    {"piris", required_argument, NULL, 'p'},
    {NULL, 0, NULL, 0},
};
static const help_entry motor_help[] = {
    {"module", "module name: motor"},
    {"digit", "motor type, default[0]:focus"},
    {"digit", "motor directory, default[0]:forward , value[0:forward]"},
    {"digit", "motor run steps, default[10]"},
    {"digit", "motor initial"},
    {"digit", "P-iris target duty"},
};
static_assert(OPTION_ROWS(motor_options) == ARRAY_SIZE(motor_help), "one help row per option");

static int motor_usage(void);

/* ---- parser ---------------------------------------------------------------- */

// Base from the text (decimal, 0x hex, 0 octal); 0 when it is no number.
static uint64_t motor_number(const char *text)
{
    return strtoull(text, NULL, 0);
}

// Moves the P-iris to the duty and waits until it is at rest there. A
// signal ends the wait, and the library stops the P-iris at its close.
static void motor_set_piris(uint32_t duty)
{
    if (stop_flag)
        return;
    STEPPER_set_piris_duty(duty);
    do
        OSA_sleepMs(MOTOR_POLL_MS);
    while (STEPPER_check_busy(STEPPER_PIRIS) != 0 && !stop_flag);
}

// A bad value ends the process after the report and the usage; a P-iris
// duty applied before it stays applied.
// SET_PIRIS applies a P-iris duty at once: the fuzz target parses without it.
static int motor_init_param(int argc, char **argv,
                            void (*set_piris)(uint32_t) = motor_set_piris)
{
    int opt;

    opterr = 1; // getopt's own diagnostics stay on
    optind = 0;
    while ((opt = getopt_long(argc, argv, MOTOR_SHORT_OPTIONS, motor_options, NULL)) != -1) {
        int bad = 0;
        switch (opt) {
        case 't':
            if (!option_number(optarg, 32, &stepper_req.type) || stepper_req.type > STEPPER_PIRIS) {
                OSA_ERROR("Error motor type!\n");
                bad = 1;
            }
            break;
        case 'd':
            if (!option_number(optarg, 32, &stepper_req.dir) || stepper_req.dir > STEPPER_HOME) {
                OSA_ERROR("Error motor directory!\n");
                bad = 1;
            }
            break;
        case 's':
            stepper_req.steps = motor_number(optarg);
            break;
        case 'p': {
            uint32_t bits;
            int fits = option_number(optarg, 32, &bits);
            int32_t duty = (int32_t)bits; // read as signed: "-1" is no duty
            if (!fits || duty < 0 || duty > (int32_t)STEPPER_PIRIS_TRAVEL) {
                OSA_ERROR("Error P-iris duty!\n");
                bad = 1;
            } else {
                set_piris((uint32_t)duty);
            }
            break;
        }
        case '?':
            OSA_ERROR("Unknow option\n");
            bad = 1;
            break;
        default: // -M, and -i, whose value changes nothing
            break;
        }
        if (bad) {
            motor_usage();
            exit(-1);
        }
    }
    return 0;
}

/* ---- operations ------------------------------------------------------------ */

// A signal that ended the P-iris wait ends the run before its move; one
// during the move stops it, which the library answers as a failed run. Both
// are said as what they are: the stop the user asked for.
static int motor_test_main(int argc, char **argv)
{
    motor_init_param(argc, argv);
    if (stop_flag) {
        OSA_ERROR("stopped by a signal before the move: STEPPER_run skipped (type %u, dir %u, "
                  "steps %llu)\n",
                  stepper_req.type, stepper_req.dir, (unsigned long long)stepper_req.steps);
    } else {
        int result = STEPPER_run(&stepper_req);
        if (result != 0)
            OSA_ERROR("STEPPER_run failed! \n");
        if (result == STEPPER_STOPPED)
            OSA_ERROR("the move was stopped by a signal, as asked: not a motor fault\n");
    }
    STEPPER_close();
    return 0;
}

static const char *const motor_arguments[] = {
    "MOTOR arguments: ",
    "type:",
    "    [0]: focus, [1]: zoom, [2]: p-iris",
    "dir:",
    "    [0]: forward, [1]: back ",
    "step:",
    "    motor run steps",
};

static int motor_usage(void)
{
    module_print_usage(MOTOR_ID, motor_options, motor_help, ARRAY_SIZE(motor_help));
    for (const char *line : motor_arguments)
        OSA_puts(line);
    OSA_printf("    For zoom: max steps = %u\n", STEPPER_ZOOM_TRAVEL);
    OSA_printf("    For focus: max steps = %u\n", STEPPER_FOCUS_TRAVEL);
    OSA_printf("    For piris: max steps = %u\n", STEPPER_PIRIS_TRAVEL);
    OSA_puts("piris:");
    OSA_printf("    motor set p-iris duty[0-%u].\n", STEPPER_PIRIS_TRAVEL);
    OSA_puts("");
    return 0;
}

static debug_module motor_module = {"motor", MOTOR_ID, motor_test_main, motor_usage, NULL};

MODULE_REGISTER(motor_module)
