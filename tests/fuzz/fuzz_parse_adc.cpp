// adc's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_adc.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(adc_settings);
    FUZZ_KEEP(adc_req);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "adc", data, size);
    int result = 0;
    if (fuzz_call([&] { result = adc_init_param(args.argc, args.argv); }) == 0 && result == 0)
        FUZZ_CHECK(adc_settings.delay != 0 && adc_settings.channel == 0);
    fuzz_args_free(&args);
    return 0;
}
