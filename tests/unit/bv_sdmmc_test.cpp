// sdmmc: detection and its retry, the commands each action runs and in what
// order, fdisk's typed script, the card's partition tables, the size
// figures, the figures printed without time and the option parser. The
// device nodes (an image file stands for the card), statfs, the shell,
// fdisk's pipe, the kernel's re-read of the table and the cache release are
// stand-ins (bv_sdmmc_test.cmake); the clock sleeps are recorded, not slept.
#include "bv_sdmmc.cpp"

#include "wraps.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

struct Fake {
    // Card nodes present; from the sleep numbered `change_after` on, `later`.
    std::set<std::string> nodes;
    std::set<std::string> later;
    size_t change_after = SIZE_MAX;
    std::vector<std::string> probed;

    // Shell statuses by command prefix; 0 for anything else.
    std::vector<std::pair<std::string, int>> statuses;
    bool popen_fails = false;
    size_t fdisk_accepts = SIZE_MAX; // characters fdisk reads before it ends
    std::vector<size_t> fdisk_writes;
    bool pipe_ignored_while_feeding = true;

    std::string mounts;                   // the mount table's lines
    bool umount_stays = false;            // umount succeeds, the line stays
    size_t stop_at_step = SIZE_MAX;       // a stop is asked for before this step
    size_t steps = 0;                     // steps started so far
    size_t stop_at_fdisk_char = SIZE_MAX; // ... or as fdisk gets this character

    bool statfs_fails = false;
    struct statfs64 st = {};
    int statfs_calls = 0;
    size_t stop_at_file = SIZE_MAX; // raises stop_flag while this file is made

    std::set<std::string> missing;  // programs the shell does not find
    bool dd_reports_rate = true;    // the board's dd ends with a rate line
    OSA_commandTime spent = {};     // what every command took
    off_t speed_file_size = 0;      // the speed-test file's size; 0: none
    std::string card_image;         // what the card nodes open; none: ENOENT
    std::vector<int> reread_errors; // BLKRRPART's errors, in order; then 0
    std::set<FILE *> readers;       // pipes read from (lookups), not fdisk's

    // Everything that happened, sleeps included, in order.
    std::vector<std::string> trace;
    size_t sleeps_traced = 0;

    void sync_sleeps()
    {
        for (; sleeps_traced < wraps.sleeps.size(); sleeps_traced++) {
            const auto &ts = wraps.sleeps[sleeps_traced];
            trace.push_back("sleep " + std::to_string(ts.tv_sec * 1000 + ts.tv_nsec / 1000000));
        }
    }
    void note(const std::string &event)
    {
        sync_sleeps();
        trace.push_back(event);
    }
    std::vector<std::string> events()
    {
        sync_sleeps();
        return trace;
    }
};

Fake fake;

ssize_t fdisk_write(void *, const char *buf, size_t size)
{
    struct sigaction now;
    sigaction(SIGPIPE, NULL, &now);
    if (now.sa_handler != SIG_IGN)
        fake.pipe_ignored_while_feeding = false;
    fake.fdisk_writes.push_back(size);
    if (fake.fdisk_accepts == 0) {
        errno = EPIPE;
        return -1;
    }
    fake.fdisk_accepts--;
    if (fake.fdisk_writes.size() == fake.stop_at_fdisk_char)
        stop_flag = 1;
    fake.sync_sleeps();
    if (fake.trace.empty() || fake.trace.back().rfind("fdisk< ", 0) != 0)
        fake.trace.push_back("fdisk< ");
    fake.trace.back().append(buf, size);
    return (ssize_t)size;
}

} // namespace

extern "C" {
int __real_access(const char *path, int mode);

int __wrap_access(const char *path, int mode)
{
    if (strncmp(path, "/dev/mmcblk", 11) != 0)
        return __real_access(path, mode);
    fake.probed.push_back(path);
    const auto &nodes = wraps.sleeps.size() >= fake.change_after ? fake.later : fake.nodes;
    if (nodes.count(path) != 0)
        return 0;
    errno = ENOENT;
    return -1;
}

int __wrap_statfs64(const char *path, struct statfs64 *st)
{
    fake.statfs_calls++;
    fake.note(std::string("statfs ") + path);
    if (fake.statfs_fails) {
        errno = ENOTCONN;
        return -1;
    }
    *st = fake.st;
    return 0;
}

int __wrap_OSA_system(const char *command);

// A step of a sequence: not started once stopped, as the OS layer does.
int __wrap_OSA_systemUnlessStopped(const char *command)
{
    if (fake.steps++ == fake.stop_at_step)
        stop_flag = 1;
    if (stop_flag) {
        fake.note(std::string("not started: ") + command);
        errno = ECANCELED;
        return -1;
    }
    return __wrap_OSA_system(command);
}

FILE *__wrap_setmntent(const char *file, const char *mode)
{
    fake.note(std::string("mounts ") + file);
    return fmemopen(&fake.mounts[0], fake.mounts.size(), mode);
}

int __wrap_OSA_system(const char *command)
{
    std::string cmd = command;
    fake.note("sh: " + cmd);
    unsigned file = 0, count = 0;
    if (sscanf(command, "dd if=/dev/zero of=/mnt/mmc/file%u  bs=128k count=%u", &file, &count) ==
        2) {
        // The card fills up as the files are made.
        uint64_t used = (uint64_t)count * 128 * 1024 / (uint64_t)fake.st.f_bsize;
        fake.st.f_bfree = fake.st.f_bfree > used ? fake.st.f_bfree - used : 0;
        if (file == fake.stop_at_file)
            stop_flag = 1;
    }
    for (const auto &s : fake.statuses)
        if (cmd.rfind(s.first, 0) == 0)
            return s.second;
    // A umount takes the device's lines out of the mount table.
    if (cmd.rfind("umount ", 0) == 0 && !fake.umount_stays) {
        std::string dev = cmd.substr(7) + " ", kept;
        std::istringstream lines(fake.mounts);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(dev, 0) != 0)
                kept += line + "\n";
        fake.mounts = kept;
    }
    return 0;
}

int __wrap_OSA_systemTimed(const char *command, int unless_stopped, OSA_commandTime *spent)
{
    int status =
        unless_stopped ? __wrap_OSA_systemUnlessStopped(command) : __wrap_OSA_system(command);
    if (!(status == -1 && errno == ECANCELED))
        *spent = fake.spent;
    return status;
}

// What the shell prints for a lookup (command -v) or for dd's report.
static FILE *fake_reader(const std::string &command)
{
    std::string text;
    static const std::string lookup = "command -v ";
    if (command.rfind(lookup, 0) == 0) {
        std::string name =
            command.substr(lookup.size(), command.find(' ', lookup.size()) - lookup.size());
        fake.note("command -v " + name);
        if (fake.missing.count(name) == 0)
            text = "/usr/bin/" + name + "\n";
    } else {
        fake.note("popen: " + command + " (r)");
        text = "1+0 records in\n1+0 records out\n";
        if (fake.dd_reports_rate)
            text += "512 bytes copied, 5.1e-05 s, 10.0 MB/s\n";
    }
    char path[] = "/tmp/sdmmc_reader.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return NULL;
    unlink(path);
    if (write(fd, text.data(), text.size()) != (ssize_t)text.size() ||
        lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return NULL;
    }
    FILE *reader = fdopen(fd, "r");
    fake.readers.insert(reader);
    return reader;
}

FILE *__wrap_popen(const char *command, const char *mode)
{
    if (strcmp(mode, "r") == 0)
        return fake_reader(command);
    fake.note(std::string("popen: ") + command + " (" + mode + ")");
    if (fake.popen_fails)
        return NULL;
    cookie_io_functions_t io = {};
    io.write = fdisk_write;
    return fopencookie(NULL, "w", io);
}

int __wrap_pclose(FILE *stream)
{
    bool reader = fake.readers.erase(stream) != 0;
    fclose(stream);
    if (!reader)
        fake.note("pclose");
    return 0;
}

// The card nodes open the test's image file, never a device of the machine.
int __real_open(const char *path, int flags, ...);
int __wrap_open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = (mode_t)va_arg(ap, int);
    va_end(ap);
    if (strncmp(path, "/dev/mmcblk", 11) != 0)
        return __real_open(path, flags, mode);
    if (fake.card_image.empty()) {
        errno = ENOENT;
        return -1;
    }
    return __real_open(fake.card_image.c_str(), flags, mode);
}

int __real_ioctl(int fd, unsigned long request, ...);
int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (request != BLKRRPART)
        return __real_ioctl(fd, request, arg);
    fake.note("BLKRRPART");
    if (fake.reread_errors.empty())
        return 0;
    errno = fake.reread_errors.front();
    fake.reread_errors.erase(fake.reread_errors.begin());
    return errno == 0 ? 0 : -1;
}

int __real_stat(const char *path, struct stat *st);
int __wrap_stat(const char *path, struct stat *st)
{
    if (strcmp(path, SDMMC_SPEED_FILE) != 0)
        return __real_stat(path, st);
    memset(st, 0, sizeof *st);
    st->st_size = fake.speed_file_size;
    if (fake.speed_file_size > 0)
        return 0;
    errno = ENOENT;
    return -1;
}

int __wrap_bv_free_system_caches(void)
{
    fake.note("free caches");
    return 0;
}
}

namespace {

const std::vector<std::string> FLUSH = {"free caches", "sleep 1000", "sh: sync", "sleep 1000"};
// df's complaints about other mount points go nowhere.
const std::string MOUNT_CHECK = "sh: df 2>/dev/null | grep mmcblk > /dev/null 2>&1";
// Every program the format runs is looked up before it changes anything.
const std::vector<std::string> FORMAT_LOOKUPS = {"command -v fdisk", "command -v sync",
                                                 "command -v mkdosfs"};
// Asks the board's dd whether it reports a rate.
const std::string DD_REPORT = "dd if=/dev/zero of=/dev/null count=1 2>&1";

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string lines_as_line(std::string text)
{
    return std::regex_replace(text, std::regex(R"(\|[0-9]+\): )"), "|LINE): ");
}

class Sdmmc : public testing::Test {
protected:
    void SetUp() override
    {
        wraps.reset();
        wraps.really_sleep = false;
        fake = Fake();
        fake.st.f_bsize = 32768;
        fake.st.f_blocks = 1000000;
        fake.st.f_bfree = 500000;
        stop_flag = 0;
        sdmmc_dev = nullptr;
        settings.fill_file_size_mb = 128;
        settings.fill_file_count = 128;
    }
    void TearDown() override
    {
        wraps.reset();
        stop_flag = 0;
        if (!image.empty())
            unlink(image.c_str());
    }

    // A fresh start within one test: no stop, no sleeps, no events.
    void again() { SetUp(); }

    void card(std::set<std::string> nodes) { fake.nodes = std::move(nodes); }

    // The card's bytes: an image file of SIZE bytes 0xAA, which the card
    // nodes open.
    std::string image;
    void card_image(size_t size)
    {
        if (image.empty()) {
            char path[] = "/tmp/sdmmc_card.XXXXXX";
            int fd = mkstemp(path);
            ASSERT_GE(fd, 0);
            close(fd);
            image = path;
        }
        std::ofstream(image, std::ios::binary | std::ios::trunc) << std::string(size, '\xaa');
        fake.card_image = image;
    }
    std::string image_bytes()
    {
        std::ifstream in(image, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void card_changes_during_wait(std::set<std::string> later)
    {
        fake.later = std::move(later);
        fake.change_after = 1;
    }
    void card_mounted(bool mounted)
    {
        fake.statuses.push_back({"df 2>/dev/null | grep mmcblk", mounted ? 0 : 256});
    }

    // Runs the parser as the entry point would: debug -M sdmmc ARGS...
    int parse(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"debug", "-M", "sdmmc"});
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        optind = 0;
        return sdmmc_init_param((int)args.size(), argv.data());
    }

    std::string out, err;
    template <typename F> int capture(F f)
    {
        CaptureStdout();
        CaptureStderr();
        int result = f();
        out = GetCapturedStdout();
        err = lines_as_line(GetCapturedStderr());
        return result;
    }
};

/* ---- detection ----------------------------------------------------------- */

TEST_F(Sdmmc, DetectionCountsTheNodesInOrder)
{
    EXPECT_EQ(sdmmc_detect(), 0);
    EXPECT_EQ(sdmmc_dev, nullptr);
    EXPECT_EQ(fake.probed, std::vector<std::string>({"/dev/mmcblk0", "/dev/mmcblk1",
                                                     "/dev/mmcblk2", "/dev/mmcblk3"}));
    for (const char *node : {"/dev/mmcblk0", "/dev/mmcblk1", "/dev/mmcblk2", "/dev/mmcblk3"}) {
        fake.probed.clear();
        card({node});
        EXPECT_EQ(sdmmc_detect(), 1) << node;
        EXPECT_STREQ(sdmmc_dev, node);
        EXPECT_EQ(fake.probed.size(), 4u) << "every node is looked at";
    }
}

TEST_F(Sdmmc, DetectionStopsAtTheSecondNode)
{
    card({"/dev/mmcblk0", "/dev/mmcblk2", "/dev/mmcblk3"});
    EXPECT_EQ(sdmmc_detect(), -1);
    EXPECT_EQ(fake.probed, std::vector<std::string>({"/dev/mmcblk0", "/dev/mmcblk1",
                                                     "/dev/mmcblk2"}));
    card({"/dev/mmcblk1", "/dev/mmcblk3"});
    EXPECT_EQ(sdmmc_detect(), -1);
}

TEST_F(Sdmmc, InitWithOneCardIsSilentAndWithNoneSaysSo)
{
    card({"/dev/mmcblk1"});
    EXPECT_EQ(capture(sdmmc_init), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_STREQ(sdmmc_dev, "/dev/mmcblk1");

    card({});
    EXPECT_EQ(capture(sdmmc_init), -1);
    EXPECT_EQ(out, "SD/mmc isn't inserted, please check again!\n");
    EXPECT_EQ(err, "");
    EXPECT_TRUE(wraps.sleeps.empty()) << "no retry without a second node";
}

TEST_F(Sdmmc, InitRetriesOnceAfterASecondWhenTwoNodesStay)
{
    card({"/dev/mmcblk0", "/dev/mmcblk1"});
    EXPECT_EQ(capture(sdmmc_init), -1);
    EXPECT_EQ(out, "SD/mmc has error, try to reinit!\n");
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_init|LINE): SD/mmc has error, reinit faild!\n");
    EXPECT_EQ(fake.events(), std::vector<std::string>({"sleep 1000"}));
    EXPECT_EQ(fake.probed.size(), 4u) << "two probes, each stopping at the second node";
}

TEST_F(Sdmmc, InitTakesTheCardLeftAfterTheWait)
{
    card({"/dev/mmcblk0", "/dev/mmcblk1"});
    card_changes_during_wait({"/dev/mmcblk1"});
    EXPECT_EQ(capture(sdmmc_init), 0);
    EXPECT_EQ(out, "SD/mmc has error, try to reinit!\nSD/mmc inserted!\n");
    EXPECT_EQ(err, "");
    EXPECT_STREQ(sdmmc_dev, "/dev/mmcblk1") << "the second probe's node, not the first's";
}

TEST_F(Sdmmc, InitReportsAnUnknownErrorWhenBothNodesGo)
{
    card({"/dev/mmcblk2", "/dev/mmcblk3"});
    card_changes_during_wait({});
    EXPECT_EQ(capture(sdmmc_init), -1);
    EXPECT_EQ(out,
              "SD/mmc has error, try to reinit!\nSD/mmc isn't inserted, please check again!\n");
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_init|LINE): SD/mmc has unknow error!\n");
}

/* ---- mount, flush, format, repair ---------------------------------------- */

TEST_F(Sdmmc, MountSkipsDetectionWhenACardIsMounted)
{
    card_mounted(true);
    EXPECT_EQ(sdmmc_mount(), 0);
    EXPECT_EQ(fake.events(), std::vector<std::string>({MOUNT_CHECK}));
    EXPECT_TRUE(fake.probed.empty());
}

TEST_F(Sdmmc, MountRunsMountAndReturnsItsStatusUnchanged)
{
    card_mounted(false);
    card({"/dev/mmcblk2"});
    fake.statuses.push_back({"mount ", 32 << 8});
    EXPECT_EQ(sdmmc_mount(), 32 << 8);
    // Options before the operands, for a getopt that does not reorder.
    EXPECT_EQ(fake.events(),
              std::vector<std::string>(
                  {MOUNT_CHECK, "sh: mount -t vfat -o async,umask=000 /dev/mmcblk2 /mnt/mmc"}));

    fake = Fake();
    card_mounted(false);
    EXPECT_EQ(capture(sdmmc_mount), -1) << "no card";
    EXPECT_EQ(out, "SD/mmc isn't inserted, please check again!\n");
    EXPECT_EQ(fake.events(), std::vector<std::string>({MOUNT_CHECK}));
}

TEST_F(Sdmmc, FlushReleasesTheCachesThenSyncsBetweenPauses)
{
    sdmmc_flush();
    EXPECT_EQ(fake.events(), FLUSH);
}

// The write command comes last, whole, after a pause of its own.
const std::vector<std::string> FDISK_SCRIPT = {
    "fdisk< d1",   "sleep 500", "fdisk< \nd2", "sleep 500", "fdisk< \nd3", "sleep 500",
    "fdisk< \nd4", "sleep 500", "fdisk< \n",   "sleep 500", "fdisk<  w\n"};

TEST_F(Sdmmc, FormatTypesTheScriptWithAPauseBeforeEachNewline)
{
    card({"/dev/mmcblk0"});
    EXPECT_EQ(capture(sdmmc_format), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(fake.events(),
              join({FORMAT_LOOKUPS,
                    {"mounts /proc/mounts", "popen: fdisk /dev/mmcblk0 (w)"},
                    FDISK_SCRIPT,
                    {"pclose"},
                    FLUSH,
                    {"sleep 1000", "command -v time", "sh: time mkdosfs -I -F 32 /dev/mmcblk0"},
                    FLUSH}));
    EXPECT_EQ(fake.fdisk_writes, std::vector<size_t>(strlen(SDMMC_FDISK_SCRIPT), 1))
        << "one character per write, none kept back in a buffer";
    EXPECT_TRUE(fake.pipe_ignored_while_feeding);
    struct sigaction now;
    sigaction(SIGPIPE, NULL, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "SIGPIPE restored";
}

TEST_F(Sdmmc, FormatStopsTypingWhenFdiskEnds)
{
    card({"/dev/mmcblk3"});
    fake.fdisk_accepts = 3;
    fake.statuses.push_back({"time mkdosfs", 1 << 8});
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(out, "Sd/mmc format failed!\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(fake.events(),
              join({FORMAT_LOOKUPS,
                    {"mounts /proc/mounts", "popen: fdisk /dev/mmcblk3 (w)", "fdisk< d1",
                     "sleep 500", "fdisk< \n", "pclose"},
                    FLUSH,
                    {"sleep 1000", "command -v time", "sh: time mkdosfs -I -F 32 /dev/mmcblk3"}}));
}

// Mounted by -m or -i before, or elsewhere by the camera: mkdosfs would
// refuse the card after fdisk had written. Only the card's own mounts go.
TEST_F(Sdmmc, FormatUnmountsTheCardAndItsPartitionsFirst)
{
    card({"/dev/mmcblk1"});
    fake.mounts = "/dev/mmcblk10 /mnt/other vfat rw 0 0\n"
                  "/dev/mmcblk1 /mnt/mmc fuse rw 0 0\n"
                  "/dev/mmcblk1p2 /media/card vfat rw 0 0\n"
                  "/dev/mmcblk1px /mnt/odd vfat rw 0 0\n"
                  "/dev/mmcblk1p /mnt/bare vfat rw 0 0\n";
    ASSERT_EQ(sdmmc_detect(), 1);
    EXPECT_EQ(capture([] { return sdmmc_unmount("formatted"); }), 0);
    EXPECT_EQ(fake.events(),
              std::vector<std::string>({"mounts /proc/mounts", "sh: umount /dev/mmcblk1",
                                        "mounts /proc/mounts", "sh: umount /dev/mmcblk1p2",
                                        "mounts /proc/mounts"}));

    // A umount that leaves the mount in place is not tried for ever.
    fake.events();
    fake.trace.clear();
    fake.mounts = "/dev/mmcblk1 /mnt/mmc fuse rw 0 0\n";
    fake.umount_stays = true;
    EXPECT_EQ(capture([] { return sdmmc_unmount("formatted"); }), 0);
    auto events = fake.events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "sh: umount /dev/mmcblk1"), 8);

    again();
    card({"/dev/mmcblk1"});
    fake.mounts = "/dev/mmcblk1 /mnt/mmc fuse rw 0 0\n";
    fake.statuses.push_back({"umount ", 32 << 8});
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_unmount|LINE): umount /dev/mmcblk1 failed, "
                   "/dev/mmcblk1 not formatted\n");
    EXPECT_EQ(fake.events(),
              join({FORMAT_LOOKUPS, {"mounts /proc/mounts", "sh: umount /dev/mmcblk1"}}))
        << "no fdisk on a card still mounted";
}

// Nothing that changes the card starts after a stop: fdisk quits without
// writing, mkdosfs and dosfsck are not started.
TEST_F(Sdmmc, FormatAndRepairChangeNothingOnceStopped)
{
    card({"/dev/mmcblk0"});
    fake.stop_at_fdisk_char = 4; // "d1\nd": the deletions are fdisk's own until w
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_format|LINE): stopped before fdisk wrote the "
                   "partition table of /dev/mmcblk0\n");
    EXPECT_EQ(fake.events(),
              join({FORMAT_LOOKUPS,
                    {"mounts /proc/mounts", "popen: fdisk /dev/mmcblk0 (w)", "fdisk< d1",
                     "sleep 500", "fdisk< \nd2", "sleep 500", "fdisk< \nq\n", "pclose"}}));

    // A stop in the pause before the write: quit instead.
    again();
    card({"/dev/mmcblk0"});
    fake.stop_at_fdisk_char = 12; // the newline after d4
    EXPECT_EQ(capture(sdmmc_format), -1);
    auto events = fake.events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
              std::vector<std::string>({"sleep 500", "fdisk< q\n", "pclose"}));

    again();
    card({"/dev/mmcblk0"});
    fake.stop_at_step = 0;
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_format|LINE): stopped after fdisk, before mkdosfs: "
                   "/dev/mmcblk0 not formatted\n");

    again();
    card({"/dev/mmcblk0"});
    fake.stop_at_step = 0;
    EXPECT_EQ(capture(sdmmc_repair_unmounted), -1);
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_repair|LINE): stopped before dosfsck: /dev/mmcblk0 "
                   "not repaired\n");
    EXPECT_EQ(fake.events(),
              std::vector<std::string>({"mounts /proc/mounts", "command -v time",
                                        "not started: time dosfsck -a -v -V /dev/mmcblk0"}));
}

TEST_F(Sdmmc, FormatReportsAnFdiskThatCannotStart)
{
    card({"/dev/mmcblk1"});
    fake.popen_fails = true;
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(out, "fdisk /dev/mmcblk1 failed!\n");
    EXPECT_EQ(fake.events(),
              join({FORMAT_LOOKUPS, {"mounts /proc/mounts", "popen: fdisk /dev/mmcblk1 (w)"}}));
    struct sigaction now;
    sigaction(SIGPIPE, NULL, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);

    card({});
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(out, "SD/mmc isn't inserted, please check again!\n");
}

TEST_F(Sdmmc, RepairReportsDosfsckStatus)
{
    card({"/dev/mmcblk0"});
    EXPECT_EQ(capture(sdmmc_repair_unmounted), 0);
    EXPECT_EQ(out, "Sd/mmc repair /dev/mmcblk0 success!\n");
    EXPECT_EQ(fake.events(), std::vector<std::string>({"mounts /proc/mounts", "command -v time",
                                                       "sh: time dosfsck -a -v -V /dev/mmcblk0"}));

    // 1: errors found and corrected, or the card could not be checked; a
    // read-only check tells which.
    again();
    card({"/dev/mmcblk0"});
    fake.statuses.push_back({"time dosfsck", 1 << 8});
    EXPECT_EQ(capture(sdmmc_repair_unmounted), 0);
    EXPECT_EQ(out, "Sd/mmc repair /dev/mmcblk0 success!\n");
    EXPECT_EQ(fake.events(), std::vector<std::string>({"mounts /proc/mounts", "command -v time",
                                                       "sh: time dosfsck -a -v -V /dev/mmcblk0",
                                                       "sh: dosfsck -n /dev/mmcblk0 > /dev/null "
                                                       "2>&1"}));
    fake.statuses.push_back({"dosfsck -n", 1 << 8});
    EXPECT_EQ(capture(sdmmc_repair_unmounted), -1);
    EXPECT_EQ(out, "Sd/mmc repair /dev/mmcblk0 faild!\n");

    for (int status : {2 << 8, 4 << 8, SIGKILL}) {
        again();
        card({"/dev/mmcblk0"});
        fake.statuses.push_back({"time dosfsck", status});
        EXPECT_EQ(capture(sdmmc_repair_unmounted), -1);
        EXPECT_EQ(out, "Sd/mmc repair /dev/mmcblk0 faild!\n");
        EXPECT_EQ(fake.events().size(), 3u) << "no check after status " << status;
    }
}

// fdisk's script deletes the partitions of a card with one only: the
// tables at both ends go first, and the kernel drops what it knew of them.
TEST_F(Sdmmc, FormatClearsBothEndsOfTheCardAndHasTheKernelDropItsPartitions)
{
    const size_t size = 1 << 20, end = 32768;
    card({"/dev/mmcblk0"});
    card_image(size);
    EXPECT_EQ(capture(sdmmc_format), 0);
    EXPECT_EQ(err, "");
    auto events = fake.events();
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(events.begin() + 3, events.begin() + 6),
              std::vector<std::string>(
                  {"mounts /proc/mounts", "BLKRRPART", "popen: fdisk /dev/mmcblk0 (w)"}));
    std::string bytes = image_bytes();
    EXPECT_EQ(bytes.substr(0, end), std::string(end, '\0'));
    EXPECT_EQ(bytes.substr(end, size - 2 * end), std::string(size - 2 * end, '\xaa'));
    EXPECT_EQ(bytes.substr(size - end), std::string(end, '\0'));

    // A card smaller than both ends together: all of it.
    again();
    card({"/dev/mmcblk0"});
    card_image(40000);
    EXPECT_EQ(capture(sdmmc_format), 0);
    EXPECT_EQ(image_bytes(), std::string(40000, '\0'));
}

// A format that goes no further than fdisk's dialogue leaves the card, and
// the kernel's view of it, as they were.
TEST_F(Sdmmc, FormatPutsTheTablesBackWhenItGoesNoFurtherThanFdisk)
{
    auto rereads = [](const std::vector<std::string> &events) {
        return std::count(events.begin(), events.end(), "BLKRRPART");
    };
    card({"/dev/mmcblk0"});
    card_image(1 << 20);
    const std::string before = image_bytes();
    fake.stop_at_fdisk_char = 4;
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(image_bytes(), before);
    auto events = fake.events();
    EXPECT_EQ(rereads(events), 2);
    EXPECT_EQ(events.back(), "BLKRRPART");

    // A partition in use elsewhere: the kernel keeps the old table, and so
    // does the card; fdisk does not start.
    again();
    card({"/dev/mmcblk0"});
    card_image(1 << 20);
    fake.reread_errors = {EBUSY};
    EXPECT_EQ(capture(sdmmc_format), -1);
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_wipe_tables|LINE): the kernel cannot drop the "
                   "partitions of /dev/mmcblk0: Device or resource busy, not formatted\n");
    EXPECT_EQ(image_bytes(), before);
    events = fake.events();
    EXPECT_EQ(rereads(events), 2);
    EXPECT_EQ(std::count(events.begin(), events.end(), "popen: fdisk /dev/mmcblk0 (w)"), 0);
}

// dosfsck must not rewrite a FAT that the kernel's driver holds: the card's
// mounts go first and come back afterwards, each where it was.
TEST_F(Sdmmc, RepairRunsOnTheCardUnmountedAndMountsItAgain)
{
    const std::string mounts = "/dev/mmcblk0 /mnt/mmc fuse rw 0 0\n"
                               "/dev/mmcblk0p1 /media/card vfat rw 0 0\n";
    card({"/dev/mmcblk0"});
    fake.mounts = mounts;
    EXPECT_EQ(capture(sdmmc_repair_unmounted), 0);
    EXPECT_EQ(out, "Sd/mmc repair /dev/mmcblk0 success!\n");
    EXPECT_EQ(fake.events(),
              std::vector<std::string>(
                  {"mounts /proc/mounts", "sh: umount /dev/mmcblk0", "mounts /proc/mounts",
                   "sh: umount /dev/mmcblk0p1", "mounts /proc/mounts", "command -v time",
                   "sh: time dosfsck -a -v -V /dev/mmcblk0",
                   "sh: mount -t vfat -o async,umask=000 /dev/mmcblk0 /mnt/mmc",
                   "sh: mount -t vfat -o async,umask=000 /dev/mmcblk0p1 /media/card"}));

    // A mount that stays: no repair, and what was taken down comes back.
    again();
    card({"/dev/mmcblk0"});
    fake.mounts = mounts;
    fake.statuses.push_back({"umount /dev/mmcblk0p1", 32 << 8});
    EXPECT_EQ(capture(sdmmc_repair_unmounted), -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_unmount|LINE): umount /dev/mmcblk0p1 failed, "
                   "/dev/mmcblk0 not repaired\n");
    EXPECT_EQ(fake.events(), std::vector<std::string>(
                                 {"mounts /proc/mounts", "sh: umount /dev/mmcblk0",
                                  "mounts /proc/mounts", "sh: umount /dev/mmcblk0p1",
                                  "sh: mount -t vfat -o async,umask=000 /dev/mmcblk0 /mnt/mmc"}));
}

// Neither dash nor BusyBox's ash has a time keyword: without a time program
// the command runs alone and the tool prints its figures as GNU time does.
TEST_F(Sdmmc, WithoutTimeTheToolPrintsWhatTheCommandTookInTimesForm)
{
    card({"/dev/mmcblk0"});
    fake.missing = {"time"};
    fake.spent.elapsed_us = 1500000;
    fake.spent.usage.ru_utime = {1, 200000};
    fake.spent.usage.ru_stime = {0, 300000};
    fake.spent.usage.ru_maxrss = 2048;
    fake.spent.usage.ru_inblock = 5;
    fake.spent.usage.ru_oublock = 6;
    fake.spent.usage.ru_majflt = 7;
    fake.spent.usage.ru_minflt = 8;
    fake.statuses.push_back({"dosfsck -a", 1 << 8});
    EXPECT_EQ(capture(sdmmc_repair_unmounted), 0);
    EXPECT_EQ(out, "Command exited with non-zero status 1\n"
                   "1.20user 0.30system 0:01.50elapsed 100%CPU (0avgtext+0avgdata "
                   "2048maxresident)k\n"
                   "5inputs+6outputs (7major+8minor)pagefaults 0swaps\n"
                   "Sd/mmc repair /dev/mmcblk0 success!\n");
    EXPECT_EQ(fake.events(),
              std::vector<std::string>({"mounts /proc/mounts", "command -v time",
                                        "sh: dosfsck -a -v -V /dev/mmcblk0",
                                        "sh: dosfsck -n /dev/mmcblk0 > /dev/null 2>&1"}));

    // An hour or more: hours, minutes and seconds; no time at all: no share.
    OSA_commandTime spent = {};
    spent.elapsed_us = 3725000000ull;
    EXPECT_EQ(capture([&] { return sdmmc_print_time(SIGTERM, spent), 0; }), 0);
    EXPECT_EQ(out, "Command terminated by signal 15\n"
                   "0.00user 0.00system 1:02:05elapsed 0%CPU (0avgtext+0avgdata 0maxresident)k\n"
                   "0inputs+0outputs (0major+0minor)pagefaults 0swaps\n");
    spent.elapsed_us = 0;
    EXPECT_EQ(capture([&] { return sdmmc_print_time(0, spent), 0; }), 0);
    EXPECT_EQ(out, "0.00user 0.00system 0:00.00elapsed ?%CPU (0avgtext+0avgdata 0maxresident)k\n"
                   "0inputs+0outputs (0major+0minor)pagefaults 0swaps\n");
}

/* ---- information, speed test, fill --------------------------------------- */

TEST_F(Sdmmc, InformationPrintsTheSizesInBinaryUnits)
{
    card_mounted(true);
    EXPECT_EQ(capture(sdmmc_info), 0);
    EXPECT_EQ(out, "Block = 32 KB \n"
                   "Total = 32768000000 B = 32000000 KB = 31250 MB = 30.52 GB\n"
                   "Free = 16000000 KB = 15625 MB = 15.26 GB\n"
                   "Use = 16000000 KB = 15625 MB = 15.26 GB\n");
    EXPECT_EQ(err, "");
}

TEST_F(Sdmmc, InformationUsesAllFreeBlocksAndSixtyFourBitSizes)
{
    card_mounted(true);
    fake.st.f_bsize = 4096;
    fake.st.f_blocks = 0x100000000ull; // 16 TiB: past 32 bits in blocks and bytes
    fake.st.f_bfree = 0x80000000ull;
    fake.st.f_bavail = 0; // kept for the superuser: still free
    EXPECT_EQ(capture(sdmmc_info), 0);
    EXPECT_EQ(out, "Block = 4 KB \n"
                   "Total = 17592186044416 B = 17179869184 KB = 16777216 MB = 16384.00 GB\n"
                   "Free = 8589934592 KB = 8388608 MB = 8192.00 GB\n"
                   "Use = 8589934592 KB = 8388608 MB = 8192.00 GB\n");
}

TEST_F(Sdmmc, InformationPrintsNoFiguresWhenStatfsFails)
{
    card_mounted(true);
    fake.statfs_fails = true;
    EXPECT_EQ(capture([&] { return parse({"-i"}); }), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_info|LINE): statfs64 /mnt/mmc failed: Transport "
                   "endpoint is not connected\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc check information faild!\n");
}

TEST_F(Sdmmc, SpeedTestWritesFlushesReadsAndRemoves)
{
    card_mounted(true);
    EXPECT_EQ(capture(sdmmc_test_speed), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(fake.events(),
              join({{MOUNT_CHECK, "popen: " + DD_REPORT + " (r)", "command -v time",
                     "sh: time dd if=/dev/zero of=/mnt/mmc/empty.file bs=128k count=1k "},
                    FLUSH,
                    {"command -v time",
                     "sh: time dd if=/mnt/mmc/empty.file of=/dev/null bs=128k count=1k ",
                     "sleep 1000", "sh: rm -rf /mnt/mmc/empty.file"}}));
}

// BusyBox's dd prints the record counts alone: the tool prints the rate it
// measured, the file's bytes over the pass's time.
TEST_F(Sdmmc, SpeedTestPrintsTheRateItMeasuredWhereDdPrintsNone)
{
    card_mounted(true);
    fake.dd_reports_rate = false;
    fake.speed_file_size = 128 << 20;
    fake.spent.elapsed_us = 2000000;
    EXPECT_EQ(capture(sdmmc_test_speed), 0);
    EXPECT_EQ(out, "Write speed = 64.00 MB/s \nRead speed = 64.00 MB/s \n");

    // A pass that failed has no rate: its dd has said why.
    again();
    card_mounted(true);
    fake.dd_reports_rate = false;
    fake.speed_file_size = 128 << 20;
    fake.spent.elapsed_us = 4000000;
    fake.statuses.push_back({"time dd if=/dev/zero", 1 << 8});
    EXPECT_EQ(capture(sdmmc_test_speed), 0);
    EXPECT_EQ(out, "Read speed = 32.00 MB/s \n");
}

TEST_F(Sdmmc, ActionsThatNeedTheCardReportAFailedMount)
{
    card_mounted(false);
    EXPECT_EQ(capture([&] { return parse({"-i", "-s", "-F", "-m", "-r", "-f"}); }), 0);
    const std::string absent = "SD/mmc isn't inserted, please check again!\n";
    EXPECT_EQ(out, absent + absent + absent + absent + absent + absent);
    EXPECT_EQ(err, " ERROR  (bv_sdmmc|sdmmc_info|LINE): sdmmc mount failed!\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc check information faild!\n"
                   " ERROR  (bv_sdmmc|sdmmc_test_speed|LINE): sdmmc mount failed!\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc test speed faild!\n"
                   " ERROR  (bv_sdmmc|sdmmc_filling_disk|LINE): sdmmc mount failed!\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc filling disk faild!\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc mount faild!\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc repair disk faild!\n"
                   " ERROR  (bv_sdmmc|sdmmc_init_param|LINE): sdmmc format disk faild!\n");
    for (const auto &e : fake.events())
        EXPECT_EQ(e, MOUNT_CHECK) << "nothing but the mount checks";
}

TEST_F(Sdmmc, FillMakesTheFilesWithAPauseAfterEach)
{
    card_mounted(true);
    EXPECT_EQ(capture([&] { return parse({"-z", "2", "-n", "3", "-F"}); }), 0);
    EXPECT_EQ(out, "All size = 31250 MB, free size = 15625 MB \n"
                   "Try to filling sdmmc by creating 3 files, echo file size 2 MB \n"
                   "Create /mnt/mmc/file0 \n"
                   "Create /mnt/mmc/file1 \n"
                   "Create /mnt/mmc/file2 \n"
                   "Create total 3 files \n"
                   "Free size = 15619 MB \n");
    EXPECT_EQ(err, "");
    std::vector<std::string> want = {MOUNT_CHECK, "statfs /mnt/mmc"};
    for (int i = 0; i < 3; i++) {
        want.push_back("sh: dd if=/dev/zero of=/mnt/mmc/file" + std::to_string(i) +
                       "  bs=128k count=16 > /dev/null 2>&1");
        want.push_back("sleep 1000");
    }
    want.push_back("statfs /mnt/mmc");
    EXPECT_EQ(fake.events(), join({want, FLUSH}));
}

TEST_F(Sdmmc, FillReportsTheFreeSizeEveryThirtyTwoFiles)
{
    card_mounted(true);
    settings.fill_file_size_mb = 1;
    settings.fill_file_count = 64;
    EXPECT_EQ(capture(sdmmc_filling_disk), 0);
    std::string want = "All size = 31250 MB, free size = 15625 MB \n"
                       "Try to filling sdmmc by creating 64 files, echo file size 1 MB \n";
    for (int i = 0; i < 64; i++) {
        want += "Create /mnt/mmc/file" + std::to_string(i) + " \n";
        if (i == 31)
            want += "Free size = 15593 MB \n";
    }
    want += "Free size = 15561 MB \nCreate total 64 files \nFree size = 15561 MB \n";
    EXPECT_EQ(out, want);
    EXPECT_EQ(fake.statfs_calls, 4);
}

TEST_F(Sdmmc, FillEndsAfterThePauseOnceStopped)
{
    card_mounted(true);
    settings.fill_file_size_mb = 1;
    settings.fill_file_count = 40;
    fake.stop_at_file = 5;
    EXPECT_EQ(capture(sdmmc_filling_disk), 0);
    EXPECT_NE(out.find("Create /mnt/mmc/file5 \nCreate total 6 files \nFree size = "),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("file6"), std::string::npos);
    auto events = fake.events();
    auto dd5 = std::find(events.begin(), events.end(),
                         "sh: dd if=/dev/zero of=/mnt/mmc/file5  bs=128k count=8 > /dev/null 2>&1");
    ASSERT_NE(dd5, events.end());
    EXPECT_EQ(*(dd5 + 1), "sleep 1000") << "the current file's pause still runs";
    EXPECT_EQ(*(dd5 + 2), "statfs /mnt/mmc");
}

TEST_F(Sdmmc, FillGoesOnWithoutFiguresWhenStatfsFails)
{
    card_mounted(true);
    fake.statfs_fails = true;
    settings.fill_file_size_mb = 1;
    settings.fill_file_count = 32;
    EXPECT_EQ(capture(sdmmc_filling_disk), 0);
    EXPECT_EQ(out.find("size = "), std::string::npos) << "no figure from an unread record";
    EXPECT_NE(out.find("Create /mnt/mmc/file31 \nCreate total 32 files \n"), std::string::npos);
    const std::string report = " ERROR  (bv_sdmmc|sdmmc_filling_disk|LINE): statfs64 /mnt/mmc "
                               "failed: Transport endpoint is not connected\n";
    EXPECT_EQ(err, report + report + report);
}

/* ---- option parser ------------------------------------------------------- */

TEST_F(Sdmmc, OptionsActInCommandLineOrder)
{
    card_mounted(true);
    EXPECT_EQ(capture([&] { return parse({"-z", "1", "-F", "-n", "2"}); }), 0);
    EXPECT_NE(out.find("creating 128 files, echo file size 1 MB"), std::string::npos)
        << "-n after -F comes too late";
    EXPECT_EQ(settings.fill_file_count, 2u);

    fake = Fake();
    fake.st.f_bsize = 4096;
    EXPECT_EQ(capture([&] { return parse({"--filenum", "0x2", "--filesize=1024", "--filling"}); }),
              0);
    auto events = fake.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string &e) { return e.find("count=8192 ") != e.npos; }),
              2);
}

TEST_F(Sdmmc, BoundsAndNumberForms)
{
    EXPECT_EQ(parse({"-n", "40960", "-z", "1024"}), 0);
    EXPECT_EQ(settings.fill_file_count, 40960u);
    EXPECT_EQ(settings.fill_file_size_mb, 1024u);
    EXPECT_EQ(parse({"-n", "1", "-z", "1"}), 0);
    EXPECT_EQ(parse({"-n", "0x10", "-z", "010"}), 0);
    EXPECT_EQ(settings.fill_file_count, 16u);
    EXPECT_EQ(settings.fill_file_size_mb, 8u);
    EXPECT_EQ(capture([&] { return parse({"--init", "-M", "x"}); }), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_TRUE(fake.events().empty());
}

using SdmmcDeath = Sdmmc;

TEST_F(SdmmcDeath, RejectionsPrintTheUsageAndExitWith255)
{
    const char *count = "filling file numbers must in \\[1-40960\\]!";
    const char *size = "filling file size must in \\[1-1024\\]!";
    const struct {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"-n", "0"}, count},          {{"-n", "40961"}, count},
        {{"-n", "4294967297"}, count}, {{"-n", "-1"}, count},
        {{"-n", "many"}, count},       {{"-z", "0"}, size},
        {{"-z", "1025"}, size},        {{"-z", "4294967297"}, size},
        {{"-z", "4096"}, size},        {{"-x"}, "invalid option -- 'x'\n.*Unknow option"},
        {{"--bogus"}, "unrecognized option '--bogus'\n.*Unknow option"},
        {{"-n"}, "requires an argument -- 'n'\n.*Unknow option"},
    };
    for (const auto &c : cases)
        EXPECT_EXIT(parse(c.args), testing::ExitedWithCode(255), c.message) << c.args[0];
}

TEST_F(SdmmcDeath, ParsingStopsAtTheFirstBadOption)
{
    card_mounted(true);
    fake.statfs_fails = true; // an -i that ran would report on standard error
    EXPECT_EXIT(
        {
            parse({"-m", "-n", "0", "-i"});
            abort();
        },
        testing::ExitedWithCode(255),
        "^ ERROR  \\(bv_sdmmc\\|sdmmc_init_param\\|[0-9]+\\): filling file numbers must in "
        "\\[1-40960\\]!\n$");
}

} // namespace
