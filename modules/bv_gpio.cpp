// gpio: reads or writes one GPIO line of the board through the board's GPIO
// library. One run does one operation and prints its result.
#include "debug_module.h"
#include "gpio.h"
#include "osa.h"

#include <getopt.h>
#include <stdint.h>

static const char OSA_UNIT[] = "bv_gpio";

enum { GPIO_ID = 3 };
enum { GPIO_OP_READ = 0, GPIO_OP_WRITE = 1 };
static const uint32_t GPIO_WRITE_ID_MAX = 127;

// All zero at process start: with no option a run reads line 0.
static struct gpio_request {
    uint32_t op;
    uint32_t id;
    uint32_t data; // the value to write; after a read, the value read
} gpio_req;

static const char GPIO_SHORT_OPTIONS[] = "M:r:w:d:t:D:p:";

static const struct option gpio_options[] = {
    {"module", required_argument, NULL, 'M'},       {"read", required_argument, NULL, 'r'},
    {"write", required_argument, NULL, 'w'},        {"data", required_argument, NULL, 'd'},
    {"time", required_argument, NULL, 't'},         {"delay", required_argument, NULL, 'D'},
    {"input_config", required_argument, NULL, 'p'}, {NULL, 0, NULL, 0},
};
static const help_entry gpio_help[] = {
    {"module", "module name: gpio"},
    {"hex", "read gpio id, default[system_reset]"},
    {"hex", "write gpio id, default[system_reset]"},
    {"data", "data to written, defalut [0x0]"},
    {"digit", "gpio opration times, default 1, [-1] means no timeout"},
    {"digit", "gpio opration delay [n]s, n>0, default 1"},
    {"config", "gpio input config"},
};
static_assert(OPTION_ROWS(gpio_options) == ARRAY_SIZE(gpio_help), "one help row per option");

static int gpio_usage(void);

/* ---- parser ---------------------------------------------------------------- */

// Returns 0, or -1 after the report and the usage.
static int gpio_init_param(int argc, char **argv)
{
    int opt;

    opterr = 1; // getopt's own diagnostics stay on
    optind = 0;
    while ((opt = getopt_long(argc, argv, GPIO_SHORT_OPTIONS, gpio_options, NULL)) != -1) {
        int bad = 0;
        switch (opt) {
        case 'r':
            gpio_req.op = GPIO_OP_READ;
            if (!option_number(optarg, 32, &gpio_req.id)) {
                OSA_ERROR("Number out of range for -%c: %s\n", opt, optarg);
                bad = 1;
                break;
            }
            OSA_printf("===g_gpio_cfg(%d,%d)=======\n", (int)gpio_req.op, (int)gpio_req.id);
            break;
        case 'w':
        case 'p': // the same as a write
            gpio_req.op = GPIO_OP_WRITE;
            if (!option_number(optarg, 32, &gpio_req.id) || gpio_req.id > GPIO_WRITE_ID_MAX) {
                OSA_ERROR("gio id must <= %d\n", (int)GPIO_WRITE_ID_MAX);
                bad = 1;
            }
            break;
        case 'd':
            if (!option_number(optarg, 32, &gpio_req.data) || gpio_req.data > GPIO_VALUE_INPUT) {
                OSA_ERROR("gio value must be 0/1! \n");
                bad = 1;
            }
            break;
        case 't': // one operation per run, whatever the count: reaches nothing
            break;
        case 'D': {
            uint32_t delay;
            if (!option_number(optarg, 32, &delay) || delay == 0) {
                OSA_ERROR("gio delay time must > 0! \n");
                bad = 1;
            }
            break;
        }
        case '?':
            OSA_ERROR("Unknow option\n");
            bad = 1;
            break;
        default: // -M
            break;
        }
        if (bad) {
            gpio_usage();
            return -1;
        }
    }
    return 0;
}

/* ---- actions --------------------------------------------------------------- */

// The library's results are not looked at: a failed read reads as -1.
static int gpio_do_rw(gpio_request *req)
{
    if (req->op == GPIO_OP_READ)
        req->data = (uint32_t)gpio_read(req->id);
    else
        gpio_write(req->id, req->data);
    return 0;
}

/* ---- operations ------------------------------------------------------------ */

static int gpio_run(int argc, char **argv)
{
    if (gpio_init_param(argc, argv) == 0) {
        gpio_do_rw(&gpio_req);
        OSA_printf("GPIO %s id = %d, data = %d\n", gpio_req.op == GPIO_OP_READ ? "read" : "write",
                   (int)gpio_req.id, (int)gpio_req.data);
    }
    gpio_close();
    return 0;
}

static int gpio_usage(void)
{
    module_print_usage(GPIO_ID, gpio_options, gpio_help, ARRAY_SIZE(gpio_help));
    return 0;
}

static debug_module gpio_module = {"gpio", GPIO_ID, gpio_run, gpio_usage, gpio_close};

MODULE_REGISTER(gpio_module)
