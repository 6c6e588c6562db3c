// CheckIPAddr: is a string a dotted-quad IPv4 address?
//
// Accepts what the scan "%d%c%d%c%d%c%d%c" accepts when it yields exactly
// seven conversions with '.' separators and parts in 0..255: blanks before a
// number, a sign and leading zeros are allowed ("010" is 10, "-0" is 0), and
// nothing may follow the fourth number. Numbers too large for an int are
// refused instead of overflowing.
#include "osa.h"

#include <ctype.h>

// One "%d": optional blanks, optional sign, at least one digit. Values that
// leave 0..255 are clamped to 256, which the caller refuses.
static int scan_part(const char **p, int *value)
{
    const char *s = *p;
    while (isspace((unsigned char)*s))
        s++;
    int negative = 0;
    if (*s == '+' || *s == '-')
        negative = *s++ == '-';
    if (!isdigit((unsigned char)*s))
        return 0;
    int v = 0;
    while (isdigit((unsigned char)*s)) {
        if (v <= 255)
            v = v * 10 + (*s - '0');
        s++;
    }
    if (v > 255)
        v = 256;
    *value = negative && v != 0 ? -1 : v;
    *p = s;
    return 1;
}

extern "C" int CheckIPAddr(const char *str)
{
    if (str == NULL)
        return 0;
    const char *p = str;
    for (int part = 0; part < 4; part++) {
        int value;
        if (!scan_part(&p, &value) || value < 0 || value > 255)
            return 0;
        if (part < 3 && *p++ != '.')
            return 0;
    }
    return *p == '\0';
}
