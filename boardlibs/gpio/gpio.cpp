// The camera's GPIO board library, on the kernel's sysfs GPIO interface
// where the kernel has one, else on its GPIO character device (the uAPI v2
// of linux/gpio.h). A line is taken when first used and held while the
// library holds it: exported with its value file open (sysfs), or requested
// (the character device). A run of writes (a stepper's phases) then costs
// one write or one ioctl each.
#include "gpio.h"

#include "board_report.h"
#include "board_sysfs.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static const char GPIO_EXPORT_PATH[] = "/sys/class/gpio/export";
static const char GPIO_UNEXPORT_PATH[] = "/sys/class/gpio/unexport";
static const char GPIO_ATTRIBUTE_FORMAT[] = "/sys/class/gpio/gpio%u/%s";
// The GPIO chips' character devices: /dev/gpiochip0, 1, ...
static const char GPIO_CHIP_FORMAT[] = "/dev/gpiochip%u";
// The user of a line the library has requested, as gpioinfo shows it.
static const char GPIO_CONSUMER[] = "libgpio";

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

// The same banks for the character device, which numbers a line within its
// chip: line N is the chip's line N - first. A chip is known by its label,
// the name the SoC's GPIO driver gives it (gpioinfo shows it); the numbers
// of /dev/gpiochipN follow the order the drivers came up in.
struct gpio_bank {
    const char *label;
    uint32_t first;
    uint32_t lines;
};

const gpio_bank GPIO_BANKS[] = {
    {"gpio-bank0", 0, 32},
    {"gpio-bank1", 32, 32},
    {"gpio-bank2", 64, 32},
    {"gpio-bank3", 96, 32},
};
enum { BANKS = sizeof GPIO_BANKS / sizeof GPIO_BANKS[0] };

// How many /dev/gpiochipN are looked at for the banks' chips (numbers may
// have gaps where a chip went away).
enum { GPIO_CHIPS_MAX = 32 };

// Lines held at once; a line beyond them is used and let go in one call.
enum { GPIO_HELD_MAX = 32 };

struct held_line {
    uint32_t id;
    int fd;             // sysfs: the value file; character device: the request
    bool exported_here; // sysfs: unexported at close unless something was set
    bool written;
    bool output;     // driven by the library: a new level is a value write
};

// One way to the lines: sysfs, or the character device.
struct gpio_interface {
    bool (*take)(held_line *h);
    int (*get)(held_line *h);                   // the level, or -1 after a report
    int (*drive)(held_line *h, uint32_t level); // an output at the level: 0 or -1
    int (*input)(held_line *h);                 // released as an input: 0 or -1
    void (*let_go)(held_line *h);
};

held_line held[GPIO_HELD_MAX];
unsigned held_count;
held_line spare;

// Chosen at the first call, again after gpio_close.
const gpio_interface *interface;

// A line that fails at every write (the IR LED's, toggled all test long)
// is said once, and how often again at gpio_close.
board_reports reports;

void report(uint32_t id, const char *what, int err, const char *hint = "")
{
    board_report(&reports, "libgpio: gpio %u: %s: %s%s", id, what, strerror(err), hint);
}

/* ---- sysfs: /sys/class/gpio --------------------------------------------- */

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

int open_value(uint32_t id)
{
    char path[64];
    attribute_path(path, sizeof path, id, "value");
    return open(path, O_RDWR | O_CLOEXEC);
}

// Exported, its value file open, its direction known. A line exported
// already (the usual case: what a write set stays exported) is opened at
// once, without a refused export first.
bool sysfs_take(held_line *h)
{
    h->fd = open_value(h->id);
    if (h->fd < 0 && errno == ENOENT) {
        if (!export_line(h->id, &h->exported_here))
            return false;
        h->fd = open_value(h->id);
    }
    if (h->fd < 0) {
        // Exported by the kernel's own driver, not through sysfs: busy.
        report(h->id, "cannot open its value file", errno,
               errno == ENOENT ? " (the line is in use by a driver)" : "");
        if (h->exported_here)
            board_sysfs_write_number(GPIO_UNEXPORT_PATH, h->id);
        return false;
    }
    char path[64], text[8];
    attribute_path(path, sizeof path, h->id, "direction");
    h->output = board_sysfs_read(path, text, sizeof text) == 0 && strcmp(text, "out\n") == 0;
    return true;
}

// sysfs's active_low setting of the line, which "high" and "low" do not
// apply: read only when a level is set with the direction.
bool active_low(const held_line *h)
{
    char path[64], text[8];
    attribute_path(path, sizeof path, h->id, "active_low");
    return board_sysfs_read(path, text, sizeof text) == 0 && text[0] == '1';
}

int sysfs_get(held_line *h)
{
    char text[8];
    ssize_t got = pread(h->fd, text, sizeof text - 1, 0);
    if (got < 0)
        report(h->id, "cannot read the value", errno);
    else if (got > 0 && (text[0] == '0' || text[0] == '1'))
        return text[0] - '0';
    else
        report(h->id, "cannot read the value", EIO);
    return -1;
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

int sysfs_drive(held_line *h, uint32_t level)
{
    if (h->output) {
        if (pwrite(h->fd, level ? "1" : "0", 1, 0) == 1)
            return 0;
        if (errno != EPERM) {
            report(h->id, "cannot set the value", errno);
            return -1;
        }
        h->output = false; // made an input by someone else meanwhile
    }
    // "high" and "low" set the level with the direction, without the
    // active_low inversion that the value file applies.
    return set_direction(h, (level ^ (uint32_t)active_low(h)) ? "high" : "low");
}

int sysfs_input(held_line *h)
{
    return set_direction(h, "in");
}

// What a write set stays exported after the program; a line exported
// only to be read is given back.
void sysfs_let_go(held_line *h)
{
    close(h->fd);
    h->fd = -1;
    if (h->exported_here && !h->written) {
        int err = board_sysfs_write_number(GPIO_UNEXPORT_PATH, h->id);
        if (err != 0)
            report(h->id, "cannot unexport", err);
    }
}

const gpio_interface sysfs = {sysfs_take, sysfs_get, sysfs_drive, sysfs_input, sysfs_let_go};

/* ---- the character device: /dev/gpiochipN ------------------------------- */

// The banks' chips, looked for at the first request, open until
// gpio_close: bank_chip[b] is the chip of GPIO_BANKS[b], or -1.
bool chips_found;
int bank_chip[BANKS];
uint32_t bank_chip_lines[BANKS];
unsigned chips_seen;   // GPIO chips in /dev, whatever their labels
char chip_failure[64]; // the first chip that is there but cannot be opened

void find_chips()
{
    chips_found = true;
    chips_seen = 0;
    chip_failure[0] = '\0';
    unsigned missing = BANKS;
    for (int &fd : bank_chip)
        fd = -1;
    for (unsigned n = 0; n < GPIO_CHIPS_MAX && missing > 0; n++) {
        char path[32];
        snprintf(path, sizeof path, GPIO_CHIP_FORMAT, n);
        int fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT && chip_failure[0] == '\0')
                snprintf(chip_failure, sizeof chip_failure, "; %s: %s", path, strerror(errno));
            continue;
        }
        struct gpiochip_info info;
        memset(&info, 0, sizeof info);
        if (ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) != 0) {
            close(fd);
            continue;
        }
        chips_seen++;
        info.label[sizeof info.label - 1] = '\0';
        unsigned b = 0;
        while (b < BANKS && strcmp(GPIO_BANKS[b].label, info.label) != 0)
            b++;
        if (b == BANKS || bank_chip[b] >= 0) {
            close(fd);
            continue;
        }
        bank_chip[b] = fd;
        bank_chip_lines[b] = info.lines;
        missing--;
    }
}

void close_chips()
{
    if (!chips_found)
        return;
    for (int &fd : bank_chip) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    chips_found = false;
}

// The bank of line id whose chip has the line: its index, or -1 after a
// report.
int bank_of(uint32_t id)
{
    unsigned b = 0;
    while (b < BANKS &&
           !(id >= GPIO_BANKS[b].first && id - GPIO_BANKS[b].first < GPIO_BANKS[b].lines))
        b++;
    if (b == BANKS) {
        board_report(
            &reports, "libgpio: gpio %u: the board has no such line (its lines are %u to %u)", id,
            GPIO_BANKS[0].first, GPIO_BANKS[BANKS - 1].first + GPIO_BANKS[BANKS - 1].lines - 1);
        return -1;
    }
    if (!chips_found)
        find_chips();
    const char *label = GPIO_BANKS[b].label;
    if (chips_seen == 0) {
        board_report(
            &reports,
            "libgpio: gpio %u: no GPIO interface: no /sys/class/gpio/export, no /dev/gpiochipN%s",
            id, chip_failure);
        return -1;
    }
    if (bank_chip[b] < 0) {
        board_report(&reports,
                     "libgpio: gpio %u: no GPIO chip is labelled %s (the board has no such line%s)",
                     id, label, chip_failure);
        return -1;
    }
    if (id - GPIO_BANKS[b].first >= bank_chip_lines[b]) {
        board_report(&reports, "libgpio: gpio %u: %s has %u lines (the board has no such line)", id,
                     label, bank_chip_lines[b]);
        return -1;
    }
    return (int)b;
}

// Who holds a line that cannot be requested, as gpioinfo would say it.
void busy_hint(int chip, uint32_t offset, char *hint, size_t size)
{
    struct gpio_v2_line_info info;
    memset(&info, 0, sizeof info);
    info.offset = offset;
    hint[0] = '\0';
    if (ioctl(chip, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0 && info.consumer[0] != '\0') {
        info.consumer[sizeof info.consumer - 1] = '\0';
        snprintf(hint, size, " (in use by \"%s\")", info.consumer);
    }
}

// A configuration of a request's one line: an input, an output whose
// level is set with the direction (no glitch through the other level), or
// neither: the line as it is.
void line_config(struct gpio_v2_line_config *config, uint64_t direction, uint32_t level)
{
    memset(config, 0, sizeof *config);
    config->flags = direction;
    if (direction == GPIO_V2_LINE_FLAG_OUTPUT) {
        config->num_attrs = 1;
        config->attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
        config->attrs[0].attr.values = level;
        config->attrs[0].mask = 1;
    }
}

// Requested as it is: neither its direction nor its level changes, so a
// read leaves the line as it was found. A write reconfigures the request.
bool cdev_take(held_line *h)
{
    int b = bank_of(h->id);
    if (b < 0)
        return false;
    const gpio_bank *bank = &GPIO_BANKS[b];
    uint32_t offset = h->id - bank->first;
    struct gpio_v2_line_request req;
    memset(&req, 0, sizeof req);
    req.offsets[0] = offset;
    req.num_lines = 1;
    snprintf(req.consumer, sizeof req.consumer, "%s", GPIO_CONSUMER);
    line_config(&req.config, 0, 0);
    if (ioctl(bank_chip[b], GPIO_V2_GET_LINE_IOCTL, &req) != 0) {
        int err = errno;
        char what[GPIO_MAX_NAME_SIZE + 32], hint[GPIO_MAX_NAME_SIZE + 16] = "";
        snprintf(what, sizeof what, "cannot request %s line %u", bank->label, offset);
        // The request is valid on any kernel with the uAPI v2: one
        // without it refuses the ioctl itself.
        if (err == EBUSY)
            busy_hint(bank_chip[b], offset, hint, sizeof hint);
        else if (err == EINVAL || err == ENOTTY)
            snprintf(hint, sizeof hint, " (no GPIO uAPI v2: Linux 5.10 or later)");
        report(h->id, what, err, hint);
        return false;
    }
    h->fd = req.fd;
    h->output = false; // not driven by the library yet, whatever it is
    return true;
}

int cdev_get(held_line *h)
{
    struct gpio_v2_line_values values = {0, 1};
    if (ioctl(h->fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &values) != 0) {
        report(h->id, "cannot read the value", errno);
        return -1;
    }
    return (int)(values.bits & 1);
}

int reconfigure(held_line *h, uint64_t direction, uint32_t level)
{
    struct gpio_v2_line_config config;
    line_config(&config, direction, level);
    if (ioctl(h->fd, GPIO_V2_LINE_SET_CONFIG_IOCTL, &config) != 0) {
        report(h->id, "cannot set the direction", errno);
        return -1;
    }
    h->output = direction == GPIO_V2_LINE_FLAG_OUTPUT;
    return 0;
}

// The first write makes the line an output at the level in one step; an
// output of the library's gets the value alone, one ioctl.
int cdev_drive(held_line *h, uint32_t level)
{
    if (!h->output)
        return reconfigure(h, GPIO_V2_LINE_FLAG_OUTPUT, level);
    struct gpio_v2_line_values values = {level, 1};
    if (ioctl(h->fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values) != 0) {
        report(h->id, "cannot set the value", errno);
        return -1;
    }
    return 0;
}

int cdev_input(held_line *h)
{
    return reconfigure(h, GPIO_V2_LINE_FLAG_INPUT, 0);
}

// The kernel releases the line; what the line does then is its driver's
// (README.md: a released line).
void cdev_let_go(held_line *h)
{
    close(h->fd);
    h->fd = -1;
}

const gpio_interface cdev = {cdev_take, cdev_get, cdev_drive, cdev_input, cdev_let_go};

/* ---- lines held ---------------------------------------------------------- */

// sysfs where the kernel has it; the character device where it has not.
const gpio_interface *interface_of_board()
{
    if (interface == nullptr)
        interface = access(GPIO_EXPORT_PATH, F_OK) == 0 ? &sysfs : &cdev;
    return interface;
}

// The line, held.
held_line *acquire(uint32_t id)
{
    for (unsigned i = 0; i < held_count; i++)
        if (held[i].id == id)
            return &held[i];
    held_line h = {id, -1, false, false, false};
    if (!interface_of_board()->take(&h))
        return nullptr;
    held_line *slot = held_count < GPIO_HELD_MAX ? &held[held_count++] : &spare;
    *slot = h;
    return slot;
}

// A line that did not fit in the table is let go at the end of each call.
void done(held_line *h)
{
    if (h == &spare)
        interface->let_go(h);
}

} // namespace

extern "C" int gpio_read(uint32_t id)
{
    held_line *h = acquire(id);
    if (h == nullptr)
        return -1;
    int level = interface->get(h);
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
    int result = value == GPIO_VALUE_INPUT ? interface->input(h) : interface->drive(h, value);
    if (result == 0)
        h->written = true;
    done(h);
    return result;
}

extern "C" int gpio_close(void)
{
    for (unsigned i = 0; i < held_count; i++)
        interface->let_go(&held[i]);
    held_count = 0;
    close_chips();
    interface = nullptr;
    board_report_repeats(&reports);
    return 0;
}
