// ptz's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_ptz.cpp"
#include "bvptz.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    // The port counts as one that failed to open: the library's calls are
    // checked and refused, nothing is opened or sent.
    pt_link.unusable = 1;
    FUZZ_KEEP(ptz_settings);
    FUZZ_KEEP(pt_link);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "ptz", data, size);
    fuzz_call([&] { ptz_init_param(args.argc, args.argv); });
    FUZZ_CHECK(pt_link.fd < 0);
    fuzz_args_free(&args);
    return 0;
}
