// The simulated board's /sys/class/gpio and /sys/class/pwm: the objects the
// kernel's sysfs GPIO and PWM interfaces show, with the kernel's rules for
// every attribute, and a log of every attribute write. Paths are relative
// to /sys/class ("/gpio/export", "/pwm/pwmchip0/pwm1/period"). Beside them,
// the ADC's industrial-I/O device, /iio:device0 (the board binds it at
// /sys/bus/iio/devices/iio:device0), whose channel readings can fail as a
// driver's do. The FUSE daemon (simsysfs.cpp) serves this model; the unit
// tests drive it directly.
#ifndef SIMBOARD_SYSFS_MODEL_H
#define SIMBOARD_SYSFS_MODEL_H

#include <stdint.h>

#include <functional>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace simsysfs
{

// What a path names. Attributes carry the object they belong to.
enum class Kind {
    none,
    dir_root,
    dir_gpio,     // /gpio
    dir_gpiochip, // /gpio/gpiochipN
    dir_line,     // /gpio/gpioN (exported lines only)
    dir_pwm,      // /pwm
    dir_pwmchip,  // /pwm/pwmchipN
    dir_iio,      // /iio:device0 (when the description has an iio channel)
    dir_channel,  // /pwm/pwmchipN/pwmM (exported channels only)
    gpio_export,
    gpio_unexport,
    chip_base,
    chip_label,
    chip_ngpio,
    line_active_low,
    line_direction,
    line_edge,
    line_value,
    pwm_export,
    pwm_unexport,
    pwm_npwm,
    channel_duty_cycle,
    channel_enable,
    channel_period,
    channel_polarity,
    iio_raw, // /iio:device0/in_voltageN_raw
};

struct Node {
    Kind kind = Kind::none;
    long object = -1;        // line number, gpiochip base or pwmchip number
    long channel = -1;       // PWM channel within its chip
    uint64_t generation = 0; // which export of the line or channel
    std::string path;        // as looked up

    bool is_dir() const { return kind <= Kind::dir_channel && kind != Kind::none; }
};

class Model
{
  public:
    // The board description: one object a line, '#' starts a comment.
    //   gpiochip BASE NGPIO [LABEL]   lines BASE .. BASE+NGPIO-1
    //   pwmchip N NPWM                /pwm/pwmchipN with channels 0 .. NPWM-1
    //   level LINE 0|1                what the outside drives on an input line
    //   held LINE                     a line a kernel driver has requested
    //   iio N RAW                     in_voltageN_raw reads RAW (a number)
    //   iio N fail ERRNO              ... its reads fail with ERRNO (EIO,
    //                                 ETIMEDOUT, EBUSY, EAGAIN), as a
    //                                 driver's that cannot reach the converter
    // Returns false with a message naming the line that is wrong.
    bool load(const std::string &description, std::string *error);

    // 0 with the node filled, or -ENOENT.
    int lookup(const std::string &path, Node *node) const;
    // Permission bits of the node (0755 for directories).
    unsigned mode(const Node &node) const;
    // Entry names of a directory node.
    std::vector<std::string> list(const Node &node) const;
    // Opening checks what the kernel's sysfs checks: no reading of a
    // write-only attribute, no writing of a read-only one (-EACCES).
    int open(const Node &node, bool reading, bool writing) const;
    // The attribute's text, or -ENODEV when its line or channel has been
    // unexported (or exported anew) since the node was looked up.
    int read(const Node &node, std::string *text) const;
    // One store of the kernel: 0 or a negative errno. Logged either way.
    int write(const Node &node, const std::string &data, uint64_t now_us);

    // Every write as one line "TIME_US PATH VALUE RESULT": PATH the board's
    // (/sys/class/...), VALUE the bytes written without one trailing
    // newline (blanks, control bytes and backslashes as \xNN; "" when
    // empty), RESULT "ok" or the errno's name.
    std::function<void(const std::string &line)> log;

  private:
    struct Line {
        bool exported = false;
        uint64_t generation = 0;
        bool output = false;
        int level = 0;   // driven when output
        int outside = 0; // seen when input
        bool active_low = false;
        std::string edge = "none";
        bool held = false; // requested by a driver: sysfs cannot export it
    };
    struct Chip {
        long base = 0;
        long ngpio = 0;
        std::string label;
    };
    struct Channel {
        bool exported = false;
        uint64_t generation = 0;
        uint64_t period = 0;
        uint64_t duty_cycle = 0;
        bool enabled = false;
        bool inversed = false;
    };
    struct PwmChip {
        std::vector<Channel> channels;
    };
    struct IioChannel {
        long raw = 0;
        int error = 0; // a negative errno that every read gives, or 0
    };

    std::map<long, Chip> chips_;       // by base
    std::map<long, Line> lines_;       // every line of every chip
    std::map<long, PwmChip> pwmchips_; // by number
    std::map<long, IioChannel> iio_;   // by channel number
    uint64_t next_generation_ = 1;

    bool load_iio(long channel, const std::string &value, std::istream &words);
    bool current(const Node &node) const;
    int store(const Node &node, const std::string &data);
    int store_gpio_export(const std::string &data, bool exporting);
    int store_line(Line &line, Kind kind, const std::string &data);
    int store_pwm_export(PwmChip &chip, const std::string &data, bool exporting);
    int store_channel(Channel &channel, Kind kind, const std::string &data);
};

// The kernel's kstrtol / kstrtouint rules: base 0 ("0x" hex, leading 0
// octal), an optional sign where signed, one trailing newline, nothing
// else. 0, -EINVAL or -ERANGE.
int parse_long(const std::string &text, long *value);
int parse_uint(const std::string &text, unsigned int *value);
int parse_u64(const std::string &text, uint64_t *value);
// The kernel's sysfs_streq: equal but for one trailing newline on either.
bool sysfs_streq(const std::string &a, const char *b);
// "EINVAL" for -EINVAL, "ok" for 0.
const char *result_name(int result);

} // namespace simsysfs

#endif
