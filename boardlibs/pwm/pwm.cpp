// The camera's PWM board library on the kernel's sysfs PWM interface. The
// kernel refuses any state whose duty cycle is longer than its period, or
// that has no period, so a new setting is written in the order that keeps
// every step within that rule.
#include "pwm.h"

#include "board_report.h"
#include "board_sysfs.h"

#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char PWM_CHIP_NAME[] = "pwmchip0";
static const char PWM_NPWM_PATH[] = "/sys/class/pwm/pwmchip0/npwm";
static const char PWM_EXPORT_PATH[] = "/sys/class/pwm/pwmchip0/export";
static const char PWM_UNEXPORT_PATH[] = "/sys/class/pwm/pwmchip0/unexport";
static const char PWM_ATTRIBUTE_FORMAT[] = "/sys/class/pwm/pwmchip0/pwm%d/%s";

namespace
{

// Channels used in one run; more are used and let go in one call.
enum { PWM_HELD_MAX = 16 };

struct held_channel {
    int channel;
    bool exported_here; // unexported at close unless it was set
    bool written;
};

held_channel held[PWM_HELD_MAX];
unsigned held_count;

// A failure that repeats is said once, and how often again at pwm_close.
board_reports reports;

void report(int channel, const char *what, int err)
{
    board_report(&reports, "libpwm: pwm %d: %s: %s", channel, what, strerror(err));
}

void attribute_path(char *path, size_t size, int channel, const char *name)
{
    snprintf(path, size, PWM_ATTRIBUTE_FORMAT, channel, name);
}

bool read_attribute(int channel, const char *name, char *text, size_t size)
{
    char path[80];
    attribute_path(path, sizeof path, channel, name);
    int err = board_sysfs_read(path, text, size);
    if (err != 0) {
        char what[40];
        snprintf(what, sizeof what, "cannot read %s", name);
        report(channel, what, err);
        return false;
    }
    text[strcspn(text, "\n")] = '\0';
    return true;
}

bool read_number(int channel, const char *name, uint64_t *value)
{
    char text[32];
    if (!read_attribute(channel, name, text, sizeof text))
        return false;
    *value = strtoull(text, NULL, 10);
    return true;
}

bool write_number(int channel, const char *name, uint64_t value)
{
    char path[80], text[24];
    attribute_path(path, sizeof path, channel, name);
    snprintf(text, sizeof text, "%" PRIu64, value);
    int err = board_sysfs_write(path, text);
    if (err != 0) {
        char what[64];
        snprintf(what, sizeof what, "cannot write %s to %s", text, name);
        report(channel, what, err);
        return false;
    }
    return true;
}

// The chip must have the channel: its npwm says how many it has.
bool channel_exists(int channel)
{
    char text[16];
    int err = board_sysfs_read(PWM_NPWM_PATH, text, sizeof text);
    if (err != 0) {
        board_report(&reports, "libpwm: %s: %s", PWM_NPWM_PATH, strerror(err));
        return false;
    }
    long npwm = strtol(text, NULL, 10);
    if (channel < 0 || channel >= npwm) {
        board_report(&reports, "libpwm: pwm %d: %s has no such channel (it has %ld)", channel,
                     PWM_CHIP_NAME, npwm);
        return false;
    }
    return true;
}

// Exported by this call or before; the one that is exported already is
// left to whoever exported it.
held_channel *acquire(int channel, held_channel *scratch)
{
    for (unsigned i = 0; i < held_count; i++)
        if (held[i].channel == channel)
            return &held[i];
    if (!channel_exists(channel))
        return nullptr;
    int err = board_sysfs_write_number(PWM_EXPORT_PATH, (uint64_t)channel);
    if (err != 0 && err != EBUSY) {
        report(channel, "cannot export", err);
        return nullptr;
    }
    held_channel *h = held_count < PWM_HELD_MAX ? &held[held_count++] : scratch;
    *h = {channel, err == 0, false};
    return h;
}

void release(held_channel *h)
{
    if (!h->exported_here || h->written)
        return;
    int err = board_sysfs_write_number(PWM_UNEXPORT_PATH, (uint64_t)h->channel);
    if (err != 0)
        report(h->channel, "cannot unexport", err);
}

// Period first when the old duty cycle fits in the new period; otherwise
// the new duty cycle first, which then fits in the old period.
bool set_channel(int channel, uint64_t period, uint64_t duty_cycle)
{
    uint64_t old_duty_cycle;
    if (!read_number(channel, "duty_cycle", &old_duty_cycle))
        return false;
    if (old_duty_cycle <= period)
        return write_number(channel, "period", period) &&
               write_number(channel, "duty_cycle", duty_cycle);
    return write_number(channel, "duty_cycle", duty_cycle) &&
           write_number(channel, "period", period);
}

} // namespace

extern "C" int pwm_read(int channel)
{
    held_channel scratch;
    held_channel *h = acquire(channel, &scratch);
    if (h == nullptr)
        return -1;
    uint64_t period, duty_cycle, enable;
    char polarity[16];
    int result = -1;
    if (read_number(channel, "period", &period) &&
        read_number(channel, "duty_cycle", &duty_cycle) &&
        read_number(channel, "enable", &enable) &&
        read_attribute(channel, "polarity", polarity, sizeof polarity)) {
        uint64_t duty = period != 0 ? duty_cycle * PWM_DUTY_FULL / period : 0;
        printf("pwm channel %d: period = %" PRIu64 " ns, duty_cycle = %" PRIu64 " ns (%" PRIu64
               "/%d), enable = %" PRIu64 ", polarity = %s\n",
               channel, period, duty_cycle, duty, PWM_DUTY_FULL, enable, polarity);
        fflush(stdout);
        result = 0;
    }
    if (h == &scratch)
        release(h);
    return result;
}

extern "C" int pwm_write(int channel, int period, int duty)
{
    if (duty < 0 || duty > PWM_DUTY_FULL) {
        board_report(&reports, "libpwm: pwm %d: duty %d is outside 0-%d (tenths of a percent)",
                     channel, duty, PWM_DUTY_FULL);
        return -1;
    }
    if (period <= 0) {
        board_report(&reports, "libpwm: pwm %d: period %d ns is not above 0", channel, period);
        return -1;
    }
    held_channel scratch;
    held_channel *h = acquire(channel, &scratch);
    if (h == nullptr)
        return -1;
    uint64_t duty_cycle = (uint64_t)period * (uint64_t)duty / PWM_DUTY_FULL;
    bool ok =
        set_channel(channel, (uint64_t)period, duty_cycle) && write_number(channel, "enable", 1);
    // Even a half-done setting changed the channel: it stays exported.
    h->written = true;
    return ok ? 0 : -1;
}

extern "C" int pwm_close(void)
{
    for (unsigned i = 0; i < held_count; i++)
        release(&held[i]);
    held_count = 0;
    board_report_repeats(&reports);
    return 0;
}
