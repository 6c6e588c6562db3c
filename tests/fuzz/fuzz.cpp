// The shared part of the fuzz targets (fuzz.h).
#include "fuzz.h"

#include <getopt.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

jmp_buf fuzz_exit_point;
int fuzz_exit_armed;
int fuzz_exit_status;

// Linked with -Wl,--wrap=exit: every exit() of the code under test lands
// here. libFuzzer's own exit() (end of the runs) goes on to the real one.
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status)
{
    if (fuzz_exit_armed) {
        fuzz_exit_status = status;
        longjmp(fuzz_exit_point, 1);
    }
    __real_exit(status);
}

void fuzz_args_build(fuzz_args *args, const char *module, const uint8_t *data, size_t size)
{
    static char prog[] = "debug", flag[] = "-M";
    static char name[64];
    snprintf(name, sizeof name, "%s", module);
    args->argc = 0;
    args->argv[args->argc++] = prog;
    args->argv[args->argc++] = flag;
    args->argv[args->argc++] = name;
    // One byte more for the last word's terminator: a read past a word's
    // end is a read past the allocation.
    args->text = (char *)malloc(size + 1);
    memcpy(args->text, data, size);
    args->text[size] = '\0';
    size_t start = 0;
    for (int words = 0; start < size && words < FUZZ_WORDS_MAX; words++) {
        args->argv[args->argc++] = args->text + start;
        start += strlen(args->text + start) + 1;
    }
    args->argv[args->argc] = NULL;
}

void fuzz_args_free(fuzz_args *args)
{
    free(args->text);
    args->text = NULL;
}

/* ---- kept state ------------------------------------------------------------ */

enum { KEPT_MAX = 16 };
static struct {
    void *at;
    size_t size;
    void *copy;
} kept[KEPT_MAX];
static int kept_count;

void fuzz_keep(void *at, size_t size)
{
    if (kept_count == KEPT_MAX)
        fuzz_fail(__FILE__, __LINE__, "too many kept variables");
    // Kept for the whole process, like the variables themselves.
    static char store[1 << 16];
    static size_t used;
    if (used + size > sizeof store)
        fuzz_fail(__FILE__, __LINE__, "kept state too large");
    kept[kept_count].at = at;
    kept[kept_count].size = size;
    kept[kept_count].copy = store + used;
    memcpy(store + used, at, size);
    used += (size + 15) & ~(size_t)15;
    kept_count++;
}

void fuzz_restore(void)
{
    for (int i = 0; i < kept_count; i++)
        memcpy(kept[i].at, kept[i].copy, kept[i].size);
    optind = 0; // a fresh getopt scan, whatever the previous run left
    opterr = 1;
    optarg = NULL;
}

/* ---- output ---------------------------------------------------------------- */

static bool discarding;

// Linked with -Wl,--wrap=OSA_putchar: the usage's rows of stars are written
// one character at a time, each with the console lock and a flush, which
// made a usage cost some 170 console calls. Discarded output skips them.
extern "C" int __real_OSA_putchar(int ch);
extern "C" int __wrap_OSA_putchar(int ch)
{
    return discarding ? (unsigned char)ch : __real_OSA_putchar(ch);
}

static ssize_t discard(void *, const char *, size_t size) { return (ssize_t)size; }

// Fully buffered with a static buffer: a flush after every line, as the
// console layer does, costs one call that does nothing.
static FILE *discarding_stream(char *buf, size_t size)
{
    cookie_io_functions_t io = {NULL, discard, NULL, NULL};
    FILE *fp = fopencookie(NULL, "w", io);
    if (fp == NULL)
        fuzz_fail(__FILE__, __LINE__, "fopencookie");
    setvbuf(fp, buf, _IOFBF, size);
    return fp;
}

void fuzz_init(void)
{
    const char *show = getenv("FUZZ_OUTPUT");
    if (show != NULL && strcmp(show, "1") == 0)
        return;
    // libFuzzer keeps the stderr stream it took at start-up for itself.
    static char out_buf[1 << 14], err_buf[1 << 14];
    stdout = discarding_stream(out_buf, sizeof out_buf);
    stderr = discarding_stream(err_buf, sizeof err_buf);
    discarding = true;
}

FILE *fuzz_open_bytes(const uint8_t *data, size_t size)
{
    // fmemopen refuses a zero size: an empty input is an empty file.
    static const char nothing[1] = "";
    FILE *fp = size == 0 ? fmemopen((void *)nothing, 1, "r") : fmemopen((void *)data, size, "r");
    if (fp == NULL)
        fuzz_fail(__FILE__, __LINE__, "fmemopen");
    if (size == 0)
        fgetc(fp); // now at the end
    return fp;
}

void fuzz_fail(const char *file, int line, const char *what)
{
    // Straight to the descriptor: stderr may be the discarding stream.
    char text[512];
    int n = snprintf(text, sizeof text, "%s:%d: check failed: %s\n", file, line, what);
    if (n > 0 && write(STDERR_FILENO, text, (size_t)n) < 0)
        abort();
    abort();
}
