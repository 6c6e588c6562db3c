// media: the state of the camera's video and audio pipeline, sub-module by
// sub-module, from the text logs that the media driver's log script
// "av_log.sh" leaves in /tmp/media (one <sub-module>.log each).
//
// The script runs first on every call; the options then act one by one, in
// command-line order. A section printer walks its log forward only: each
// title is searched from where the previous one stopped, so a title that is
// missing also hides the later sections of the same log, and the header,
// which belongs to the first section, shows only when that title is found.
//
// /tmp is every user's: the logs are read only from a /tmp/media that is a
// folder of our own which no one else can write, and only when they are
// regular files of ours (board_file.h). Another user's folder, a link, a
// FIFO or a device there is said and shown as a log that cannot be read.
#include "board_file.h"
#include "debug_module.h"
#include "osa.h"

#include <fcntl.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char OSA_UNIT[] = "bv_media";

#define MEDIA_ID 19
#define MEDIA_LOG_DIR "/tmp/media"
#define MEDIA_LOG(name) MEDIA_LOG_DIR "/" name ".log"

// Fills /tmp/media; looked up in PATH.
static const char media_collect_command[] = "av_log.sh";

// The one line buffer of every reader: a line longer than 1023 characters
// comes in several pieces, each of which counts as a line.
static char media_line[1024];

// Values getopt_long returns for the long-only options; each indexes
// media_log_names. There is no value 12.
enum media_option {
    MEDIA_ACODEC = 0,
    MEDIA_ADEC = 1,
    MEDIA_AENC = 2,
    MEDIA_AI = 3,
    MEDIA_AO = 4,
    MEDIA_AUDIO = 5,
    MEDIA_CHNL = 6,
    MEDIA_H264E = 7,
    MEDIA_H265E = 8,
    MEDIA_ISP = 9,
    MEDIA_IVE = 10,
    MEDIA_JPEGE = 11,
    MEDIA_RC = 13,
    MEDIA_RGN = 14,
    MEDIA_SYS = 15,
    MEDIA_VB = 16,
    MEDIA_VDA = 17,
    MEDIA_VENC = 18,
    MEDIA_VGS = 19,
    MEDIA_VI = 20,
    MEDIA_VO = 21,
    MEDIA_VPSS = 22,
    MEDIA_VIDEO = 23,
    MEDIA_OPTION_END = 24,
};

static const char *const media_log_names[MEDIA_OPTION_END] = {
    "acodec", "adec", "aenc", "ai",  "ao",   "audio", "chnl", "h264e",
    "h265e",  "isp",  "ive",  "jpege", NULL, "rc",    "rgn",  "sys",
    "vb",     "vda",  "venc", "vgs", "vi",   "vo",    "vpss", "video",
};

static const struct option media_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"all", no_argument, NULL, 'a'},
    {"acodec", no_argument, NULL, MEDIA_ACODEC},
    {"adec", no_argument, NULL, MEDIA_ADEC},
    {"aenc", no_argument, NULL, MEDIA_AENC},
    {"ai", no_argument, NULL, MEDIA_AI},
    {"ao", no_argument, NULL, MEDIA_AO},
    {"audio", no_argument, NULL, MEDIA_AUDIO},
    {"chnl", no_argument, NULL, MEDIA_CHNL},
    {"h264e", no_argument, NULL, MEDIA_H264E},
    {"h265e", no_argument, NULL, MEDIA_H265E},
    {"isp", no_argument, NULL, MEDIA_ISP},
    {"ive", no_argument, NULL, MEDIA_IVE},
    {"jpege", no_argument, NULL, MEDIA_JPEGE},
    {"rc", no_argument, NULL, MEDIA_RC},
    {"rgn", no_argument, NULL, MEDIA_RGN},
    {"sys", no_argument, NULL, MEDIA_SYS},
    {"vb", no_argument, NULL, MEDIA_VB},
    {"vda", no_argument, NULL, MEDIA_VDA},
    {"venc", no_argument, NULL, MEDIA_VENC},
    {"vgs", no_argument, NULL, MEDIA_VGS},
    {"vi", no_argument, NULL, MEDIA_VI},
    {"vo", no_argument, NULL, MEDIA_VO},
    {"vpss", no_argument, NULL, MEDIA_VPSS},
    {"video", no_argument, NULL, MEDIA_VIDEO},
    {NULL, 0, NULL, 0},
};
static const help_entry media_help[] = {
    {"module", "module name: media"},
    {"", "Display all information!"},
    {"", "Display acodec information!"},
    {"", "Display adec information!"},
    {"", "Display aenc information!"},
    {"", "Display ai information!"},
    {"", "Display ao information!"},
    {"", "Display audio information!"},
    {"", "Display chnl information!"},
    {"", "Display h264e information!"},
    {"", "Display h265e information!"},
    {"", "Display isp information!"},
    {"", "Display ive information!"},
    {"", "Display jpege information!"},
    {"", "Display rc information!"},
    {"", "Display rgn information!"},
    {"", "Display sys information!"},
    {"", "Display vb information!"},
    {"", "Display vda information!"},
    {"", "Display venc information!"},
    {"", "Display vgs information!"},
    {"", "Display vi information!"},
    {"", "Display vo information!"},
    {"", "Display vpss information!"},
    {"", "Display video information!"},
};
static_assert(OPTION_ROWS(media_options) == ARRAY_SIZE(media_help), "one help row per option");
static_assert(ARRAY_SIZE(media_help) == 25, "the usage lists 25 options");

/* ---- section printers ------------------------------------------------------ */

struct media_section {
    const char *title;  // searched as a substring of a line, case-sensitive
    const char *header; // printed on a line of its own before the title line
    int lines;          // lines printed after the title line
};

struct media_report {
    const char *path;
    const media_section *sections;
    size_t count;
};

#define MEDIA_REPORT(name, sections) {MEDIA_LOG(name), sections, ARRAY_SIZE(sections)}

static const media_section media_sys_sections[] = {
    {"System State:", "[SYS]", 0},
};
static const media_section media_vb_sections[] = {
    {"PoolId    PhysAddr    VirtAddr    IsComm", "[VB]", 1},
};
static const media_section media_vpss_sections[] = {
    {"VPSS GRP WORK STATUS", "[VPSS]", 2},
    {"VPSS CHN OUTPUT RESOLUTION", NULL, 3},
};
static const media_section media_vi_sections[] = {
    {"VI DEV ATTR", "[VI]", 2},
    {"VI PHYCHN ATTR", NULL, 2},
    {"VI PHYCHN STATUS 1", NULL, 2},
    {"VI PHYCHN STATUS 2", NULL, 2},
    {"VI WDR ATTR", NULL, 2},
    {"VI WDR DES STATUS", NULL, 2},
    {"VI WDR SRC STATUS", NULL, 2},
    {"VI WDR COMBINE STATUS", NULL, 2},
    {"VI CHN STATUS", NULL, 2},
};
static const media_section media_venc_sections[] = {
    {"VENC CHN ATTR 1", "[VENC]", 5},
    {"VENC STREAM STATE", NULL, 5},
};
static const media_section media_rc_sections[] = {
    {"RUN INFO1", "[RC]", 5},
};
static const media_section media_acodec_sections[] = {
    {"ACODEC PARAM", "[ACODEC]", 2},
};
static const media_section media_ao_sections[] = {
    {"AO DEV ATTR", "[AO]", 2},
    {"AO DEV STATUS", NULL, 2},
};
static const media_section media_adec_sections[] = {
    {"ADEC CHN ATTR", "[ADEC]", 2},
};
static const media_section media_ai_sections[] = {
    {"AI DEV ATTR", "[AI]", 2},
    {"AI DEV STATUS", NULL, 2},
};
static const media_section media_aenc_sections[] = {
    {"AENC CHN ATTR", "[AENC]", 2},
};
static const media_section media_ai_vqe_sections[] = {
    {"AI CHN VQE STATUS0", "[AI VQE]", 2},
    {"AI CHN VQE STATUS1", NULL, 2},
    {"AI CHN VQE STATUS2", NULL, 2},
    {"AI CHN VQE STATUS3", NULL, 2},
    {"AI CHN VQE STATUS4", NULL, 2},
};
static const media_section media_ao_vqe_sections[] = {
    {"AO CHN VQE STATUS0", "[AO VQE]", 2},
    {"AO CHN VQE STATUS1", NULL, 2},
    {"AO CHN VQE STATUS2", NULL, 2},
    {"AO CHN VQE STATUS3", NULL, 2},
    {"AO CHN VQE STATUS4", NULL, 2},
};

static const media_report media_sys = MEDIA_REPORT("sys", media_sys_sections);
static const media_report media_vb = MEDIA_REPORT("vb", media_vb_sections);
static const media_report media_vpss = MEDIA_REPORT("vpss", media_vpss_sections);
static const media_report media_vi = MEDIA_REPORT("vi", media_vi_sections);
static const media_report media_venc = MEDIA_REPORT("venc", media_venc_sections);
static const media_report media_rc = MEDIA_REPORT("rc", media_rc_sections);
static const media_report media_acodec = MEDIA_REPORT("acodec", media_acodec_sections);
static const media_report media_ao = MEDIA_REPORT("ao", media_ao_sections);
static const media_report media_adec = MEDIA_REPORT("adec", media_adec_sections);
static const media_report media_ai = MEDIA_REPORT("ai", media_ai_sections);
static const media_report media_aenc = MEDIA_REPORT("aenc", media_aenc_sections);
// The echo-cancellation report reads two logs side by side.
static const media_report media_ai_vqe = MEDIA_REPORT("ai", media_ai_vqe_sections);
static const media_report media_ao_vqe = MEDIA_REPORT("ao", media_ao_vqe_sections);

static const media_report *const media_video_reports[] = {
    &media_sys, &media_vb, &media_vpss, &media_vi, &media_venc, &media_rc,
};
static const media_report *const media_audio_reports[] = {
    &media_acodec, &media_ao, &media_adec, &media_ai, &media_aenc,
};

// Single-log options that show the sections of their log; every other
// single-log option prints the whole log.
static const struct {
    int option;
    const media_report *report;
} media_option_reports[] = {
    {MEDIA_RC, &media_rc},     {MEDIA_SYS, &media_sys}, {MEDIA_VB, &media_vb},
    {MEDIA_VENC, &media_venc}, {MEDIA_VI, &media_vi},   {MEDIA_VPSS, &media_vpss},
};

/* ---- reading ---------------------------------------------------------------- */

// 1 when the logs' folder may be read: it is ours, or it is not there (the
// logs then are missing, as without the script). Another user's folder, or
// one others can write, is said once.
static int media_dir_usable(void)
{
    static int usable = -1; // not looked at yet
    if (usable < 0) {
        char why[BOARD_FILE_TEXT_SIZE];
        usable = board_folder_check(MEDIA_LOG_DIR, why, sizeof why) != BOARD_FILE_REFUSED;
        if (!usable)
            OSA_ERROR("%s: %s: its logs are not read\n", MEDIA_LOG_DIR, why);
    }
    return usable;
}

// The log at PATH opened for reading when it is a log of ours, in a folder
// of ours: the descriptor, -1 when it cannot be opened (errno), or
// BOARD_FILE_REFUSED when it is not one (a name that is no log of ours is
// said in CALLER's name).
static int media_open_fd(const char *path, const char *caller)
{
    char why[BOARD_FILE_TEXT_SIZE];
    if (!media_dir_usable())
        return BOARD_FILE_REFUSED;
    int fd = board_file_open(path, O_RDONLY, 0, why, sizeof why);
    if (fd == BOARD_FILE_REFUSED) {
        OSA_errorPrefix(OSA_UNIT, caller, __LINE__);
        fprintf(stderr, "%s: %s: not read\n", path, why);
    }
    return fd;
}

// A log a printer needs and cannot open ends the process: the later options
// would only repeat the same error. A name that is no log of ours (above)
// gives NULL: the printer shows nothing of it.
static FILE *media_open_log(const char *path)
{
    int fd = media_open_fd(path, __func__);
    if (fd == BOARD_FILE_REFUSED)
        return NULL;
    FILE *file = fd >= 0 ? fdopen(fd, "r") : NULL;
    if (file == NULL) {
        fflush(stdout);
        perror("fopen");
        exit(-1);
    }
    return file;
}

static void media_close_log(FILE *file)
{
    if (file != NULL)
        fclose(file);
}

// Reads forward to the first line that contains the title. A read error ends
// the search like the end of the file does (feof alone would never be
// reached, for instance on a directory).
static char *media_find_line(FILE *file, const char *title)
{
    while (!feof(file)) {
        memset(media_line, 0, sizeof media_line);
        if (fgets(media_line, sizeof media_line, file) == NULL)
            return NULL;
        if (strstr(media_line, title) != NULL)
            return media_line;
    }
    return NULL;
}

// The next line, empty when the read found no more data; NULL at the end.
static char *media_next_line(FILE *file)
{
    memset(media_line, 0, sizeof media_line);
    if (feof(file))
        return NULL;
    if (fgets(media_line, sizeof media_line, file) == NULL)
        media_line[0] = '\0';
    return media_line;
}

static void media_print_lines(FILE *file, int n)
{
    for (int i = 0; i < n; i++)
        if (media_next_line(file) != NULL)
            OSA_printf("%s", media_line);
}

// Prints each section found: the title line, with the header in front of it
// when the section has one, and the lines that follow it.
static void media_print_sections(FILE *file, const media_section *sections, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        const media_section &section = sections[i];
        if (media_find_line(file, section.title) == NULL)
            continue;
        if (section.header != NULL)
            OSA_printf("%s\n%s", section.header, media_line);
        else
            OSA_printf("%s", media_line);
        media_print_lines(file, section.lines);
    }
}

/* ---- actions -------------------------------------------------------------- */

static void media_show_report(const media_report &report)
{
    FILE *file = media_open_log(report.path);
    if (file != NULL)
        media_print_sections(file, report.sections, report.count);
    OSA_putchar('\n');
    media_close_log(file);
}

// ao.log is opened first, so that a missing ao.log ends the run before
// ai.log is tried; each list searches its own log from the start.
static void media_show_vqe(void)
{
    FILE *ao = media_open_log(media_ao_vqe.path);
    FILE *ai = media_open_log(media_ai_vqe.path);
    if (ai != NULL)
        media_print_sections(ai, media_ai_vqe.sections, media_ai_vqe.count);
    if (ao != NULL)
        media_print_sections(ao, media_ao_vqe.sections, media_ao_vqe.count);
    OSA_putchar('\n');
    media_close_log(ao);
    media_close_log(ai);
}

static void media_show_video(void)
{
    for (const media_report *report : media_video_reports)
        media_show_report(*report);
}

static void media_show_audio(void)
{
    for (const media_report *report : media_audio_reports)
        media_show_report(*report);
    media_show_vqe();
}

static void media_show_all(void)
{
    media_show_video();
    media_show_audio();
}

// The whole log; cat reports a missing one itself and the run goes on. A
// name that is no log of ours is said instead; in our own folder no one
// else can put another in its place before cat opens it.
static void media_cat_log(const char *name)
{
    char path[96], command[128];
    snprintf(path, sizeof path, MEDIA_LOG_DIR "/%s.log", name);
    int fd = media_open_fd(path, __func__);
    if (fd == BOARD_FILE_REFUSED)
        return;
    if (fd >= 0)
        close(fd);
    snprintf(command, sizeof command, "cat %s", path);
    OSA_system(command);
}

static void media_show_log(int option)
{
    if (option < 0 || option >= MEDIA_OPTION_END || media_log_names[option] == NULL)
        return;
    for (const auto &entry : media_option_reports) {
        if (entry.option == option) {
            media_show_report(*entry.report);
            return;
        }
    }
    media_cat_log(media_log_names[option]);
}

static void media_collect_logs(void)
{
    OSA_system(media_collect_command);
}

static int media_usage(void)
{
    module_print_usage(MEDIA_ID, media_options, media_help, ARRAY_SIZE(media_help));
    return 0;
}

// What one option shows.
static void media_show(int option)
{
    switch (option) {
    case 'a':
        media_show_all();
        break;
    case MEDIA_AUDIO:
        media_show_audio();
        break;
    case MEDIA_VIDEO:
        media_show_video();
        break;
    default:
        media_show_log(option);
        break;
    }
}

// SHOW does an option's work: the fuzz target parses without it.
static int media_init_param(int argc, char **argv, void (*show)(int) = media_show)
{
    int index = 0;
    int c;
    while ((c = getopt_long(argc, argv, "M:a", media_options, &index)) != -1) {
        switch (c) {
        case 'M':
            break;
        case '?':
            OSA_ERROR("Unknow option\n");
            media_usage();
            exit(-1);
        default:
            show(c);
            break;
        }
    }
    return 0;
}

static int media_run(int argc, char **argv)
{
    media_collect_logs();
    media_init_param(argc, argv);
    return 0;
}

static debug_module media_module = {"media", MEDIA_ID, media_run, media_usage, NULL};

MODULE_REGISTER(media_module)
