// The module table, dispatch by name, the usage printer every module
// shares, and the reading of numbers on the command line.
//
// Registration compares names ignoring case; selection by the user compares
// them exactly.
#include "debug_module.h"
#include "osa.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

debug_module module_table[MODULE_MAX];
int module_count;

debug_module *module_lookup(const char *name)
{
    for (debug_module &slot : module_table)
        if (slot.name != NULL && strcasecmp(slot.name, name) == 0)
            return &slot;
    return NULL;
}

void module_register(const debug_module *m)
{
    if (m == NULL || m->name == NULL || module_lookup(m->name) != NULL)
        return;
    if (module_count >= MODULE_MAX)
        return; // the table is full: slots past the count are always free

    int pos = 0;
    while (pos < module_count && module_table[pos].id <= m->id)
        pos++;
    for (int i = module_count; i > pos; i--)
        module_table[i] = module_table[i - 1];
    module_table[pos] = *m;
    module_count++;
}

void module_unregister(const debug_module *m)
{
    if (m == NULL || m->name == NULL)
        return;
    debug_module *slot = module_lookup(m->name);
    if (slot == NULL)
        return;
    // Close the gap so that slots 0..count-1 stay occupied and sorted.
    int pos = (int)(slot - module_table);
    for (int i = pos; i + 1 < module_count; i++)
        module_table[i] = module_table[i + 1];
    module_count--;
    memset(&module_table[module_count], 0, sizeof module_table[0]);
}

static const debug_module *module_find_exact(const char *name)
{
    for (int i = 0; i < module_count; i++)
        if (strcmp(module_table[i].name, name) == 0)
            return &module_table[i];
    return NULL;
}

int module_run(const char *name, int argc, char **argv)
{
    const debug_module *m = module_find_exact(name);
    return m != NULL ? m->run(argc, argv) : 0;
}

int module_help(const char *name)
{
    const debug_module *m = module_find_exact(name);
    if (m != NULL)
        m->usage();
    return 0;
}

void module_print_list(void)
{
    OSA_printf("modules name:\n");
    for (int i = 0; i < module_count; i++) {
        OSA_printf("\t%s", module_table[i].name);
        if ((i + 1) % 8 == 0)
            OSA_printf("\n");
    }
    OSA_printf("\n");
}

// isalpha() of the POSIX locale, whatever locale the process is in.
static int is_option_letter(int value)
{
    return (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z');
}

void module_print_usage(unsigned int id, const struct option *options, const help_entry *help,
                        unsigned int count)
{
    if (id > MODULE_ID_MAX)
        return;
    const debug_module *m = NULL;
    for (int i = 0; i < module_count && m == NULL; i++)
        if (module_table[i].id == id)
            m = &module_table[i];
    if (m == NULL)
        return; // only a module's own, registered number is ever passed

    print_char_repeat(80, '*');
    OSA_printf("\n%s usage:\n", m->name);
    OSA_printf("%s -M %s [option] \n", prog_name, m->name);
    for (unsigned int i = 0; i < count; i++) {
        if (is_option_letter(options[i].val))
            OSA_printf("-%c  ", options[i].val);
        else
            OSA_printf("    ");
        OSA_printf("--%s", options[i].name);
        if (help[i].label[0] != '\0') {
            OSA_printf(" [%s]", help[i].label);
            OSA_printf("\t%s\n", help[i].text);
        } else {
            OSA_printf("\t\t%s\n", help[i].text);
        }
    }
    print_char_repeat(80, '*');
    OSA_printf("\n");
}

void module_release_all(void)
{
    for (int i = 0; i < module_count; i++)
        if (module_table[i].name != NULL && module_table[i].release != NULL)
            module_table[i].release();
}

void print_char_repeat(int n, char ch)
{
    for (int i = 0; i < n; i++)
        OSA_putchar(ch);
}

/* ---- numbers of the command line ------------------------------------------ */

// strtoull reads what strtoul reads, with 64 bits whatever the machine's
// long: "-1" is all ones, and a number past 64 bits is ERANGE.
int option_number(const char *text, unsigned int bits, uint32_t *value)
{
    char *end;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    bool range = errno != ERANGE;
    const char *p = text;
    while (isspace((unsigned char)*p))
        p++;
    bool negative = *p == '-' && end != text;
    unsigned long long ones = bits >= 32 ? 0xFFFFFFFFull : (1ull << bits) - 1;
    // -2^(bits-1) .. -0 or 0 .. 2^bits - 1: the cut keeps every bit of it.
    bool fits = range && (negative ? 0ull - v <= ones / 2 + 1 : v <= ones);
    *value = (uint32_t)(v & ones);
    return fits ? 1 : 0;
}

int option_decimal(const char *text, int32_t *value)
{
    errno = 0;
    long long v = strtoll(text, NULL, 10);
    bool fits = errno != ERANGE && v >= INT32_MIN && v <= INT32_MAX;
    *value = (int32_t)(uint32_t)(unsigned long long)v;
    return fits ? 1 : 0;
}
