// Test-only modules for the framework's end-to-end tests. They are linked
// into the test build debug_fw only, never into the shipped debug.
#include "debug_module.h"
#include "osa.h"

#include <errno.h>
#include <string.h>

// echo: shows the argument vector the module receives.
static int echo_run(int argc, char **argv)
{
    OSA_printf("echo: argc=%d\n", argc);
    for (int i = 0; i < argc; i++)
        OSA_printf("echo: argv[%d]=%s\n", i, argv[i]);
    return 0;
}

// loop: polls stop_flag like the long-running modules do.
static int loop_run(int, char **)
{
    OSA_printf("loop: running\n");
    for (int i = 0; i < 600 && !stop_flag; i++)
        OSA_sleepMs(100);
    OSA_printf("loop: stopped\n");
    return 0;
}

// fail: a run that fails; its release must then not be called.
static int fail_run(int, char **)
{
    OSA_printf("fail: run returns -1\n");
    return -1;
}

// shell: a command running while the tool gets a signal, then a command
// that changes something, which must not start after the stop.
static int shell_run(int, char **)
{
    OSA_printf("shell: running\n");
    int status = OSA_system("echo child started; sleep 30; echo child done");
    OSA_printf("shell: status %d, stop_flag %d\n", status, (int)stop_flag);
    status = OSA_systemUnlessStopped("echo changed something");
    OSA_printf("shell: then %d (%s)\n", status, strerror(errno));
    return 0;
}

static int quiet_run(int, char **) { return 0; }

static int fail_release(void) { return OSA_printf("fail: release\n"); }
static int rel_release(void) { return OSA_printf("rel: release\n"); }
static int opts_release(void) { return OSA_printf("opts: release\n"); }

// opts: a usage with letter, numbered and label-less rows.
static const struct option opts_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"count", required_argument, NULL, 'c'},
    {"init", no_argument, NULL, 1},
    {"zero", no_argument, NULL, 0},
    {"Verbose", no_argument, NULL, 'V'},
    {NULL, 0, NULL, 0},
};
static const help_entry opts_help[] = {
    {"module", "module name: opts"},
    {"digit", "how many times, default [1]"},
    {"", "init the device."},
    {"", "value zero"},
    {"", "upper-case letter"},
};
static_assert(OPTION_ROWS(opts_options) == ARRAY_SIZE(opts_help), "one help row per option");

static int opts_usage(void)
{
    module_print_usage(24, opts_options, opts_help, ARRAY_SIZE(opts_help));
    return 0;
}

static int plain_usage(void)
{
    OSA_printf("(usage of a test module)\n");
    return 0;
}

static debug_module echo_module = {"echo", 1, echo_run, plain_usage, NULL};
static debug_module rel_module = {"rel", 3, quiet_run, plain_usage, rel_release};
static debug_module loop_module = {"loop", 5, loop_run, plain_usage, NULL};
static debug_module fail_module = {"fail", 6, fail_run, plain_usage, fail_release};
static debug_module shell_module = {"shell", 6, shell_run, plain_usage, NULL};
static debug_module twin_module = {"twin", 7, quiet_run, plain_usage, NULL};
// Same name but for letter case: refused, twin stays.
static debug_module twin_upper_module = {"TWIN", 8, quiet_run, plain_usage, NULL};
static debug_module opts_module = {"opts", 24, quiet_run, opts_usage, opts_release};

MODULE_REGISTER(echo_module)
MODULE_REGISTER(rel_module)
MODULE_REGISTER(loop_module)
MODULE_REGISTER(fail_module)
MODULE_REGISTER(shell_module)
MODULE_REGISTER(twin_module)
MODULE_REGISTER(twin_upper_module)
MODULE_REGISTER(opts_module)
