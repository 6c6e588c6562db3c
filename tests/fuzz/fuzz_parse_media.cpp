// media's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_media.cpp"
#include "fuzz.h"

// The options' work is left out: no log is read, no script run.
static void no_show(int) {}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "media", data, size);
    fuzz_call([&] { media_init_param(args.argc, args.argv, no_show); });
    fuzz_args_free(&args);
    return 0;
}
