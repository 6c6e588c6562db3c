// The rules follow the kernel's drivers/gpio/gpiolib-sysfs.c and
// drivers/pwm/sysfs.c: export and unexport stores, the attributes of an
// exported line or channel, and the PWM core's check that a channel's
// period is set and its duty cycle never exceeds it.
#include "sysfs_model.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>

namespace simsysfs
{

namespace
{

struct Entry {
    const char *name;
    Kind kind;
    unsigned mode;
};

const Entry gpio_entries[] = {
    {"export", Kind::gpio_export, 0200},
    {"unexport", Kind::gpio_unexport, 0200},
};
const Entry chip_entries[] = {
    {"base", Kind::chip_base, 0444},
    {"label", Kind::chip_label, 0444},
    {"ngpio", Kind::chip_ngpio, 0444},
};
const Entry line_entries[] = {
    {"active_low", Kind::line_active_low, 0644},
    {"direction", Kind::line_direction, 0644},
    {"edge", Kind::line_edge, 0644},
    {"value", Kind::line_value, 0644},
};
const Entry pwmchip_entries[] = {
    {"export", Kind::pwm_export, 0200},
    {"npwm", Kind::pwm_npwm, 0444},
    {"unexport", Kind::pwm_unexport, 0200},
};
const Entry channel_entries[] = {
    {"duty_cycle", Kind::channel_duty_cycle, 0644},
    {"enable", Kind::channel_enable, 0644},
    {"period", Kind::channel_period, 0644},
    {"polarity", Kind::channel_polarity, 0644},
};

struct Table {
    const Entry *entries;
    size_t count;
};

template <size_t N> Table table(const Entry (&entries)[N])
{
    return {entries, N};
}

Table entries_of(Kind dir)
{
    switch (dir) {
    case Kind::dir_gpio:
        return table(gpio_entries);
    case Kind::dir_gpiochip:
        return table(chip_entries);
    case Kind::dir_line:
        return table(line_entries);
    case Kind::dir_pwmchip:
        return table(pwmchip_entries);
    case Kind::dir_channel:
        return table(channel_entries);
    default:
        return {nullptr, 0};
    }
}

const Entry *find_entry(Kind dir, const std::string &name)
{
    Table t = entries_of(dir);
    for (size_t i = 0; i < t.count; i++)
        if (name == t.entries[i].name)
            return &t.entries[i];
    return nullptr;
}

unsigned mode_of(Kind kind)
{
    if (kind == Kind::iio_raw)
        return 0644; // the tool opens it for reading and writing
    for (Kind dir : {Kind::dir_gpio, Kind::dir_gpiochip, Kind::dir_line, Kind::dir_pwmchip,
                     Kind::dir_channel}) {
        Table t = entries_of(dir);
        for (size_t i = 0; i < t.count; i++)
            if (t.entries[i].kind == kind)
                return t.entries[i].mode;
    }
    return 0;
}

// "gpio17" with prefix "gpio" gives 17; the kernel's names have no sign,
// no leading zeros and no other characters.
bool numbered(const std::string &name, const char *prefix, long *number)
{
    size_t len = strlen(prefix);
    if (name.compare(0, len, prefix) != 0 || name.size() == len || name.size() > len + 9)
        return false;
    std::string digits = name.substr(len);
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    if (digits.size() > 1 && digits[0] == '0')
        return false;
    *number = atol(digits.c_str());
    return true;
}

std::vector<std::string> split(const std::string &path)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(path);
    while (std::getline(in, part, '/'))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

// Digits of base 8, 10 or 16; -1 for anything else.
int digit_value(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

// The kernel's kstrtoull with base 0.
int parse_ull(const char *s, unsigned long long *value)
{
    if (*s == '+')
        s++;
    int base = 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && digit_value(s[2], 16) >= 0) {
        base = 16;
        s += 2;
    } else if (s[0] == '0') {
        base = 8;
    }
    unsigned long long v = 0;
    bool any = false, overflow = false;
    for (int d; (d = digit_value(*s, base)) >= 0; s++) {
        if (v > (~0ULL - (unsigned)d) / (unsigned)base)
            overflow = true;
        v = v * (unsigned)base + (unsigned)d;
        any = true;
    }
    if (!any)
        return -EINVAL;
    if (overflow)
        return -ERANGE;
    if (*s == '\n')
        s++;
    if (*s != '\0')
        return -EINVAL;
    *value = v;
    return 0;
}

std::string escaped(const std::string &data)
{
    std::string text = data;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (text.empty())
        return "\"\"";
    std::string out;
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7f || c == '\\') {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

std::string number_line(unsigned long long v)
{
    return std::to_string(v) + "\n";
}

} // namespace

int parse_u64(const std::string &text, uint64_t *value)
{
    if (text.find('\0') != std::string::npos)
        return -EINVAL;
    unsigned long long v;
    int r = parse_ull(text.c_str(), &v);
    if (r == 0)
        *value = v;
    return r;
}

int parse_uint(const std::string &text, unsigned int *value)
{
    uint64_t v;
    int r = parse_u64(text, &v);
    if (r == 0 && v > 0xFFFFFFFFu)
        r = -ERANGE;
    if (r == 0)
        *value = (unsigned int)v;
    return r;
}

int parse_long(const std::string &text, long *value)
{
    bool negative = !text.empty() && text[0] == '-';
    uint64_t v;
    int r = parse_u64(negative ? text.substr(1) : text, &v);
    if (r != 0)
        return r;
    uint64_t limit = negative ? (uint64_t)1 << 63 : ((uint64_t)1 << 63) - 1;
    if (v > limit)
        return -ERANGE;
    *value = negative ? (long)(0 - v) : (long)v;
    return 0;
}

bool sysfs_streq(const std::string &a, const char *b)
{
    std::string x = a, y = b;
    if (!x.empty() && x.back() == '\n')
        x.pop_back();
    if (!y.empty() && y.back() == '\n')
        y.pop_back();
    return x == y;
}

// The errors an iio channel's reads may be set to give.
const struct {
    const char *name;
    int error;
} iio_errors[] = {{"EIO", -EIO}, {"ETIMEDOUT", -ETIMEDOUT}, {"EBUSY", -EBUSY}, {"EAGAIN", -EAGAIN}};

const char *result_name(int result)
{
    switch (result) {
    case 0:
        return "ok";
    case -EINVAL:
        return "EINVAL";
    case -EBUSY:
        return "EBUSY";
    case -EPERM:
        return "EPERM";
    case -ENODEV:
        return "ENODEV";
    case -ERANGE:
        return "ERANGE";
    case -EACCES:
        return "EACCES";
    default:
        return "EIO";
    }
}

bool Model::load(const std::string &description, std::string *error)
{
    std::istringstream in(description);
    std::string text;
    for (int number = 1; std::getline(in, text); number++) {
        text = text.substr(0, text.find('#'));
        std::istringstream words(text);
        std::string what;
        if (!(words >> what))
            continue;
        long a = -1, b = -1;
        std::string label, extra;
        bool ok = false;
        if (what == "gpiochip" && (words >> a >> b) && a >= 0 && b > 0) {
            if (!(words >> label))
                label = "gpiochip" + std::to_string(a);
            ok = !(words >> extra);
            for (long n = a; ok && n < a + b; n++)
                ok = lines_.count(n) == 0;
            if (ok) {
                chips_[a] = Chip{a, b, label};
                for (long n = a; n < a + b; n++)
                    lines_[n] = Line();
            }
        } else if (what == "pwmchip" && (words >> a >> b) && a >= 0 && b > 0 && !(words >> extra)) {
            ok = pwmchips_.count(a) == 0;
            if (ok)
                pwmchips_[a].channels.resize((size_t)b);
        } else if (what == "level" && (words >> a >> b) && (b == 0 || b == 1) &&
                   !(words >> extra)) {
            ok = lines_.count(a) != 0;
            if (ok)
                lines_[a].outside = (int)b;
        } else if (what == "held" && (words >> a) && !(words >> extra)) {
            ok = lines_.count(a) != 0;
            if (ok)
                lines_[a].held = true;
        } else if (what == "iio" && (words >> a >> label) && a >= 0) {
            ok = load_iio(a, label, words);
        }
        if (!ok) {
            *error = "line " + std::to_string(number) + ": " + text;
            return false;
        }
    }
    return true;
}

// "iio N RAW" or "iio N fail ERRNO", after "iio N".
bool Model::load_iio(long channel, const std::string &value, std::istream &words)
{
    std::string name, extra;
    if (value == "fail") {
        if (!(words >> name) || (words >> extra))
            return false;
        for (const auto &e : iio_errors) {
            if (name == e.name) {
                iio_[channel].error = e.error;
                return true;
            }
        }
        return false;
    }
    if (value.find_first_not_of("0123456789") != std::string::npos || value.size() > 9 ||
        (words >> extra))
        return false;
    iio_[channel].raw = atol(value.c_str());
    return true;
}

int Model::lookup(const std::string &path, Node *node) const
{
    std::vector<std::string> parts = split(path);
    Node n;
    n.path = path;
    n.kind = Kind::dir_root;
    long number;
    for (size_t i = 0; i < parts.size(); i++) {
        const std::string &p = parts[i];
        const Entry *entry = find_entry(n.kind, p);
        if (entry != nullptr) {
            n.kind = entry->kind;
        } else if (n.kind == Kind::dir_root && (p == "gpio" || p == "pwm")) {
            n.kind = p == "gpio" ? Kind::dir_gpio : Kind::dir_pwm;
        } else if (n.kind == Kind::dir_root && p == "iio:device0" && !iio_.empty()) {
            n.kind = Kind::dir_iio;
        } else if (n.kind == Kind::dir_iio && p.size() > 4 &&
                   p.compare(p.size() - 4, 4, "_raw") == 0 &&
                   numbered(p.substr(0, p.size() - 4), "in_voltage", &number) &&
                   iio_.count(number)) {
            n.kind = Kind::iio_raw;
            n.object = number;
        } else if (n.kind == Kind::dir_gpio && numbered(p, "gpiochip", &number) &&
                   chips_.count(number)) {
            n.kind = Kind::dir_gpiochip;
            n.object = number;
        } else if (n.kind == Kind::dir_gpio && numbered(p, "gpio", &number) &&
                   lines_.count(number) && lines_.at(number).exported) {
            n.kind = Kind::dir_line;
            n.object = number;
            n.generation = lines_.at(number).generation;
        } else if (n.kind == Kind::dir_pwm && numbered(p, "pwmchip", &number) &&
                   pwmchips_.count(number)) {
            n.kind = Kind::dir_pwmchip;
            n.object = number;
        } else if (n.kind == Kind::dir_pwmchip && numbered(p, "pwm", &number) &&
                   number < (long)pwmchips_.at(n.object).channels.size() &&
                   pwmchips_.at(n.object).channels[(size_t)number].exported) {
            n.kind = Kind::dir_channel;
            n.channel = number;
            n.generation = pwmchips_.at(n.object).channels[(size_t)number].generation;
        } else {
            return -ENOENT;
        }
        if (!n.is_dir() && i + 1 < parts.size())
            return -ENOENT;
    }
    *node = n;
    return 0;
}

unsigned Model::mode(const Node &node) const
{
    return node.is_dir() ? 0755 : mode_of(node.kind);
}

std::vector<std::string> Model::list(const Node &node) const
{
    std::vector<std::string> names;
    Table t = entries_of(node.kind);
    for (size_t i = 0; i < t.count; i++)
        names.push_back(t.entries[i].name);
    switch (node.kind) {
    case Kind::dir_root:
        names = {"gpio", "pwm"};
        if (!iio_.empty())
            names.push_back("iio:device0");
        break;
    case Kind::dir_iio:
        for (const auto &channel : iio_)
            names.push_back("in_voltage" + std::to_string(channel.first) + "_raw");
        break;
    case Kind::dir_gpio:
        for (const auto &chip : chips_)
            names.push_back("gpiochip" + std::to_string(chip.first));
        for (const auto &line : lines_)
            if (line.second.exported)
                names.push_back("gpio" + std::to_string(line.first));
        break;
    case Kind::dir_pwm:
        for (const auto &chip : pwmchips_)
            names.push_back("pwmchip" + std::to_string(chip.first));
        break;
    case Kind::dir_pwmchip: {
        const PwmChip &chip = pwmchips_.at(node.object);
        for (size_t i = 0; i < chip.channels.size(); i++)
            if (chip.channels[i].exported)
                names.push_back("pwm" + std::to_string(i));
        break;
    }
    default:
        break;
    }
    return names;
}

int Model::open(const Node &node, bool reading, bool writing) const
{
    if (!current(node))
        return -ENOENT;
    if (node.is_dir())
        return writing ? -EISDIR : 0;
    unsigned m = mode(node);
    if ((reading && (m & 0444) == 0) || (writing && (m & 0222) == 0))
        return -EACCES;
    return 0;
}

// A node of a line or channel stays good while that export lasts.
bool Model::current(const Node &node) const
{
    switch (node.kind) {
    case Kind::dir_line:
    case Kind::line_active_low:
    case Kind::line_direction:
    case Kind::line_edge:
    case Kind::line_value: {
        auto it = lines_.find(node.object);
        return it != lines_.end() && it->second.exported &&
               it->second.generation == node.generation;
    }
    case Kind::dir_channel:
    case Kind::channel_duty_cycle:
    case Kind::channel_enable:
    case Kind::channel_period:
    case Kind::channel_polarity: {
        auto it = pwmchips_.find(node.object);
        if (it == pwmchips_.end() || node.channel >= (long)it->second.channels.size())
            return false;
        const Channel &c = it->second.channels[(size_t)node.channel];
        return c.exported && c.generation == node.generation;
    }
    default:
        return true;
    }
}

int Model::read(const Node &node, std::string *text) const
{
    if (!current(node))
        return -ENODEV;
    const Line *line = lines_.count(node.object) ? &lines_.at(node.object) : nullptr;
    const Channel *ch = nullptr;
    if (node.channel >= 0)
        ch = &pwmchips_.at(node.object).channels[(size_t)node.channel];
    switch (node.kind) {
    case Kind::chip_base:
        *text = number_line((unsigned long long)node.object);
        return 0;
    case Kind::chip_label:
        *text = chips_.at(node.object).label + "\n";
        return 0;
    case Kind::chip_ngpio:
        *text = number_line((unsigned long long)chips_.at(node.object).ngpio);
        return 0;
    case Kind::line_active_low:
        *text = number_line(line->active_low);
        return 0;
    case Kind::line_direction:
        *text = line->output ? "out\n" : "in\n";
        return 0;
    case Kind::line_edge:
        *text = line->edge + "\n";
        return 0;
    case Kind::line_value: {
        int physical = line->output ? line->level : line->outside;
        *text = number_line((unsigned)(physical ^ (int)line->active_low));
        return 0;
    }
    case Kind::pwm_npwm:
        *text = number_line(pwmchips_.at(node.object).channels.size());
        return 0;
    case Kind::channel_duty_cycle:
        *text = number_line(ch->duty_cycle);
        return 0;
    case Kind::channel_enable:
        *text = number_line(ch->enabled);
        return 0;
    case Kind::channel_period:
        *text = number_line(ch->period);
        return 0;
    case Kind::channel_polarity:
        *text = ch->inversed ? "inversed\n" : "normal\n";
        return 0;
    case Kind::iio_raw: {
        const IioChannel &c = iio_.at(node.object);
        if (c.error != 0)
            return c.error;
        *text = std::to_string(c.raw) + "\n";
        return 0;
    }
    default:
        return -EIO; // write-only attribute or directory
    }
}

int Model::write(const Node &node, const std::string &data, uint64_t now_us)
{
    int result = current(node) ? store(node, data) : -ENODEV;
    if (log) {
        std::string rel = node.path.substr(node.path.find_first_not_of('/'));
        bool iio = node.kind == Kind::dir_iio || node.kind == Kind::iio_raw;
        std::string path = (iio ? "/sys/bus/iio/devices/" : "/sys/class/") + rel;
        log(std::to_string(now_us) + " " + path + " " + escaped(data) + " " + result_name(result));
    }
    return result;
}

int Model::store(const Node &node, const std::string &data)
{
    switch (node.kind) {
    case Kind::gpio_export:
    case Kind::gpio_unexport:
        return store_gpio_export(data, node.kind == Kind::gpio_export);
    case Kind::line_active_low:
    case Kind::line_direction:
    case Kind::line_edge:
    case Kind::line_value:
        return store_line(lines_.at(node.object), node.kind, data);
    case Kind::pwm_export:
    case Kind::pwm_unexport:
        return store_pwm_export(pwmchips_.at(node.object), data, node.kind == Kind::pwm_export);
    case Kind::channel_duty_cycle:
    case Kind::channel_enable:
    case Kind::channel_period:
    case Kind::channel_polarity:
        return store_channel(pwmchips_.at(node.object).channels[(size_t)node.channel], node.kind,
                             data);
    default:
        return -EIO; // read-only attribute
    }
}

int Model::store_gpio_export(const std::string &data, bool exporting)
{
    long number;
    int r = parse_long(data, &number);
    if (r != 0)
        return r;
    auto it = lines_.find(number);
    if (it == lines_.end())
        return -EINVAL; // no chip has this line
    Line &line = it->second;
    if (exporting) {
        if (line.exported || line.held) // requested already: by sysfs or a driver
            return -EBUSY;
        line.exported = true;
        line.generation = next_generation_++;
    } else {
        if (!line.exported)
            return -EINVAL;
        // Freeing the line clears its polarity and lets go of its
        // interrupt; it keeps its direction and level.
        line.exported = false;
        line.active_low = false;
        line.edge = "none";
    }
    return 0;
}

int Model::store_line(Line &line, Kind kind, const std::string &data)
{
    long value;
    switch (kind) {
    case Kind::line_direction:
        // "high" and "low" set the level together with the direction,
        // without the active_low inversion.
        if (sysfs_streq(data, "high") || sysfs_streq(data, "low") || sysfs_streq(data, "out")) {
            line.output = true;
            line.level = sysfs_streq(data, "high") ? 1 : 0;
        } else if (sysfs_streq(data, "in")) {
            line.output = false;
        } else {
            return -EINVAL;
        }
        return 0;
    case Kind::line_value: {
        int r = parse_long(data, &value);
        if (!line.output)
            return -EPERM;
        if (r != 0)
            return r;
        line.level = (value != 0) ^ line.active_low;
        return 0;
    }
    case Kind::line_active_low: {
        int r = parse_long(data, &value);
        if (r == 0)
            line.active_low = value != 0;
        return r;
    }
    case Kind::line_edge:
        for (const char *edge : {"none", "rising", "falling", "both"}) {
            if (!sysfs_streq(data, edge))
                continue;
            if (line.edge == edge)
                return 0;
            // A new edge lets go of the line's interrupt and asks for it
            // anew, which the kernel refuses on an output. The direction
            // store does not look at the edge, so an edge set on an input
            // may meet an output here.
            line.edge = "none";
            if (strcmp(edge, "none") != 0 && line.output)
                return -EIO;
            line.edge = edge;
            return 0;
        }
        return -EINVAL;
    default:
        return -EIO;
    }
}

int Model::store_pwm_export(PwmChip &chip, const std::string &data, bool exporting)
{
    unsigned int number;
    int r = parse_uint(data, &number);
    if (r != 0)
        return r;
    if (number >= chip.channels.size())
        return -ENODEV;
    Channel &c = chip.channels[number];
    if (exporting) {
        if (c.exported)
            return -EBUSY;
        c.exported = true;
        c.generation = next_generation_++;
    } else {
        if (!c.exported)
            return -ENODEV;
        c.exported = false; // the output goes on as it was
    }
    return 0;
}

// Each store hands the whole new state to the PWM core, which refuses a
// state without a period or with a duty cycle longer than the period.
int Model::store_channel(Channel &channel, Kind kind, const std::string &data)
{
    Channel next = channel;
    int r = 0;
    long value = 0;
    switch (kind) {
    case Kind::channel_period:
        r = parse_u64(data, &next.period);
        break;
    case Kind::channel_duty_cycle:
        r = parse_u64(data, &next.duty_cycle);
        break;
    case Kind::channel_enable:
        r = parse_long(data, &value);
        if (r == 0 && value != 0 && value != 1)
            r = -EINVAL;
        next.enabled = value == 1;
        break;
    case Kind::channel_polarity:
        if (sysfs_streq(data, "normal") || sysfs_streq(data, "inversed"))
            next.inversed = sysfs_streq(data, "inversed");
        else
            r = -EINVAL;
        break;
    default:
        r = -EIO;
    }
    if (r != 0)
        return r;
    if (next.period == 0 || next.duty_cycle > next.period)
        return -EINVAL;
    channel = next;
    return 0;
}

} // namespace simsysfs
