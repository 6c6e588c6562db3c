// The cpu module: interval arithmetic, reading the proc files, the console
// and log lines, the option parser and the pacing of the sampling loop.
#include "bv_cpu.cpp"
#include "wraps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

cpu_counters counters(std::vector<uint64_t> ticks, uint64_t process = 0)
{
    cpu_counters c = {};
    for (size_t i = 0; i < ticks.size(); i++)
        c.tick[i] = ticks[i];
    c.process = process;
    return c;
}

std::string line_of(const cpu_load &l)
{
    char buf[128];
    cpu_format_line(buf, sizeof buf, &l);
    return buf;
}

/* ---- arithmetic ------------------------------------------------------------ */

TEST(CpuCompute, WorkedIntervalGivesEveryShare)
{
    // user 50, nice 10, system 20, idle 100, iowait 10, irq 5, softirq 5,
    // steal 0: 200 ticks, 4 of them this process's.
    cpu_counters prev = counters({1000, 200, 300, 5000, 100, 50, 50, 7}, 40);
    cpu_counters now = counters({1050, 210, 320, 5100, 110, 55, 55, 7}, 44);
    cpu_load l = {};
    ASSERT_EQ(cpu_compute(&prev, &now, &l), 0);
    EXPECT_DOUBLE_EQ(l.load, 50.0); // iowait counts as load
    EXPECT_DOUBLE_EQ(l.user, 30.0); // nice included
    EXPECT_DOUBLE_EQ(l.nice, 5.0);
    EXPECT_DOUBLE_EQ(l.sys, 15.0); // irq and softirq included
    EXPECT_DOUBLE_EQ(l.idle, 50.0);
    EXPECT_DOUBLE_EQ(l.iowait, 5.0);
    EXPECT_DOUBLE_EQ(l.irq, 2.5);
    EXPECT_DOUBLE_EQ(l.softirq, 2.5);
    EXPECT_DOUBLE_EQ(l.steal, 0.0);
    EXPECT_DOUBLE_EQ(l.proc, 2.0);
    EXPECT_EQ(line_of(l), "CPU: 50% (sys: 15% user: 30% wait:  5% steal:  0%)");
}

TEST(CpuCompute, NoTickInBetweenLeavesTheRecordAlone)
{
    cpu_counters same = counters({1050, 210, 320, 5100, 110, 55, 55, 0}, 44);
    cpu_counters later = same;
    later.process = 45; // the process counter alone does not make an interval
    cpu_load l;
    memset(&l, 0x5a, sizeof l);
    cpu_load before = l;
    EXPECT_EQ(cpu_compute(&same, &later, &l), -1);
    EXPECT_EQ(memcmp(&l, &before, sizeof l), 0);
}

TEST(CpuCompute, CountersSteppingBackCountAsNoTime)
{
    // iowait steps back by 10 while 200 ticks pass elsewhere.
    cpu_counters prev = counters({1000, 0, 300, 5000, 100, 0, 0, 0}, 9);
    cpu_counters now = counters({1100, 0, 300, 5100, 90, 0, 0, 0}, 5);
    cpu_load l = {};
    ASSERT_EQ(cpu_compute(&prev, &now, &l), 0);
    EXPECT_DOUBLE_EQ(l.iowait, 0.0);
    EXPECT_DOUBLE_EQ(l.user, 50.0);
    EXPECT_DOUBLE_EQ(l.load, 50.0);
    EXPECT_DOUBLE_EQ(l.proc, 0.0);
    EXPECT_EQ(line_of(l), "CPU: 50% (sys:  0% user: 50% wait:  0% steal:  0%)");

    // Read the other way round only iowait moves on; all stepping back is an
    // interval without ticks.
    ASSERT_EQ(cpu_compute(&now, &prev, &l), 0);
    EXPECT_DOUBLE_EQ(l.iowait, 100.0);
    EXPECT_DOUBLE_EQ(l.load, 100.0);
    cpu_counters all_back = counters({1, 0, 0, 1, 0, 0, 0, 0});
    EXPECT_EQ(cpu_compute(&now, &all_back, &l), -1);
}

TEST(CpuCompute, LargeCountersKeepTheirPrecision)
{
    const uint64_t big = UINT64_C(1) << 60;
    cpu_counters prev = counters({big, big, big, big, big, big, big, big});
    cpu_counters now = counters({big + 1, big, big, big + 3, big, big, big, big});
    cpu_load l = {};
    ASSERT_EQ(cpu_compute(&prev, &now, &l), 0);
    EXPECT_DOUBLE_EQ(l.load, 25.0);
    EXPECT_DOUBLE_EQ(l.user, 25.0);
}

// Counters the kernel would never write ("-1" reads as 2^64 - 1): deltas
// whose sum passes 2^64 must not wrap round into shares beyond the interval.
TEST(CpuCompute, DeltasBeyond64BitsTogetherStayWithinTheInterval)
{
    const uint64_t half = UINT64_C(1) << 63;
    cpu_counters prev = counters({0, 0, 0, 0, 0, 0, 0, 0});
    cpu_counters now = counters({half, half, 0, half, 0, 0, 0, 0});
    cpu_load l = {};
    ASSERT_EQ(cpu_compute(&prev, &now, &l), 0);
    EXPECT_DOUBLE_EQ(l.idle, 100.0 / 3);
    EXPECT_DOUBLE_EQ(l.nice, 100.0 / 3);
    EXPECT_DOUBLE_EQ(l.user, 200.0 / 3); // nice time included
    EXPECT_DOUBLE_EQ(l.load, 200.0 / 3);

    cpu_counters wrapped = counters({UINT64_MAX, 0, UINT64_MAX, 1, 0, UINT64_MAX, 0, 0});
    ASSERT_EQ(cpu_compute(&prev, &wrapped, &l), 0);
    for (double share : {l.user, l.nice, l.sys, l.idle, l.iowait, l.irq, l.softirq, l.steal, l.load})
        EXPECT_TRUE(share >= 0 && share <= 100) << share;
}

/* ---- readings ---------------------------------------------------------------- */

int parse_stat(const std::string &text, cpu_counters *c)
{
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    int r = cpu_parse_stat(fp, c);
    fclose(fp);
    return r;
}

int parse_self(const std::string &text, cpu_counters *c)
{
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    int r = cpu_parse_self(fp, c);
    fclose(fp);
    return r;
}

TEST(CpuRead, TakesTheAggregateLineWhereverItIs)
{
    cpu_counters c = {};
    ASSERT_EQ(parse_stat("cpu  10 20 30 40 50 60 70 80 90 100\n"
                         "cpu0 1 2 3 4 5 6 7 8 9 10\n"
                         "intr 5 0 0\nctxt 99\n",
                         &c),
              0);
    EXPECT_EQ(c.tick[CPU_USER], 10u);
    EXPECT_EQ(c.tick[CPU_STEAL], 80u); // guest counters are not summed again

    ASSERT_EQ(parse_stat("cpu0 1 2 3 4 5 6 7 8 9 10\n"
                         "cpu1 1 2 3 4 5 6 7 8 9 10\n"
                         "cpu 11 12 13 14 15 16 17 18\n",
                         &c),
              0);
    EXPECT_EQ(c.tick[CPU_USER], 11u);
    EXPECT_EQ(c.tick[CPU_STEAL], 18u);

    // A kernel without the steal column: steal reads as 0, not as garbage.
    ASSERT_EQ(parse_stat("cpu 1 2 3 4 5 6 7\ncpu0 1 2 3 4 5 6 7\n", &c), 0);
    EXPECT_EQ(c.tick[CPU_SOFTIRQ], 7u);
    EXPECT_EQ(c.tick[CPU_STEAL], 0u);
}

TEST(CpuRead, FailsWithoutTheAggregateLine)
{
    cpu_counters c = {};
    EXPECT_EQ(parse_stat("", &c), -1);
    EXPECT_EQ(parse_stat("cpu0 1 2 3 4 5 6 7 8\ncpu1 1 2 3 4 5 6 7 8\nintr 1\n", &c), -1);
    EXPECT_EQ(parse_stat("cpus 1 2 3 4 5 6 7 8\nprocesses 4\nprocs_running 1\n", &c), -1);
}

TEST(CpuRead, SumsTheFourTimesOfThisProcess)
{
    cpu_counters c = {};
    ASSERT_EQ(parse_self("4321 (debug) S 1 4321 4321 34816 4321 4194304 150 0 0 0 "
                         "7 3 2 1 20 0 1 0 123456 2490368 230\n",
                         &c),
              0);
    EXPECT_EQ(c.process, 13u);
    EXPECT_EQ(parse_self("4321 (debug) S 1 4321 4321 34816 4321 4194304 150 0 0 0 7 3 2\n", &c),
              -1);
    EXPECT_EQ(parse_self("", &c), -1);
}

/* ---- lines ------------------------------------------------------------------ */

TEST(CpuLines, FiguresAreRoundedIntoThreePlaces)
{
    cpu_load l = {};
    l.load = 100.0;
    l.sys = 99.6;
    l.user = 0.4;
    l.iowait = 12.5; // halfway rounds to even
    l.steal = 13.5;
    EXPECT_EQ(line_of(l), "CPU:100% (sys:100% user:  0% wait: 12% steal: 14%)");
}

TEST(CpuLines, SummaryWithoutAReportedSampleHasNoNan)
{
    cpu_stats s = {0.0, 100.0, 0.0, 0};
    char buf[128];
    cpu_format_summary(buf, sizeof buf, &s);
    EXPECT_STREQ(buf, "Average:0.000%   Max:0.00%  Min:100.00%");

    for (double load : {50.0, 25.0, 100.0})
        cpu_stats_add(&s, load);
    cpu_format_summary(buf, sizeof buf, &s);
    EXPECT_STREQ(buf, "Average:58.333%   Max:100.00%  Min:25.00%");
}

/* ---- options and pacing ------------------------------------------------------ */

class CpuRun : public testing::Test {
protected:
    void SetUp() override
    {
        cpu_delay = 1;
        cpu_count = 60;
        wraps.reset();
        wraps.really_sleep = false;
        stop_flag = 0;
        cpu_prev = cpu_counters{};
    }
    void TearDown() override { SetUp(); }

    // Calls FN with "debug -M cpu WORDS..."; keeps standard output.
    int call(int (*fn)(int, char **), std::vector<std::string> words)
    {
        words.insert(words.begin(), {"debug", "-M", "cpu"});
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        optind = 0; // a fresh scan
        CaptureStdout();
        int r = fn((int)words.size(), argv.data());
        out = GetCapturedStdout();
        return r;
    }

    std::string out;
};

TEST_F(CpuRun, NumbersAreDecimalHexOrOctal)
{
    ASSERT_EQ(call(cpu_init_param, {"-c", "0x10", "-d", "010"}), 0);
    EXPECT_EQ(cpu_count, 16);
    EXPECT_EQ(cpu_delay, 8);
    ASSERT_EQ(call(cpu_init_param, {"--count", "2147483647", "--delay", "12abc"}), 0);
    EXPECT_EQ(cpu_count, INT32_MAX);
    EXPECT_EQ(cpu_delay, 12);
}

TEST_F(CpuRun, CountPlusTwoReadingsEachFollowedByOnePause)
{
    ASSERT_EQ(call(cpu_run, {"-c", "3", "-d", "7", "-l", "/tmp/cpu_unit.txt"}), 0);
    remove("/tmp/cpu_unit.txt");
    ASSERT_EQ(wraps.sleeps.size(), 5u);
    for (const auto &ts : wraps.sleeps) {
        EXPECT_EQ(ts.tv_sec, 7);
        EXPECT_EQ(ts.tv_nsec, 0);
    }
    size_t lines = 0;
    for (size_t at = out.find("\033[1;32mCPU:"); at != std::string::npos;
         at = out.find("\033[1;32mCPU:", at + 1))
        lines++;
    EXPECT_EQ(lines, 3u);
    EXPECT_NE(out.find("\033[1;32mAverage:"), std::string::npos);
    EXPECT_EQ(stop_flag, 1);
}

TEST_F(CpuRun, PausesBeyond32BitMillisecondsGoInParts)
{
    cpu_pause(5000000);
    ASSERT_EQ(wraps.sleeps.size(), 2u);
    EXPECT_EQ(wraps.sleeps[0].tv_sec, 4000000);
    EXPECT_EQ(wraps.sleeps[1].tv_sec, 1000000);

    wraps.sleeps.clear();
    cpu_pause(INT32_MAX);
    int64_t total = 0;
    for (const auto &ts : wraps.sleeps) {
        EXPECT_LE(ts.tv_sec, 4294967); // what 32-bit milliseconds can hold
        total += ts.tv_sec;
    }
    EXPECT_EQ(total, INT32_MAX);

    // A signal during a part ends the pause.
    wraps.sleeps.clear();
    stop_flag = 1;
    cpu_pause(9000000);
    EXPECT_EQ(wraps.sleeps.size(), 1u);
}

} // namespace
