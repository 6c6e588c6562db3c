// db's statement-file reader over any file: every line it calls whole is the
// file's own bytes at that place, newline included, and nothing is lost or
// torn between lines.
#include "bv_db.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *fp = fuzz_open_bytes(data, size);
    char line[DB_LINE_SIZE];
    size_t at = 0; // where the next line starts in the input
    line_kind kind;
    while ((kind = db_read_line(fp, line, sizeof line)) != LINE_END) {
        const uint8_t *in = data;
        size_t in_size = size;
        FUZZ_CHECK(at < in_size);
        const uint8_t *nl = (const uint8_t *)memchr(in + at, '\n', in_size - at);
        size_t end = nl != NULL ? (size_t)(nl - in) + 1 : in_size;
        size_t len = end - at;
        bool has_nul = memchr(in + at, '\0', len) != NULL;
        // A line of DB_LINE_SIZE - 1 characters and its newline is whole.
        size_t kept = (nl != NULL && len == DB_LINE_SIZE) ? len - 1 : len;
        if (kept >= DB_LINE_SIZE) {
            FUZZ_CHECK(kind == LINE_TOO_LONG && line[0] == '\0');
        } else {
            FUZZ_CHECK(kind == (has_nul ? LINE_WITH_NUL : LINE_WHOLE));
            FUZZ_CHECK(memcmp(line, in + at, kept) == 0 && line[kept] == '\0');
        }
        at = end;
    }
    FUZZ_CHECK(at == size);
    fclose(fp);
    return 0;
}
