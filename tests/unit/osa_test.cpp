// OS layer: address check, clock, sleep, error reports, console notices.
#include "osa.h"
#include "wraps.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

TEST(CheckIPAddr, AcceptsDottedQuads)
{
    for (const char *ok : {"192.168.0.1", "0.0.0.0", "255.255.255.255", " 1.2.3.4", "1. 2.\t3.4",
                           "01.02.03.04", "010.1.1.1", "+1.2.3.4", "-0.2.3.4", "1.2.3.00255"})
        EXPECT_EQ(CheckIPAddr(ok), 1) << ok;
}

TEST(CheckIPAddr, RefusesEverythingElse)
{
    for (const char *bad :
         {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", "1,2,3,4", "1..2.3", "", "1.2.3.",
          "-1.2.3.4", "1.2.3.256", "1 .2.3.4", "a.b.c.d", "1.2.3.4\n", "0x1.2.3.4",
          "99999999999999999999.1.1.1", "1.2.3.4294967297", "+.1.2.3", "1.2.3.- 4"})
        EXPECT_EQ(CheckIPAddr(bad), 0) << '"' << bad << '"';
    EXPECT_EQ(CheckIPAddr(nullptr), 0);
}

class Clock : public testing::Test {
protected:
    void SetUp() override { wraps.reset(); }
    void TearDown() override { wraps.reset(); }
};

TEST_F(Clock, MillisecondsWrapIn32Bits)
{
    wraps.clock_fixed = true;
    wraps.clock_value = {12, 345999};
    EXPECT_EQ(OSA_timeNowMs(), 12345u);
    // 4294968 s is 2^32 ms plus 704 ms.
    wraps.clock_value = {4294968, 1000};
    EXPECT_EQ(OSA_timeNowMs(), 705u);
    wraps.clock_fails = true;
    EXPECT_EQ(OSA_timeNowMs(), 0u);
}

TEST_F(Clock, SleepSplitsMillisecondsIntoSecondsAndNanoseconds)
{
    wraps.really_sleep = false;
    OSA_sleepMs(1500);
    OSA_sleepMs(0);
    OSA_sleepMs(999);
    OSA_sleepMs(4294967295u);
    ASSERT_EQ(wraps.sleeps.size(), 4u);
    EXPECT_EQ(wraps.sleeps[0].tv_sec, 1);
    EXPECT_EQ(wraps.sleeps[0].tv_nsec, 500000000);
    EXPECT_EQ(wraps.sleeps[1].tv_sec, 0);
    EXPECT_EQ(wraps.sleeps[1].tv_nsec, 0);
    EXPECT_EQ(wraps.sleeps[2].tv_nsec, 999000000);
    EXPECT_EQ(wraps.sleeps[3].tv_sec, 4294967);
    EXPECT_EQ(wraps.sleeps[3].tv_nsec, 295000000);
}

void on_alarm(int) {}

TEST_F(Clock, SignalEndsASleepEarly)
{
    struct sigaction sa = {};
    sa.sa_handler = on_alarm;
    sigaction(SIGALRM, &sa, NULL);
    struct itimerval timer = {{0, 0}, {0, 100000}};
    setitimer(ITIMER_REAL, &timer, NULL);
    uint32_t start = OSA_timeNowMs();
    OSA_sleepMs(20000);
    uint32_t elapsed = OSA_timeNowMs() - start;
    EXPECT_LT(elapsed, 10000u);
    ASSERT_EQ(wraps.sleeps.size(), 1u); // not resumed
    signal(SIGALRM, SIG_DFL);
}

void on_interrupt(int) {}

// The signal lands after every check a caller can make and before the wait
// has begun: the sleep must end at once all the same.
TEST_F(Clock, ASignalAsTheSleepBeginsEndsIt)
{
    struct sigaction sa = {}, old;
    sa.sa_handler = on_interrupt;
    sigaction(SIGINT, &sa, &old);
    wraps.signal_as_sleep_begins = SIGINT;
    uint32_t start = OSA_timeNowMs();
    OSA_sleepMs(20000);
    uint32_t elapsed = OSA_timeNowMs() - start;
    sigaction(SIGINT, &old, NULL);
    EXPECT_LT(elapsed, 10000u);
    EXPECT_EQ(wraps.sleeps.size(), 1u);
}

// After a stop request nothing sleeps and nothing that changes something
// starts; other commands still run. The request lasts for the process: a
// child process of its own.
TEST(StopRequestDeathTest, EndsSleepsAndRefusesChangingCommands)
{
    EXPECT_EXIT(
        {
            wraps.reset();
            OSA_stopRequest(SIGINT);
            OSA_sleepMs(20000);
            int refused = OSA_systemUnlessStopped("echo changed >/mnt/nand2/stop.test");
            int refused_errno = errno;
            int ran = OSA_system("sh -c 'exit 3'");
            bool ok = OSA_stopRequested() == 1 && wraps.sleeps.empty() && refused == -1 &&
                      refused_errno == ECANCELED && access("/mnt/nand2/stop.test", F_OK) != 0 &&
                      WIFEXITED(ran) && WEXITSTATUS(ran) == 3;
            _exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(OSA_stopRequested(), 0) << "only the child process asked to stop";
}

static const char OSA_UNIT[] = "osa_test";

TEST(ErrorReport, PrefixNamesUnitFunctionAndLine)
{
    CaptureStderr();
    int line = __LINE__ + 1;
    OSA_ERROR("Unknow option %d\n", 7);
    EXPECT_EQ(GetCapturedStderr(),
              " ERROR  (osa_test|TestBody|" + std::to_string(line) + "): Unknow option 7\n");
}

TEST(ErrorReport, MutexCreationFailureIsReportedTwice)
{
    wraps.mutex_init_result = 22;
    CaptureStderr();
    int status = OSA_init();
    std::string err = GetCapturedStderr();
    wraps.reset();
    EXPECT_EQ(status, 22);
    ASSERT_EQ(OSA_init(), 0);
    // Line numbers are not the point here; compare the rest.
    err = std::regex_replace(err, std::regex("\\|[0-9]+\\)"), "|)");
    EXPECT_EQ(err, " ERROR  (osa_mutex|OSA_mutexCreate|): OSA_mutexCreate() = 22 \r\n"
                   " ERROR  (osa|OSA_init|): OSA_mutexCreate()\n");
}

TEST(Console, NoticeWaitsForTheLockHolder)
{
    CaptureStdout();
    OSA_printf("before\n");
    OSA_mutexLock(&console_lock);
    OSA_consoleNoticeFromSignal("\nnotice\n", 8); // the console is held: kept
    printf("held");
    fflush(stdout);
    OSA_mutexUnlock(&console_lock);
    OSA_printf(" after\n"); // drained once this write lets go of the lock
    OSA_consoleNoticeFromSignal("free\n", 5); // the console is free: at once
    EXPECT_EQ(GetCapturedStdout(), "before\nheld after\n\nnotice\nfree\n");
}

TEST(Shell, OutputStaysInCommandLineOrder)
{
    CaptureStdout();
    OSA_printf("one ");
    OSA_system("echo two");
    OSA_putchar('3');
    OSA_puts("");
    FILE *child = OSA_popen("cat", "w");
    ASSERT_NE(child, nullptr);
    fputs("four\n", child);
    pclose(child);
    OSA_printfUnlocked("five\n");
    EXPECT_EQ(GetCapturedStdout(), "one two\n3\nfour\nfive\n");
}

// What a command took: the monotonic clock from start to end, and the
// kernel's account of the command.
TEST(Shell, ATimedCommandTellsWhatItTook)
{
    OSA_commandTime spent = {};
    EXPECT_EQ(OSA_systemTimed("sleep 0.3", 0, &spent), 0);
    EXPECT_GE(spent.elapsed_us, 300000u);
    EXPECT_LT(spent.elapsed_us, 10000000u);
    EXPECT_GT(spent.usage.ru_maxrss, 0);
}

// The commands run with exec: only a program counts as found.
TEST(Shell, ProgramsAreFoundAsTheShellFindsThem)
{
    EXPECT_EQ(OSA_programFound("sh"), 1);
    EXPECT_EQ(OSA_programFound("no-such-program"), 0);
    EXPECT_EQ(OSA_programFound("cd"), 0) << "a built-in";
}

} // namespace
