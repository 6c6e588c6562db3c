// What every fuzz target shares: the argument vector built from the fuzz
// bytes, exit() caught so that a parser that ends the process hands control
// back, the module state put back before each run, and a console that
// discards what the tool prints (FUZZ_OUTPUT=1 shows it).
#ifndef FUZZ_H
#define FUZZ_H

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

enum { FUZZ_WORDS_MAX = 32 };

// argv = "debug -M <module>" + the fuzz bytes split at NUL into words.
struct fuzz_args {
    int argc;
    char *argv[3 + FUZZ_WORDS_MAX + 1];
    char *text; // the words, one allocation of exactly their size
};

void fuzz_args_build(fuzz_args *args, const char *module, const uint8_t *data, size_t size);
void fuzz_args_free(fuzz_args *args);

// Output streams replaced, unless FUZZ_OUTPUT is set. Call first.
void fuzz_init(void);

// Module state kept as it is at start-up and put back by fuzz_restore().
void fuzz_keep(void *at, size_t size);
#define FUZZ_KEEP(var) fuzz_keep(&(var), sizeof(var))
// Puts the kept state back and resets getopt; also done by fuzz_call().
void fuzz_restore(void);

// Armed while a call runs: exit() jumps back here instead of ending.
extern jmp_buf fuzz_exit_point;
extern int fuzz_exit_armed;
extern int fuzz_exit_status;

// Runs CALL with the state restored; 1 when it called exit(), else 0.
template <typename Call> int fuzz_call(Call call)
{
    fuzz_restore();
    if (setjmp(fuzz_exit_point) != 0) {
        fuzz_exit_armed = 0;
        return 1;
    }
    fuzz_exit_armed = 1;
    call();
    fuzz_exit_armed = 0;
    return 0;
}

// A read-only stream over the bytes (fmemopen; an empty input reads as EOF).
FILE *fuzz_open_bytes(const uint8_t *data, size_t size);

// Stops the run with a report that libFuzzer records as a finding.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fuzz_fail(__FILE__, __LINE__, #cond);                                                  \
    } while (0)
[[noreturn]] void fuzz_fail(const char *file, int line, const char *what);

#endif
