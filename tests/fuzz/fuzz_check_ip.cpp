// CheckIPAddr over any text, cross-checked against the scan it stands for,
// "%d%c%d%c%d%c%d%c" with seven conversions, '.' separators and parts in
// 0..255, wherever every number fits an int.
#include "fuzz.h"
#include "osa.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

// No run of more than nine digits: every number the scan meets fits an int.
static bool numbers_fit(const char *text)
{
    size_t run = 0;
    for (const char *p = text; *p != '\0'; p++) {
        run = isdigit((unsigned char)*p) ? run + 1 : 0;
        if (run > 9)
            return false;
    }
    return true;
}

static int scan_says(const char *text)
{
    int part[4];
    char sep[4];
    int n = sscanf(text, "%d%c%d%c%d%c%d%c", &part[0], &sep[0], &part[1], &sep[1], &part[2],
                   &sep[2], &part[3], &sep[3]);
    if (n != 7 || sep[0] != '.' || sep[1] != '.' || sep[2] != '.')
        return 0;
    for (int v : part)
        if (v < 0 || v > 255)
            return 0;
    return 1;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char *text = (char *)malloc(size + 1);
    memcpy(text, data, size);
    text[size] = '\0';
    int valid = CheckIPAddr(text);
    FUZZ_CHECK(valid == 0 || valid == 1);
    if (numbers_fit(text))
        FUZZ_CHECK(valid == scan_says(text));
    free(text);
    return 0;
}
