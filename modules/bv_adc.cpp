// adc: samples the photodiode's ADC channel through the industrial-I/O sysfs
// files and prints scaled readings, or hands day/night exposure thresholds,
// a sensitivity, a debug switch or an information request to the camera's
// light-control process. One run does one of the two: a request formed by
// the options is published and nothing is sampled.
#include "debug_module.h"
#include "osa.h"
#include "peripheral_request.h"

#include <errno.h>
#include <getopt.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char OSA_UNIT[] = "bv_adc";

enum { ADC_ID = 2 };

static struct adc_settings {
    uint32_t channel;
    int32_t times;  // -1: sample until stopped
    uint32_t delay; // milliseconds between cycles, never 0
} adc_settings = {0, -1, 1000};

// All zero at process start; only the parser writes it.
static adc_request adc_req;

static const struct adc_channel {
    const char *path;
    const char *open_error;
    const char *description; // NULL: reserve
} adc_channels[] = {
    {"/sys/bus/iio/devices/iio:device0/in_voltage0_raw", "open ADC_CHN_A error!!!",
     "Photodiode AD sampling"},
    {"/sys/bus/iio/devices/iio:device0/in_voltage1_raw", "open ADC_B_DVE_NAME error!!!", NULL},
    {"/sys/bus/iio/devices/iio:device0/in_voltage2_raw", "open ADC_C_DVE_NAME error!!!", NULL},
};

static const char ADC_SHORT_OPTIONS[] = "M:c:t:d:N:D:s:g:i";

// The long names "debug switch" and "info " are matched as written, blank
// included; rows 7 and 8 carry each other's help text.
static const struct option adc_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"channel", required_argument, NULL, 'c'},
    {"times", required_argument, NULL, 't'},
    {"delay", required_argument, NULL, 'd'},
    {"night_ev_th", required_argument, NULL, 'N'},
    {"day_ev_th", required_argument, NULL, 'D'},
    {"sensitive", required_argument, NULL, 's'},
    {"debug switch", required_argument, NULL, 'g'},
    {"info ", no_argument, NULL, 'i'},
    {NULL, 0, NULL, 0},
};
static const help_entry adc_help[] = {
    {"module", "module name: adc"},
    {"hex", "adc channel, default [4], means all"},
    {"digit", "adc read times, default [-1] means no timeout"},
    {"digit", "adc read delay [n] ms,  default [1000]ms"},
    {"0~1023", "0 is min   ,31023 is max"},
    {"0~1023", "0 is min   ,31023 is max"},
    {"0~9", "0 is min   ,9 is max"},
    {"param", "show param info"},
    {"debug switch", "0: close, 1: open"},
};
static_assert(OPTION_ROWS(adc_options) == ARRAY_SIZE(adc_help), "one help row per option");

static const int32_t CMD_THRESHOLDS = 1;
static const int32_t CMD_SENSITIVITY = 2;
static const int32_t CMD_DEBUG_SWITCH = 3;
static const int32_t CMD_INFO = 4;
// What each cmd asks of the light-control process, said when it is sent;
// cmd 0 is a night threshold given alone.
static const char *const adc_request_names[] = {
    "night threshold alone", "night and day thresholds", "sensitivity",
    "debug switch",          "information request",
};

// read_adc_channel's answer for a channel whose driver failed the read: no
// four characters of text scale to it.
static const int ADC_READ_FAILED = INT_MIN;

static int adc_usage(void);

/* ---- parser ---------------------------------------------------------------- */

static void adc_form(int32_t cmd, int32_t param1)
{
    adc_req.valid = 1;
    adc_req.cmd = cmd;
    adc_req.param1 = param1;
}

// An option that forms a request for the light-control process, with its
// value (read as atoi() does).
static void adc_request_option(int opt, int32_t value, int *thresholds)
{
    switch (opt) {
    case 'N':
        adc_req.valid = 1;
        adc_req.param1 = value;
        (*thresholds)++;
        break;
    case 'D':
        adc_req.param2 = value;
        (*thresholds)++;
        break;
    case 's':
        adc_form(CMD_SENSITIVITY, value);
        break;
    default: // 'g'
        adc_form(CMD_DEBUG_SWITCH, value);
        break;
    }
}

// Returns 0, or -1 after the report and the usage.
static int adc_init_param(int argc, char **argv)
{
    int thresholds = 0; // -N and -D seen
    int error = 0;
    int opt;

    opterr = 1; // getopt's own diagnostics stay on here
    optind = 0; // a scan of its own, whatever ran before
    while (!error && (opt = getopt_long(argc, argv, ADC_SHORT_OPTIONS, adc_options, NULL)) != -1) {
        switch (opt) {
        case 'c':
            if (!option_number(optarg, 32, &adc_settings.channel) || adc_settings.channel != 0) {
                // Only the photodiode's channel is sampled.
                adc_settings.channel = 0;
                OSA_ERROR("Adc channel reset=%d\n", (int)adc_settings.channel);
            }
            break;
        case 't': {
            uint32_t times;
            if (!option_number(optarg, 32, &times)) {
                OSA_ERROR("Number out of range for -%c: %s\n", opt, optarg);
                error = 1;
            }
            adc_settings.times = (int32_t)times;
            break;
        }
        case 'd':
            if (!option_number(optarg, 32, &adc_settings.delay) || adc_settings.delay == 0) {
                OSA_ERROR("Adc delay time must > 0 !\n");
                error = 1;
            }
            break;
        case 'N':
        case 'D':
        case 's':
        case 'g': {
            // A number past 32 bits would be another, cut to them.
            int32_t value;
            if (!option_decimal(optarg, &value)) {
                OSA_ERROR("Number out of range for -%c: %s\n", opt, optarg);
                error = 1;
                break;
            }
            adc_request_option(opt, value, &thresholds);
            break;
        }
        case 'i':
            adc_req.valid = 1;
            adc_req.cmd = CMD_INFO;
            break;
        case '?':
            OSA_ERROR("Unknow option\n");
            error = 1;
            break;
        default: // -M and anything unexpected
            break;
        }
    }
    if (error) {
        adc_usage();
        return -1;
    }
    if (thresholds == 2) {
        adc_req.valid = 1;
        adc_req.cmd = CMD_THRESHOLDS;
    }
    return 0;
}

/* ---- sampling -------------------------------------------------------------- */

// A raw IIO reading (decimal text, at most four characters) in millivolts.
static int adc_millivolts(const char *text)
{
    int32_t raw = atoi(text);
    return raw * 580 / 1900;
}

// The channel's reading scaled to millivolts; -1 when its file cannot be
// opened, ADC_READ_FAILED when the driver fails the read (EIO from a
// converter it cannot reach): reported, since 0 would read as night.
static int read_adc_channel(int channel)
{
    if (channel < 0 || channel >= (int)ARRAY_SIZE(adc_channels)) {
        OSA_printfUnlocked("error channel id:%d\n", channel);
        return -1;
    }
    const adc_channel *chn = &adc_channels[channel];
    FILE *fp = fopen(chn->path, "r+");
    if (fp == NULL) {
        OSA_printfUnlocked("%s\n", chn->open_error);
        return -1;
    }
    char text[5];
    memset(text, 0, sizeof text);
    // One block of four characters: longer readings are cut.
    errno = 0;
    size_t got = fread(text, 1, sizeof text - 1, fp);
    int error = ferror(fp) ? errno : 0;
    text[got] = '\0';
    fclose(fp);
    if (error != 0) {
        OSA_ERROR("Adc channel %d: reading %s failed: %s\n", channel, chn->path, strerror(error));
        return ADC_READ_FAILED;
    }
    return adc_millivolts(text);
}

// A failed read is no reading: its line is not printed.
static void adc_sample_once(int channel)
{
    int value = read_adc_channel(channel);
    if (value < 0)
        OSA_puts("adc_read error!");
    if (value != ADC_READ_FAILED)
        OSA_printf("Adc[%d] = %d\n", channel, value);
}

// times -1 samples until a signal stops the tool; any other value is a
// count (a negative one wraps round). A signal ends either mode.
static void adc_sample(int channel)
{
    if (adc_settings.times == -1) {
        while (!stop_flag) {
            adc_sample_once(channel);
            OSA_sleepMs(adc_settings.delay);
        }
        return;
    }
    uint32_t left = (uint32_t)adc_settings.times;
    while (left-- != 0 && !stop_flag) {
        adc_sample_once(channel);
        OSA_sleepMs(adc_settings.delay);
    }
}

/* ---- operations ------------------------------------------------------------ */

static int adc_run(int argc, char **argv)
{
    if (adc_init_param(argc, argv) != 0)
        return 0; // reported, usage shown; not a failed run
    if (adc_req.valid == 1) {
        int status = publish_request(ADC_REQUEST_KEY, sizeof adc_req, &adc_req);
        if (status == 0)
            OSA_printf("Light-control request sent: cmd %d (%s), param1 %d, param2 %d\n",
                       (int)adc_req.cmd, adc_request_names[adc_req.cmd], (int)adc_req.param1,
                       (int)adc_req.param2);
        return status;
    }
    adc_sample((int)adc_settings.channel);
    return 0;
}

static int adc_usage(void)
{
    module_print_usage(ADC_ID, adc_options, adc_help, ARRAY_SIZE(adc_help));
    OSA_puts("ADC infomation descryption: ");
    for (size_t i = 0; i < ARRAY_SIZE(adc_channels); i++) {
        if (adc_channels[i].description != NULL)
            OSA_printf("channel%zu: %s\n", i, adc_channels[i].description);
        else
            OSA_printf("channel%zu: reserve\n", i);
    }
    OSA_puts("");
    return 0;
}

// Nothing to free: files are closed within each reading.
static int adc_release(void) { return 0; }

static debug_module adc_module = {"adc", ADC_ID, adc_run, adc_usage, adc_release};

MODULE_REGISTER(adc_module)
