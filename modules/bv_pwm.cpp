// pwm: reads or sets one channel of the board's pulse-width modulator
// through the board's PWM library. One run makes at most one library call.
#include "debug_module.h"
#include "osa.h"
#include "pwm.h"

#include <getopt.h>
#include <stdint.h>
#include <stdlib.h>

static const char OSA_UNIT[] = "bv_pwm";

enum { PWM_ID = 4 };
enum { PWM_MODE_NONE = 0, PWM_MODE_READ = 1, PWM_MODE_WRITE = 2 };

static struct pwm_request {
    int32_t channel;
    int32_t duty;   // tenths of a percent
    int32_t period; // nanoseconds, the library's unit
    int32_t enable; // 0 forces the duty to 0; never handed on
} pwm_req = {0, 500, 100000, 1};

static const char PWM_SHORT_OPTIONS[] = "M:c:d:p:e:";

static const struct option pwm_options[] = {
    {"module", required_argument, NULL, 'M'}, {"channel", required_argument, NULL, 'c'},
    {"duty", required_argument, NULL, 'd'},   {"period", required_argument, NULL, 'p'},
    {"enable", required_argument, NULL, 'e'}, {NULL, 0, NULL, 0},
};
static const help_entry pwm_help[] = {
    {"module", "module name: pwm"},
    {"0~PWM_MAX_CHN", "select pwm channel (default is 0)"},
    {"1~1000", "specify duty ratio (0.1% ~ 99.9%), (defalut 500)"},
    {"2~12M", "specify period, (defalut 100K)"},
    {"0~1", "enable switch."},
};
static_assert(OPTION_ROWS(pwm_options) == ARRAY_SIZE(pwm_help), "one help row per option");

static int pwm_usage(void);

/* ---- parser ---------------------------------------------------------------- */

// Returns what to do: nothing, read or write. A bad option ends the process.
static int pwm_init_param(int argc, char **argv)
{
    int mode = PWM_MODE_NONE;
    int opt;

    opterr = 0; // unknown options are reported here alone
    optind = 0;
    while ((opt = getopt_long(argc, argv, PWM_SHORT_OPTIONS, pwm_options, NULL)) != -1) {
        int bad = 1;
        switch (opt) {
        case 'M':
            bad = 0;
            break;
        case 'c':
            mode = PWM_MODE_READ;
            if (option_decimal(optarg, &pwm_req.channel) && pwm_req.channel >= 0)
                bad = 0;
            else
                OSA_ERROR("Error pwm channel\n");
            break;
        case 'd':
            mode = PWM_MODE_WRITE;
            if (option_decimal(optarg, &pwm_req.duty) && pwm_req.duty > 0)
                bad = 0;
            else
                OSA_ERROR("Error pwm duty\n");
            break;
        case 'p':
            mode = PWM_MODE_WRITE;
            if (option_decimal(optarg, &pwm_req.period) && pwm_req.period > 0)
                bad = 0;
            else
                OSA_ERROR("Error pwm period\n");
            break;
        case 'e':
            mode = PWM_MODE_WRITE;
            if (!option_decimal(optarg, &pwm_req.enable))
                pwm_req.enable = -1; // refused below, duty untouched
            if (pwm_req.enable == 0)
                pwm_req.duty = 0;
            if (pwm_req.enable == 0 || pwm_req.enable == 1)
                bad = 0;
            else
                OSA_ERROR("Error pwm enable switch, range 0-1\n");
            break;
        default: // unknown options and missing values
            OSA_ERROR("Unknow option\n");
            break;
        }
        if (bad) {
            pwm_usage();
            exit(-1);
        }
    }
    return mode;
}

/* ---- operations ------------------------------------------------------------ */

// The library's results are not looked at: it reports its own failures.
static int pwm_run(int argc, char **argv)
{
    switch (pwm_init_param(argc, argv)) {
    case PWM_MODE_READ:
        pwm_read(pwm_req.channel);
        break;
    case PWM_MODE_WRITE:
        pwm_write(pwm_req.channel, pwm_req.period, pwm_req.duty);
        break;
    default:
        break;
    }
    return 0;
}

static int pwm_usage(void)
{
    module_print_usage(PWM_ID, pwm_options, pwm_help, ARRAY_SIZE(pwm_help));
    OSA_printf("\nNotice:\n");
    OSA_printf("\tUse lsmod to make sure pwm module has been installed.\n");
    OSA_printf("\n");
    return 0;
}

static debug_module pwm_module = {"pwm", PWM_ID, pwm_run, pwm_usage, pwm_close};

MODULE_REGISTER(pwm_module)
