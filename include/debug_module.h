/*
 * The module record, the module table and the usage printer shared by all
 * modules, and the process-wide state of the entry point.
 */
#ifndef DEBUG_MODULE_H
#define DEBUG_MODULE_H

#include <getopt.h>
#include <signal.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MODULE_MAX 26
#define MODULE_ID_MAX 24
#define PROG_NAME_SIZE 256
#define MODULE_NAME_SIZE 64

typedef struct debug_module {
    const char *name;                   /* typed after -M; static text */
    uint8_t id;                         /* orders the table */
    int (*run)(int argc, char **argv);  /* gets the whole argument vector */
    int (*usage)(void);                 /* result not used */
    int (*release)(void);               /* called at shutdown; may be absent */
} debug_module;

typedef struct help_entry {
    const char *label; /* may be empty */
    const char *text;
} help_entry;

/* Entry point state (core/test.cpp). */
extern char prog_name[PROG_NAME_SIZE];
extern char module_name[MODULE_NAME_SIZE];
extern char help_module_name[MODULE_NAME_SIZE];
extern volatile sig_atomic_t stop_flag;

int test_init(void);
int test_parse_args(int argc, char **argv);
void test_usage(void);
int test_run(int argc, char **argv);
int test_deinit(void);
void test_signal_handler(int signo);
/* Copies a missing configuration database back from its read-only copy. */
void db_restore_files(void);

/* Module table (core/module.cpp). */
extern debug_module module_table[MODULE_MAX];
extern int module_count;

void module_register(const debug_module *m);
void module_unregister(const debug_module *m);
debug_module *module_lookup(const char *name);
int module_run(const char *name, int argc, char **argv);
int module_help(const char *name);
void module_print_list(void);
void module_print_usage(unsigned int id, const struct option *options, const help_entry *help,
                        unsigned int count);
void module_release_all(void);
void print_char_repeat(int n, char ch);

/*
 * Numbers of the command line, for the options whose value goes into a
 * field of BITS bits (8 to 32). option_number reads TEXT as
 * strtoul(TEXT, NULL, 0) does (decimal, 0x hexadecimal, 0 octal, a sign, 0
 * without digits), option_decimal as atoi(TEXT) does (a 32-bit field).
 * Each gives the value cut to the field (so "-1" is all ones, as ever) and
 * returns 1 when that loses nothing: from -2^(BITS-1) to 2^BITS - 1. For a
 * number that does not fit (4294967296 in 32 bits, which would be 0) it
 * returns 0, and the option refuses it as it refuses any bad value.
 */
int option_number(const char *text, unsigned int bits, uint32_t *value);
int option_decimal(const char *text, int32_t *value);

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))

/*
 * One registration per module unit, at the bottom of the file:
 *     MODULE_REGISTER(cpu_module)
 * registers the record before main() and unregisters it after main().
 */
#define MODULE_REGISTER(rec)                                                                       \
    __attribute__((constructor)) static void rec##_register(void) { module_register(&(rec)); }   \
    __attribute__((destructor)) static void rec##_unregister(void) { module_unregister(&(rec)); }

/*
 * getopt_long tables end with an all-zero row that the help table does not
 * have: a module's option table has one row more than its help table.
 */
#define OPTION_ROWS(options) (ARRAY_SIZE(options) - 1)

#ifdef __cplusplus
}
#endif

#endif
