// adc's reading and sampling where the end-to-end tests cannot reach:
// channel numbers out of the table, the sleeps between cycles, and a count
// that wraps round.
#include "bv_adc.cpp"
#include "peripheral_request.cpp"
#include "wraps.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <string>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

void raise_stop(int) { stop_flag = 1; }

class Sampling : public testing::Test {
protected:
    void SetUp() override
    {
        // Unit tests run on the simulated board: its /sys is the board's own.
        mkdir("/sys/bus", 0755);
        mkdir("/sys/bus/iio", 0755);
        mkdir("/sys/bus/iio/devices", 0755);
        mkdir("/sys/bus/iio/devices/iio:device0", 0755);
        FILE *fp = fopen(adc_channels[0].path, "w");
        ASSERT_NE(fp, nullptr);
        fputs("1023\n", fp);
        fclose(fp);
        wraps.reset();
        stop_flag = 0;
    }
    void TearDown() override
    {
        wraps.reset();
        stop_flag = 0;
        adc_settings = {0, -1, 1000};
    }
};

TEST_F(Sampling, ChannelOutsideTheTableIsAnError)
{
    CaptureStdout();
    EXPECT_EQ(read_adc_channel(3), -1);
    EXPECT_EQ(read_adc_channel(-1), -1);
    EXPECT_EQ(GetCapturedStdout(), "error channel id:3\nerror channel id:-1\n");
}

TEST_F(Sampling, EachReadingIsFollowedByTheDelay)
{
    wraps.really_sleep = false;
    adc_settings = {0, 3, 200};
    CaptureStdout();
    adc_sample(0);
    EXPECT_EQ(GetCapturedStdout(), "Adc[0] = 312\nAdc[0] = 312\nAdc[0] = 312\n");
    ASSERT_EQ(wraps.sleeps.size(), 3u);
    for (const timespec &ts : wraps.sleeps) {
        EXPECT_EQ(ts.tv_sec, 0);
        EXPECT_EQ(ts.tv_nsec, 200000000L);
    }
}

TEST_F(Sampling, CountBelowMinusOneWrapsRoundUntilASignal)
{
    adc_settings = {0, -2, 5};
    signal(SIGALRM, raise_stop);
    struct itimerval timer = {{0, 0}, {0, 100000}};
    setitimer(ITIMER_REAL, &timer, NULL);
    CaptureStdout();
    adc_sample(0);
    std::string out = GetCapturedStdout();
    signal(SIGALRM, SIG_DFL);
    size_t cycles = wraps.sleeps.size();
    EXPECT_GE(cycles, 2u); // not a count of zero or of two
    EXPECT_EQ(out.size(), cycles * strlen("Adc[0] = 312\n"));
}

// The raw file holds at most four characters of decimal text: what atoi
// makes of them, times 580/1900, rounded toward zero.
TEST(Scaling, RawTextToMillivolts)
{
    const struct {
        const char *raw;
        int mv;
    } cases[] = {
        {"1900", 580}, {"1023", 312}, {"0", 0},   {"3", 0},      {"4", 1},
        {"12\n", 3},   {"", 0},       {"abc", 0}, {"9999", 3052}, {"-999", -304},
    };
    for (const auto &c : cases)
        EXPECT_EQ(adc_millivolts(c.raw), c.mv) << '"' << c.raw << '"';
}

} // namespace
