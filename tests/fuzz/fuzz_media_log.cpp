// media's section printers over any log contents. The first byte picks the
// report, the rest is its log.
#include "bv_media.cpp"
#include "fuzz.h"

static const media_report *const reports[] = {
    &media_sys, &media_vb, &media_vpss, &media_vi,     &media_venc,   &media_rc,   &media_acodec,
    &media_ao,  &media_adec, &media_ai, &media_aenc,   &media_ai_vqe, &media_ao_vqe,
};

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const media_report *report = reports[data[0] % ARRAY_SIZE(reports)];
    FILE *fp = fuzz_open_bytes(data + 1, size - 1);
    media_print_sections(fp, report->sections, report->count);
    fclose(fp);
    FUZZ_CHECK(memchr(media_line, '\0', sizeof media_line) != NULL);
    return 0;
}
