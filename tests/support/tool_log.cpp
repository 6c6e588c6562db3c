// Appends its argument to the debug log through OSA_log, as the tool's
// writers do, and exits with 0 or 1 for OSA_log's result. An optional second
// argument gives the byte count (the text is then padded with zero bytes).
#include "osa.h"

#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    char record[256] = {0};
    snprintf(record, sizeof record, "%s", argv[1]);
    unsigned int len = argc > 2 ? (unsigned int)atoi(argv[2]) : (unsigned int)strlen(record);
    if (len > sizeof record)
        len = sizeof record;
    return OSA_log(record, len) == 0 ? 0 : 1;
}
