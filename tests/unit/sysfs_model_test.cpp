// The simulated board's sysfs rules: what the GPIO and PWM suites rely on
// the emulator refusing, as the kernel refuses it.
#include "sysfs_model.h"

#include <gtest/gtest.h>

#include <errno.h>

#include <string>
#include <vector>

using simsysfs::Model;
using simsysfs::Node;

namespace
{

class Sysfs : public testing::Test
{
  protected:
    Model model;
    std::vector<std::string> log;

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(model.load("# board\ngpiochip 0 8\ngpiochip 32 4 bank1\n"
                               "pwmchip 0 2\nlevel 3 1\nheld 6\n",
                               &error))
            << error;
        model.log = [this](const std::string &line) { log.push_back(line); };
    }

    Node node(const std::string &path)
    {
        Node n;
        EXPECT_EQ(model.lookup(path, &n), 0) << path;
        return n;
    }
    int put(const std::string &path, const std::string &data)
    {
        return model.write(node(path), data, 7);
    }
    std::string get(const std::string &path)
    {
        std::string text;
        EXPECT_EQ(model.read(node(path), &text), 0) << path;
        return text;
    }
    bool exists(const std::string &path)
    {
        Node n;
        return model.lookup(path, &n) == 0;
    }
};

TEST(Numbers, KernelIntegerRules)
{
    long v = 0;
    EXPECT_EQ(simsysfs::parse_long("17\n", &v), 0);
    EXPECT_EQ(v, 17);
    EXPECT_EQ(simsysfs::parse_long("0x1f", &v), 0);
    EXPECT_EQ(v, 31);
    EXPECT_EQ(simsysfs::parse_long("010", &v), 0);
    EXPECT_EQ(v, 8);
    EXPECT_EQ(simsysfs::parse_long("-3", &v), 0);
    EXPECT_EQ(v, -3);
    for (const char *bad : {"", "\n", " 1", "1 ", "1\n\n", "08", "0x", "abc", "1x"})
        EXPECT_EQ(simsysfs::parse_long(bad, &v), -EINVAL) << bad;
    EXPECT_EQ(simsysfs::parse_long("9223372036854775808", &v), -ERANGE);
    unsigned int u = 0;
    EXPECT_EQ(simsysfs::parse_uint("-1", &u), -EINVAL);
    EXPECT_EQ(simsysfs::parse_uint("4294967296", &u), -ERANGE);
    EXPECT_TRUE(simsysfs::sysfs_streq("high\n", "high"));
    EXPECT_FALSE(simsysfs::sysfs_streq("high ", "high"));
}

TEST(Description, WrongLinesAreNamed)
{
    for (const char *text : {"gpiochip 0", "gpiochip 0 8\ngpiochip 4 8", "pwmchip 0 0", "level 9 1",
                             "gpiochip 0 8\nlevel 1 2", "wire 1 2", "pwmchip 0 2 x", "held 9",
                             "gpiochip 0 8\nheld 1 x"}) {
        Model m;
        std::string error;
        EXPECT_FALSE(m.load(text, &error)) << text;
        EXPECT_EQ(error.compare(0, 5, "line "), 0) << error;
    }
}

TEST_F(Sysfs, TreeShowsChipsAndOnlyExportedLinesAndChannels)
{
    EXPECT_EQ(model.list(node("/gpio")),
              (std::vector<std::string>{"export", "unexport", "gpiochip0", "gpiochip32"}));
    EXPECT_EQ(get("/gpio/gpiochip32/base"), "32\n");
    EXPECT_EQ(get("/gpio/gpiochip32/ngpio"), "4\n");
    EXPECT_EQ(get("/gpio/gpiochip32/label"), "bank1\n");
    EXPECT_EQ(get("/pwm/pwmchip0/npwm"), "2\n");
    EXPECT_FALSE(exists("/gpio/gpio3"));
    EXPECT_FALSE(exists("/gpio/gpio03"));
    EXPECT_FALSE(exists("/gpio/export/x"));
    EXPECT_FALSE(exists("/pwm/pwmchip1"));
    EXPECT_EQ(model.mode(node("/gpio/export")), 0200u);
    EXPECT_EQ(model.mode(node("/gpio/gpiochip0/base")), 0444u);
    EXPECT_EQ(model.open(node("/gpio/export"), true, false), -EACCES);
    EXPECT_EQ(model.open(node("/pwm/pwmchip0/npwm"), false, true), -EACCES);
}

TEST_F(Sysfs, GpioExportUnexportAndTheirRefusals)
{
    EXPECT_EQ(put("/gpio/export", "3\n"), 0);
    EXPECT_EQ(model.list(node("/gpio")).back(), "gpio3");
    EXPECT_EQ(put("/gpio/export", "3"), -EBUSY);
    EXPECT_EQ(put("/gpio/export", "8"), -EINVAL);  // between the chips
    EXPECT_EQ(put("/gpio/export", "36"), -EINVAL); // past the second
    EXPECT_EQ(put("/gpio/export", "-1"), -EINVAL);
    EXPECT_EQ(put("/gpio/export", "x"), -EINVAL);
    EXPECT_EQ(put("/gpio/export", "0x21"), 0);
    EXPECT_EQ(put("/gpio/unexport", "4"), -EINVAL); // not exported
    // A line a driver holds: busy, and sysfs shows nothing of it.
    EXPECT_EQ(put("/gpio/export", "6"), -EBUSY);
    EXPECT_FALSE(exists("/gpio/gpio6"));
    EXPECT_EQ(put("/gpio/unexport", "6"), -EINVAL);
    EXPECT_EQ(put("/gpio/unexport", "3"), 0);
    EXPECT_FALSE(exists("/gpio/gpio3"));
    EXPECT_EQ(put("/gpio/gpiochip0/base", "1"), -EIO);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "7 /sys/class/gpio/export 3 ok");
    EXPECT_EQ(log[1], "7 /sys/class/gpio/export 3 EBUSY");
}

TEST_F(Sysfs, LineDirectionAndValue)
{
    put("/gpio/export", "3");
    EXPECT_EQ(get("/gpio/gpio3/direction"), "in\n");
    EXPECT_EQ(get("/gpio/gpio3/value"), "1\n"); // driven from outside
    EXPECT_EQ(put("/gpio/gpio3/value", "0"), -EPERM);
    EXPECT_EQ(put("/gpio/gpio3/value", "junk"), -EPERM); // EPERM comes first
    EXPECT_EQ(put("/gpio/gpio3/direction", "sideways"), -EINVAL);
    EXPECT_EQ(put("/gpio/gpio3/direction", "high\n"), 0);
    EXPECT_EQ(get("/gpio/gpio3/direction"), "out\n");
    EXPECT_EQ(get("/gpio/gpio3/value"), "1\n");
    EXPECT_EQ(put("/gpio/gpio3/value", "0"), 0);
    EXPECT_EQ(get("/gpio/gpio3/value"), "0\n");
    EXPECT_EQ(put("/gpio/gpio3/value", "5"), 0); // any non-zero is 1
    EXPECT_EQ(get("/gpio/gpio3/value"), "1\n");
    EXPECT_EQ(put("/gpio/gpio3/value", "x"), -EINVAL);
    EXPECT_EQ(put("/gpio/gpio3/direction", "out"), 0); // "out" is low
    EXPECT_EQ(get("/gpio/gpio3/value"), "0\n");
    // An edge asks for the line's interrupt, which an output cannot give.
    EXPECT_EQ(put("/gpio/gpio3/edge", "both"), -EIO);
    EXPECT_EQ(put("/gpio/gpio3/edge", "none"), 0);
    EXPECT_EQ(put("/gpio/gpio3/edge", "up"), -EINVAL);
    EXPECT_EQ(put("/gpio/gpio3/direction", "in"), 0);
    EXPECT_EQ(put("/gpio/gpio3/edge", "both"), 0);
    // The direction store sets an output without looking at the edge; the
    // next edge store lets go of the interrupt, then cannot have it again.
    EXPECT_EQ(put("/gpio/gpio3/direction", "out"), 0);
    EXPECT_EQ(get("/gpio/gpio3/edge"), "both\n");
    EXPECT_EQ(put("/gpio/gpio3/edge", "rising"), -EIO);
    EXPECT_EQ(get("/gpio/gpio3/edge"), "none\n");
    // Unexport lets go of sysfs, not of the line: it is still an output.
    put("/gpio/unexport", "3");
    put("/gpio/export", "3");
    EXPECT_EQ(get("/gpio/gpio3/direction"), "out\n");
}

TEST_F(Sysfs, ActiveLowInvertsTheValueButNotHighAndLow)
{
    put("/gpio/export", "2");
    EXPECT_EQ(put("/gpio/gpio2/active_low", "1"), 0);
    EXPECT_EQ(get("/gpio/gpio2/value"), "1\n"); // input at 0, inverted
    EXPECT_EQ(put("/gpio/gpio2/direction", "high"), 0);
    EXPECT_EQ(get("/gpio/gpio2/value"), "0\n");
    EXPECT_EQ(put("/gpio/gpio2/value", "0"), 0);
    EXPECT_EQ(put("/gpio/gpio2/active_low", "0"), 0);
    EXPECT_EQ(get("/gpio/gpio2/value"), "1\n");
    // Freeing the line clears its polarity; the level stays.
    put("/gpio/gpio2/active_low", "1");
    put("/gpio/unexport", "2");
    put("/gpio/export", "2");
    EXPECT_EQ(get("/gpio/gpio2/active_low"), "0\n");
    EXPECT_EQ(get("/gpio/gpio2/value"), "1\n");
}

TEST_F(Sysfs, FilesOfAnUnexportedLineOrChannelAnswerNoDevice)
{
    put("/gpio/export", "5");
    Node value = node("/gpio/gpio5/value");
    put("/gpio/unexport", "5");
    std::string text;
    EXPECT_EQ(model.read(value, &text), -ENODEV);
    EXPECT_EQ(model.write(value, "1", 9), -ENODEV);
    EXPECT_EQ(log.back(), "9 /sys/class/gpio/gpio5/value 1 ENODEV");
    put("/gpio/export", "5"); // a new export: the old file stays dead
    EXPECT_EQ(model.read(value, &text), -ENODEV);

    put("/pwm/pwmchip0/export", "1");
    Node period = node("/pwm/pwmchip0/pwm1/period");
    put("/pwm/pwmchip0/unexport", "1");
    EXPECT_EQ(model.write(period, "10", 9), -ENODEV);
}

TEST_F(Sysfs, PwmExportRules)
{
    EXPECT_EQ(put("/pwm/pwmchip0/export", "2"), -ENODEV); // only 0 and 1
    EXPECT_EQ(put("/pwm/pwmchip0/export", "-1"), -EINVAL);
    EXPECT_EQ(put("/pwm/pwmchip0/unexport", "0"), -ENODEV); // not exported
    EXPECT_EQ(put("/pwm/pwmchip0/export", "0"), 0);
    EXPECT_EQ(put("/pwm/pwmchip0/export", "0"), -EBUSY);
    EXPECT_EQ(model.list(node("/pwm/pwmchip0")),
              (std::vector<std::string>{"export", "npwm", "unexport", "pwm0"}));
    EXPECT_EQ(get("/pwm/pwmchip0/pwm0/period"), "0\n");
    EXPECT_EQ(get("/pwm/pwmchip0/pwm0/enable"), "0\n");
    EXPECT_EQ(get("/pwm/pwmchip0/pwm0/polarity"), "normal\n");
}

TEST_F(Sysfs, DutyCycleNeverLongerThanThePeriodAndNothingWithoutAPeriod)
{
    const std::string ch = "/pwm/pwmchip0/pwm0/";
    put("/pwm/pwmchip0/export", "0");
    EXPECT_EQ(put(ch + "enable", "1"), -EINVAL);     // no period yet
    EXPECT_EQ(put(ch + "duty_cycle", "0"), -EINVAL); // still none
    EXPECT_EQ(put(ch + "polarity", "inversed"), -EINVAL);
    EXPECT_EQ(put(ch + "period", "0"), -EINVAL);
    EXPECT_EQ(put(ch + "period", "1000"), 0);
    EXPECT_EQ(put(ch + "duty_cycle", "1001"), -EINVAL);
    EXPECT_EQ(put(ch + "duty_cycle", "1000"), 0);
    EXPECT_EQ(put(ch + "period", "999"), -EINVAL); // below the duty cycle
    EXPECT_EQ(get(ch + "period"), "1000\n");       // refused: unchanged
    EXPECT_EQ(put(ch + "duty_cycle", "400"), 0);
    EXPECT_EQ(put(ch + "period", "400"), 0);
    EXPECT_EQ(put(ch + "enable", "2"), -EINVAL);
    EXPECT_EQ(put(ch + "enable", "1"), 0);
    EXPECT_EQ(put(ch + "polarity", "upside"), -EINVAL);
    EXPECT_EQ(put(ch + "polarity", "inversed\n"), 0);
    EXPECT_EQ(get(ch + "duty_cycle"), "400\n");
    EXPECT_EQ(get(ch + "enable"), "1\n");
    EXPECT_EQ(get(ch + "polarity"), "inversed\n");
    // Unexport leaves the output running; a new export shows it.
    put("/pwm/pwmchip0/unexport", "0");
    put("/pwm/pwmchip0/export", "0");
    EXPECT_EQ(get(ch + "period"), "400\n");
}

TEST_F(Sysfs, LogShowsWhatWasWrittenReadably)
{
    put("/gpio/export", "");
    put("/gpio/export", "1 2\n");
    put("/gpio/export", "a\\b\n\n");
    EXPECT_EQ(log[0], "7 /sys/class/gpio/export \"\" EINVAL");
    EXPECT_EQ(log[1], "7 /sys/class/gpio/export 1\\x202 EINVAL");
    EXPECT_EQ(log[2], "7 /sys/class/gpio/export a\\x5cb\\x0a EINVAL");
}

} // namespace
