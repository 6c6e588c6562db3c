// The camera's GPIO board library on the kernel's sysfs GPIO interface.
// A line is exported when first used and its value file is kept open while
// the library holds it, so that a run of writes (a stepper's phases) costs
// one write each. What a write sets stays: the line is left exported.
#include "gpio.h"

#include "board_report.h"
#include "board_sysfs.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static const char GPIO_EXPORT_PATH[] = "/sys/class/gpio/export";
static const char GPIO_UNEXPORT_PATH[] = "/sys/class/gpio/unexport";
static const char GPIO_ATTRIBUTE_FORMAT[] = "/sys/class/gpio/gpio%u/%s";

// The board's lines: global numbers of the SoC's four 32-line banks
// (gpiochip0, 32, 64, 96), bank * 32 + pin.
extern "C" const ext_gpio extGpio = {
    0,                // system_reset: bank 0 pin 0
    1,                // reset_key
    10,               // ircut_a
    11,               // ircut_b
    14,               // ir_led
    {64, 65, 66, 67}, // focus A+ A- B+ B-: bank 2
    {68, 69, 70, 71}, // zoom
    {72, 73, 74, 75}, // piris
};

namespace
{

// Lines held at once; a line beyond them is used and let go in one call.
enum { GPIO_HELD_MAX = 32 };

struct held_line {
    uint32_t id;
    int value_fd;
    bool exported_here; // unexported at close unless something was set
    bool written;
    bool output;
    bool active_low;
};

held_line held[GPIO_HELD_MAX];
unsigned held_count;
held_line spare;

// A line that fails at every write (the IR LED's, toggled all test long)
// is said once, and how often again at gpio_close.
board_reports reports;

void report(uint32_t id, const char *what, int err, const char *hint = "")
{
    board_report(&reports, "libgpio: gpio %u: %s: %s%s", id, what, strerror(err), hint);
}

void attribute_path(char *path, size_t size, uint32_t id, const char *name)
{
    snprintf(path, size, GPIO_ATTRIBUTE_FORMAT, id, name);
}

// Exports the line; one that is exported already is fine.
bool export_line(uint32_t id, bool *exported_here)
{
    int err = board_sysfs_write_number(GPIO_EXPORT_PATH, id);
    *exported_here = err == 0;
    if (err == 0 || err == EBUSY)
        return true;
    report(id, "cannot export", err, err == EINVAL ? " (the board has no such line)" : "");
    return false;
}

void release_line(held_line *h)
{
    close(h->value_fd);
    h->value_fd = -1;
    if (h->exported_here && !h->written) {
        int err = board_sysfs_write_number(GPIO_UNEXPORT_PATH, h->id);
        if (err != 0)
            report(h->id, "cannot unexport", err);
    }
}

// The line, held: exported, its value file open, its direction known.
held_line *acquire(uint32_t id)
{
    for (unsigned i = 0; i < held_count; i++)
        if (held[i].id == id)
            return &held[i];
    held_line h = {id, -1, false, false, false, false};
    if (!export_line(id, &h.exported_here))
        return nullptr;
    char path[64];
    attribute_path(path, sizeof path, id, "value");
    h.value_fd = open(path, O_RDWR | O_CLOEXEC);
    if (h.value_fd < 0) {
        // Exported by the kernel's own driver, not through sysfs: busy.
        report(id, "cannot open its value file", errno,
               errno == ENOENT ? " (the line is in use by a driver)" : "");
        if (h.exported_here)
            board_sysfs_write_number(GPIO_UNEXPORT_PATH, id);
        return nullptr;
    }
    char text[8];
    attribute_path(path, sizeof path, id, "direction");
    h.output = board_sysfs_read(path, text, sizeof text) == 0 && strcmp(text, "out\n") == 0;
    attribute_path(path, sizeof path, id, "active_low");
    h.active_low = board_sysfs_read(path, text, sizeof text) == 0 && text[0] == '1';
    held_line *slot = held_count < GPIO_HELD_MAX ? &held[held_count++] : &spare;
    *slot = h;
    return slot;
}

// A line that did not fit in the table is let go at the end of each call.
void done(held_line *h)
{
    if (h == &spare)
        release_line(h);
}

int set_direction(held_line *h, const char *direction)
{
    char path[64];
    attribute_path(path, sizeof path, h->id, "direction");
    int err = board_sysfs_write(path, direction);
    if (err != 0) {
        report(h->id, "cannot set the direction", err);
        return -1;
    }
    h->output = strcmp(direction, "in") != 0;
    return 0;
}

int set_level(held_line *h, uint32_t level)
{
    if (h->output) {
        if (pwrite(h->value_fd, level ? "1" : "0", 1, 0) == 1)
            return 0;
        if (errno != EPERM) {
            report(h->id, "cannot set the value", errno);
            return -1;
        }
        h->output = false; // made an input by someone else meanwhile
    }
    // "high" and "low" set the level with the direction, without the
    // active_low inversion that the value file applies.
    return set_direction(h, (level ^ (uint32_t)h->active_low) ? "high" : "low");
}

} // namespace

extern "C" int gpio_read(uint32_t id)
{
    held_line *h = acquire(id);
    if (h == nullptr)
        return -1;
    char text[8];
    ssize_t got = pread(h->value_fd, text, sizeof text - 1, 0);
    int level = -1;
    if (got < 0)
        report(id, "cannot read the value", errno);
    else if (got > 0 && (text[0] == '0' || text[0] == '1'))
        level = text[0] - '0';
    else
        report(id, "cannot read the value", EIO);
    done(h);
    return level;
}

extern "C" int gpio_write(uint32_t id, uint32_t value)
{
    if (value > GPIO_VALUE_INPUT) {
        board_report(&reports, "libgpio: gpio %u: value %u is not 0, 1 or 2", id, value);
        return -1;
    }
    held_line *h = acquire(id);
    if (h == nullptr)
        return -1;
    int result = value == GPIO_VALUE_INPUT ? set_direction(h, "in") : set_level(h, value);
    if (result == 0)
        h->written = true;
    done(h);
    return result;
}

extern "C" int gpio_close(void)
{
    for (unsigned i = 0; i < held_count; i++)
        release_line(&held[i]);
    held_count = 0;
    board_report_repeats(&reports);
    return 0;
}
