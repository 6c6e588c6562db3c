// The IIO reading in millivolts: the four characters read from the channel's
// raw file, whatever they are, scale without overflow.
#include "bv_adc.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char text[5] = {0};
    memcpy(text, data, size < 4 ? size : 4);
    int mv = adc_millivolts(text);
    // Four characters hold -999..9999.
    FUZZ_CHECK(mv >= -999 * 580 / 1900 && mv <= 9999 * 580 / 1900);
    FUZZ_CHECK(mv == atoi(text) * 580 / 1900);
    return 0;
}
