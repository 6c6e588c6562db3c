// sdmmc's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_sdmmc.cpp"
#include "fuzz.h"

// The options' work is left out: no card is touched.
static int no_action(int (*)(void)) { return 0; }

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(settings);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "sdmmc", data, size);
    if (fuzz_call([&] { sdmmc_init_param(args.argc, args.argv, no_action); }) == 0)
        FUZZ_CHECK(settings.fill_file_count >= 1 && settings.fill_file_count <= SDMMC_FILL_COUNT_MAX &&
                   settings.fill_file_size_mb >= 1 &&
                   settings.fill_file_size_mb <= SDMMC_FILL_SIZE_MAX);
    fuzz_args_free(&args);
    return 0;
}
