// ir's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_ir.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(ir_settings);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "ir", data, size);
    if (fuzz_call([&] { ir_init_param(args.argc, args.argv); }) == 0)
        FUZZ_CHECK(ir_settings.mode <= IR_MODE_MAX && ir_settings.delay != 0);
    fuzz_args_free(&args);
    return 0;
}
