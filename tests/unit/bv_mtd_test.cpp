// The mtd module's parser, partition lines and block loop, for what the
// end-to-end suite cannot reach. MEMGETBADBLOCK goes to a fake device
// (-Wl,--wrap=ioctl).
#include "bv_mtd.cpp"

#include <gtest/gtest.h>

#include <stdarg.h>

#include <string>
#include <vector>

namespace {
std::vector<long long> asked; // offsets of the requests on the fake device
}

// The fake device, descriptor 99, has no bad blocks; it gives up after
// 1000 requests so that a scan that never ends fails instead.
extern "C" int __real_ioctl(int fd, unsigned long request, ...);
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (fd != 99 || request != MEMGETBADBLOCK)
        return __real_ioctl(fd, request, arg);
    asked.push_back(*static_cast<const int64_t *>(arg));
    if (asked.size() > 1000) {
        errno = EIO;
        return -1;
    }
    return 0;
}

namespace {

int parse(std::vector<std::string> words)
{
    words.insert(words.begin(), {"debug", "-M", "mtd"});
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return mtd_init_param((int)words.size(), argv.data());
}

int read_table(const std::string &text)
{
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    int dropped = mtd_read_table(fp);
    fclose(fp);
    return dropped;
}

const char HEADING[] = "dev:    size   erasesize  name\n";

class Mtd : public testing::Test {
protected:
    void SetUp() override
    {
        asked.clear();
        memset(mtd_partitions, 0, sizeof(mtd_partitions));
        mtd_partition_count = 0;
    }
    static mtd_partition &part(int i) { return mtd_partitions[i]; }
};

TEST_F(Mtd, OnlyBadblockOneRequestsTheCheck)
{
    EXPECT_EQ(-1, parse({}));
    EXPECT_EQ(0, parse({"-b", "1"}));
    EXPECT_EQ(0, parse({"--badblock", "1"}));
    EXPECT_EQ(0, parse({"--badblock=01"}));
    EXPECT_EQ(0, parse({"-b1"}));
    EXPECT_EQ(-1, parse({"-b", "2"}));
    EXPECT_EQ(-1, parse({"-b", "0"}));
    EXPECT_EQ(-1, parse({"-b", "one"}));
    // A later value other than 1 does nothing, so it cannot take -b 1 back.
    EXPECT_EQ(0, parse({"-b", "1", "-b", "2"}));
    EXPECT_EQ(0, parse({"-b", "2", "-b", "1"}));
}

TEST_F(Mtd, LinesThatAreNoPartitionsAreSkippedWithoutMovingTheStarts)
{
    read_table(std::string(HEADING) +
               "mtd0 00100000 00020000 \"no colon\"\n"
               ": 00100000 00020000 \"mtd without a device\"\n"
               "mtd1: zz \"no numbers\"\n"
               "mtd2: 100000000 00020000 \"beyond 32 bits\"\n"
               "mtd2: 00100000 100000000 \"erase size beyond 32 bits\"\n"
               "mtd3: 00100000\n"
               "mtd4: 00100000 00020000\n"
               "mtd5: 00200000 00020000 \"ok\"\n");
    ASSERT_EQ(2, mtd_partition_count);
    EXPECT_STREQ("/dev/mtd4", part(0).dev_path);
    EXPECT_STREQ("", part(0).name);
    EXPECT_STREQ("/dev/mtd5", part(1).dev_path);
    EXPECT_EQ(0x100000u, part(1).start);
}

TEST_F(Mtd, ADevicePathOf31CharactersFitsOneMoreIsCut)
{
    read_table("mtd" + std::string(23, '9') + ": 00100000 00020000 \"a\"\n" + "mtd" +
               std::string(24, '9') + ": 00100000 00020000 \"b\"\n");
    ASSERT_EQ(2, mtd_partition_count);
    EXPECT_EQ(31u, strlen(part(0).dev_path));
    EXPECT_FALSE(mtd_path_cut[0]);
    EXPECT_EQ(31u, strlen(part(1).dev_path));
    EXPECT_TRUE(mtd_path_cut[1]);
}

TEST_F(Mtd, TheRestOfAnOverLongLineIsNoLineOfItsOwn)
{
    std::string line = "mtd0: 00100000 00020000 \"" + std::string(1100, 'a') +
                       " mtd9: 00100000 00020000 \"tail\"\n";
    read_table(line + "mtd1: 00100000 00020000 \"next\"\n");
    ASSERT_EQ(2, mtd_partition_count);
    EXPECT_STREQ("/dev/mtd1", part(1).dev_path);
    // The last line, over-long and without its newline: the table ends there.
    read_table("mtd1: 00100000 00020000 \"next\"\n" + line.substr(0, line.size() - 1));
    ASSERT_EQ(2, mtd_partition_count);
    EXPECT_STREQ("/dev/mtd0", part(1).dev_path);
}

TEST_F(Mtd, APartitionEndingNearFourGigabytesDoesNotWrapTheOffset)
{
    mtd_partition &p = part(0);
    p.size = 0xFFFFFFFFu;
    p.erase_size = 0x80000000u;
    mtd_scan_blocks(99, &p);
    EXPECT_EQ((std::vector<long long>{0, 0x80000000LL}), asked);
}

} // namespace
