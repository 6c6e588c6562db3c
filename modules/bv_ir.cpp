// ir: the night-vision lighting's switching test. Switches the IR LED on and
// off a set number of times at a set interval through its GPIO line, calls
// the IR-cut filter's switch hook in step, and reports the test date and its
// duration on the console and in the debug log.
#include "debug_module.h"
#include "gpio.h"
#include "osa.h"

#include <getopt.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static const char OSA_UNIT[] = "bv_ir";

enum { IR_ID = 15 };
enum { IR_MODE_LED_ON, IR_MODE_LED_OFF, IR_MODE_SAME, IR_MODE_OPPOSITE, IR_MODE_MAX = 3 };
enum { IR_REPORT_SIZE = 1024 }; // the log record, zero-padded

static struct ir_settings {
    uint32_t mode;
    uint32_t delay; // milliseconds between LED switches, never 0
    int32_t times;  // LED switches; -1: until stopped
} ir_settings = {IR_MODE_LED_ON, 500, 10};

static const char IR_SHORT_OPTIONS[] = "M:l:c:m:t:d:";

static const struct option ir_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"ir-led", required_argument, NULL, 'l'},
    {"ir-cut", required_argument, NULL, 'c'},
    {"mode", required_argument, NULL, 'm'},
    {"time", required_argument, NULL, 't'},
    {"delay", required_argument, NULL, 'd'},
    {NULL, 0, NULL, 0},
};
static const help_entry ir_help[] = {
    {"module", "module name: IR"},
    {"hex", "set IR-led status"},
    {"hex", "set IR-cut status"},
    {"digit", "IR test mode"},
    {"digit", "IR opration times, default 10, [-1] means no timeout"},
    {"digit", "IR opration delay [n]ms, n>0, default 500"},
};
static_assert(OPTION_ROWS(ir_options) == ARRAY_SIZE(ir_help), "one help row per option");

static int ir_usage(void);

/* ---- parser ---------------------------------------------------------------- */

// A bad option ends the process after the usage, before any LED switch.
static void ir_init_param(int argc, char **argv)
{
    int error = 0;
    int opt;

    opterr = 1; // getopt's own diagnostics stay on
    optind = 0;
    while (!error && (opt = getopt_long(argc, argv, IR_SHORT_OPTIONS, ir_options, NULL)) != -1) {
        switch (opt) {
        case 'm':
            if (!option_number(optarg, 32, &ir_settings.mode) || ir_settings.mode > IR_MODE_MAX) {
                OSA_ERROR("Invalid mode value.");
                error = 1;
            }
            break;
        case 't': {
            uint32_t times;
            if (!option_number(optarg, 32, &times)) {
                OSA_ERROR("Number out of range for -%c: %s\n", opt, optarg);
                error = 1;
            }
            ir_settings.times = (int32_t)times;
            break;
        }
        case 'd':
            if (!option_number(optarg, 32, &ir_settings.delay) || ir_settings.delay == 0) {
                OSA_ERROR("Invalid delay value.");
                error = 1;
            }
            break;
        case '?':
            OSA_ERROR("Unknow option\n");
            error = 1;
            break;
        default: // -M, -l and -c change nothing
            break;
        }
    }
    if (error) {
        ir_usage();
        exit(-1);
    }
}

/* ---- actions --------------------------------------------------------------- */

// The line is taken from the board's descriptor at every write.
static void ir_led_write(uint32_t value)
{
    gpio_write(extGpio.ir_led, value);
}

// The IR-cut filter's switch hook: this board switches the filter itself.
static void ir_cut_switch(int state)
{
    (void)state;
}

/* ---- operations ------------------------------------------------------------ */

static int ir_run(int argc, char **argv)
{
    int led_state = 0; // the next LED write
    char report[IR_REPORT_SIZE];
    memset(report, 0, sizeof report);

    ir_init_param(argc, argv);
    time_t now = time(NULL);
    struct tm date;
    localtime_r(&now, &date);
    char date_text[32]; // asctime's text, which ends in a newline
    asctime_r(&date, date_text);

    if (ir_settings.mode == IR_MODE_LED_ON)
        ir_cut_switch(1);
    else if (ir_settings.mode == IR_MODE_LED_OFF)
        ir_cut_switch(0);
    uint32_t start = OSA_timeNowMs();
    while (!stop_flag && ir_settings.times != 0) {
        if (ir_settings.times != -1)
            ir_settings.times--;
        ir_led_write((uint32_t)led_state);
        led_state = !led_state;
        OSA_sleepMs(ir_settings.delay);
        if (ir_settings.mode == IR_MODE_SAME || ir_settings.mode == IR_MODE_OPPOSITE)
            ir_cut_switch(led_state);
    }
    int32_t seconds = (int32_t)(OSA_timeNowMs() - start) / 1000;

    snprintf(report, sizeof report, "Test date: %s\t IR-cut result: success\n\t use time: %ds \n",
             date_text, (int)seconds);
    OSA_log(report, sizeof report);
    snprintf(report, sizeof report,
             "\33[0;32mTest date: %s\t IR-cut result: success\n\t use time: %ds \n\33[0;39m \n",
             date_text, (int)seconds);
    OSA_printf("%s", report);
    return 0;
}

static int ir_usage(void)
{
    module_print_usage(IR_ID, ir_options, ir_help, ARRAY_SIZE(ir_help));
    OSA_printf("\nIR test mode: \n");
    OSA_printf("IR-led on, switch IR-cut \n");
    OSA_printf("IR-led off, switch IR-cut \nswitch IR-cut and IR-led, on the same\n"
               "switch IR-cut and IR-led, diffrent each other\n");
    return 0;
}

static debug_module ir_module = {"ir", IR_ID, ir_run, ir_usage, NULL};

MODULE_REGISTER(ir_module)
