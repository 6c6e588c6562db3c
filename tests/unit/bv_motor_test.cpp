// motor's parser where the end-to-end suite cannot look: the widths of the
// numbers, and the P-iris wait's sleep before its first look.
#include "bv_motor.cpp"
#include "wraps.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <vector>

namespace
{

class MotorParser : public testing::Test
{
  protected:
    void SetUp() override
    {
        wraps.reset();
        wraps.really_sleep = false;
        stepper_req = {STEPPER_FOCUS, STEPPER_FORWARD, 10};
    }
    void TearDown() override
    {
        STEPPER_close();
        unlink("/mnt/nand/stepper.pos");
        wraps.reset();
    }
    void parse(std::vector<const char *> words)
    {
        words.insert(words.begin(), {"debug", "-M", "motor"});
        motor_init_param((int)words.size(), const_cast<char **>(words.data()));
    }
};

// (A type or direction past 32 bits is refused: motor.test.)
TEST_F(MotorParser, TypeAndDirectionIn32BitsTheStepsIn64)
{
    parse({"-t", "0x1", "-d", "03", "-s", "0xffffffffffffffff", "-i", "5"});
    EXPECT_EQ(stepper_req.type, 1u);
    EXPECT_EQ(stepper_req.dir, 3u);
    EXPECT_EQ(stepper_req.steps, UINT64_MAX);
    parse({"-t", "0", "-s", "text"});
    EXPECT_EQ(stepper_req.type, 0u);
    EXPECT_EQ(stepper_req.steps, 0u);
}

TEST_F(MotorParser, DutyWaitSleepsBeforeItsFirstLookEvenWhenThePIrisIsThere)
{
    FILE *fp = fopen("/mnt/nand/stepper.pos", "w");
    ASSERT_NE(fp, nullptr);
    fputs("piris 7\n", fp);
    fclose(fp);
    // 7, where the P-iris is: one sleep, one look.
    parse({"-p", "7"});
    ASSERT_EQ(wraps.sleeps.size(), 1u);
    EXPECT_EQ(wraps.sleeps[0].tv_sec, 0);
    EXPECT_EQ(wraps.sleeps[0].tv_nsec, 5000000L);
}

} // namespace
