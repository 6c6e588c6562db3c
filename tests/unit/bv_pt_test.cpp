// publish_request where the end-to-end tests cannot reach: attach and detach
// failures, a copy of exactly the record's size, and the twins' records.
#include "bv_pt.cpp"
#include "bv_extdrv.cpp"
#include "peripheral_request.cpp"

#include <gtest/gtest.h>

#include <errno.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

static bool fail_attach;
static bool fail_detach;

extern "C" {
void *__real_shmat(int id, const void *addr, int flags);
int __real_shmdt(const void *addr);

void *__wrap_shmat(int id, const void *addr, int flags)
{
    if (fail_attach) {
        errno = ENOMEM;
        return (void *)-1;
    }
    return __real_shmat(id, addr, flags);
}

int __wrap_shmdt(const void *addr)
{
    int status = __real_shmdt(addr);
    if (fail_detach) {
        errno = EINVAL;
        return -1;
    }
    return status;
}
}

namespace {

const key_t TEST_KEY = 0x7e57;

// The segment's bytes, as another process would read them.
std::vector<unsigned char> segment_bytes(key_t key)
{
    int id = shmget(key, 0, 0);
    struct shmid_ds info;
    if (id < 0 || shmctl(id, IPC_STAT, &info) != 0)
        return {};
    auto *base = (const unsigned char *)__real_shmat(id, NULL, SHM_RDONLY);
    std::vector<unsigned char> bytes(base, base + info.shm_segsz);
    __real_shmdt(base);
    return bytes;
}

class Publish : public testing::Test {
protected:
    void TearDown() override
    {
        fail_attach = fail_detach = false;
        for (key_t key : {TEST_KEY, PT_REQUEST_KEY, EXTDRV_REQUEST_KEY}) {
            int id = shmget(key, 0, 0);
            if (id >= 0)
                shmctl(id, IPC_RMID, NULL);
        }
    }
    peripheral_request record = {1, 0, 104, 8388708, 8388808, 0, 0, 0, {0, 0, 0, 0, 0}};
};

TEST_F(Publish, AttachFailureIsReportedAndNothingIsWritten)
{
    fail_attach = true;
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(publish_request(TEST_KEY, sizeof record, &record), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(GetCapturedStderr(), "attach error: Cannot allocate memory\n");
    EXPECT_EQ(segment_bytes(TEST_KEY), std::vector<unsigned char>(52, 0));
}

TEST_F(Publish, DetachFailureFailsThePublish)
{
    fail_detach = true;
    CaptureStderr();
    EXPECT_EQ(publish_request(TEST_KEY, sizeof record, &record), -1);
    EXPECT_EQ(GetCapturedStderr(), "detach error: Invalid argument\n");
}

TEST_F(Publish, CopiesExactlySizeBytesIntoALargerSegment)
{
    int id = shmget(TEST_KEY, 64, IPC_CREAT | 0666);
    ASSERT_GE(id, 0);
    void *base = shmat(id, NULL, 0);
    memset(base, 0xEE, 64);
    shmdt(base);

    EXPECT_EQ(publish_request(TEST_KEY, sizeof record, &record), 0);
    std::vector<unsigned char> want(64, 0xEE);
    memcpy(want.data(), &record, sizeof record);
    EXPECT_EQ(segment_bytes(TEST_KEY), want);
}

TEST_F(Publish, EachTwinParsesIntoItsOwnRecordAndSegment)
{
    char prog[] = "debug", dash_m[] = "-M", ext[] = "extdrv", pt[] = "pt";
    char heat[] = "-a", one[] = "1", fan[] = "--fan=0";
    char *ext_argv[] = {prog, dash_m, ext, heat, one, NULL};
    char *pt_argv[] = {prog, dash_m, pt, fan, NULL};
    EXPECT_EQ(pt_profile_run(&extdrv_twin, 5, ext_argv), 0);
    EXPECT_EQ(pt_profile_run(&pt_twin, 4, pt_argv), 0);

    EXPECT_EQ(extdrv_request.cmd, 101);
    EXPECT_EQ(pt_request.cmd, 100);
    EXPECT_EQ(segment_bytes(EXTDRV_REQUEST_KEY)[8], 101);
    EXPECT_EQ(segment_bytes(PT_REQUEST_KEY)[8], 100);
}

} // namespace
