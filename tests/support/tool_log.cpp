// Appends its argument to the debug log through OSA_log, as the tool's
// writers do, and exits with 0 or 1 for OSA_log's result. An optional second
// argument gives the byte count (the text is then padded with zero bytes).
// A third, COUNT, writes COUNT records one after another, a writer under
// load: record N is the text, " N" in four digits, dots to the byte count
// and a newline, so that a torn or doubled record shows in the log; all are
// tried, and the status is 1 when any failed.
#include "osa.h"

#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    char record[256] = {0};
    unsigned int len = argc > 2 ? (unsigned int)atoi(argv[2]) : 0;
    if (len > sizeof record)
        len = sizeof record;
    if (argc > 3) {
        int count = atoi(argv[3]);
        if (len < 2)
            return 2;
        int status = 0;
        for (int n = 0; n < count; n++) {
            memset(record, '.', len - 1);
            int used = snprintf(record, len, "%s %04d", argv[1], n);
            if (used > 0 && (unsigned int)used < len - 1)
                record[used] = '.';
            record[len - 1] = '\n';
            if (OSA_log(record, len) != 0)
                status = 1;
        }
        return status;
    }
    snprintf(record, sizeof record, "%s", argv[1]);
    if (argc <= 2)
        len = (unsigned int)strlen(record);
    return OSA_log(record, len) == 0 ? 0 : 1;
}
